// The small pieces under everything: which list lines are web URLs, the names of output lists, and how a list
// takes its name in a folder that other runs write to.
#include "tests/support/testkit.h"
#include "util/memorypages.h"
#include "util/outputfilename.h"
#include "util/outputlist.h"
#include "util/outputlists.h"
#include "util/weburl.h"

class UtilTest : public QObject
{
    Q_OBJECT

private slots:
    // Which list lines the command line fetches, and as what.
    void webUrl_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("url"); // empty: the line is skipped

        QTest::newRow("https, port, query kept; blanks and case of the host go")
            << " https://WWW.Example.com:8443/List.php?p=2 \t"
            << "https://www.example.com:8443/List.php?p=2";
        QTest::newRow("IPv4 host") << "http://10.1.2.3/x"
                                   << "http://10.1.2.3/x";
        QTest::newRow("long top-level name, many labels") << "https://a.b.openproxy.space/list/http"
                                                          << "https://a.b.openproxy.space/list/http";
        QTest::newRow("no scheme") << "www.example.com/list.html"
                                   << "";
        QTest::newRow("other scheme") << "ftp://www.example.com/list.txt"
                                      << "";
        QTest::newRow("one label") << "http://localhost/list"
                                   << "";
        QTest::newRow("group over 255") << "http://10.1.2.256/"
                                        << "";
        QTest::newRow("IPv6") << "http://[::1]/"
                              << "";
        QTest::newRow("credentials") << "http://me:pw@www.example.com/"
                                     << "";
        QTest::newRow("port out of range") << "http://www.example.com:65536/"
                                           << "";
        QTest::newRow("port 0") << "http://www.example.com:0/"
                                << "";
    }

    void webUrl()
    {
        QFETCH(QString, line);
        QFETCH(QString, url);
        QCOMPARE(WebUrl::fromText(line).toString(), url);
    }

    // Names of output lists: built while the list is written and when it is done, and read back by the Proxy
    // Lists tab the way it always has.
    void outputFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDate>("date");    // valid: the name is also what the fields below build
        QTest::addColumn<QString>("lines"); // null: not the name of a list
        QTest::addColumn<qint64>("runStamp");
        QTest::addColumn<qint64>("startTime");

        QTest::newRow("built and read back")
            << "37-2012-07-03-1341302400-1341306000.txt" << QDate(2012, 7, 3) << "37" << 1341302400LL << 1341306000LL;
        QTest::newRow("month before day, both with their zero")
            << "1-2012-01-09-1341302400-1341302401.txt" << QDate(2012, 1, 9) << "1" << 1341302400LL << 1341302401LL;
        QTest::newRow("largest count listed") << "99999-2012-12-31-1356998399-1356998400.txt" << QDate(2012, 12, 31)
                                              << "99999" << 1356998399LL << 1356998400LL;
        QTest::newRow("count kept as written")
            << "00042-2012-07-04-1341302400-1341392461.txt" << QDate() << "00042" << 1341302400LL << 1341392461LL;
        QTest::newRow(".TXT: the start time reads as 0")
            << "4-2012-07-03-1341302400-1341306000.TXT" << QDate() << "4" << 1341302400LL << 0LL;
        QTest::newRow("times beyond an int read as 0")
            << "7-2012-07-03-2147483648-2147483647.txt" << QDate() << "7" << 0LL << 2147483647LL;
        QTest::newRow("six-digit count") << "123456-2012-07-03-1341302400-1341306000.txt" << QDate() << QString() << 0LL
                                         << 0LL;
        QTest::newRow("start time of nine digits")
            << "3-2012-07-03-1341302400-134130600.txt" << QDate() << QString() << 0LL << 0LL;
        QTest::newRow("still being written")
            << "2012-07-03-1341302400-1341306000.txt" << QDate() << QString() << 0LL << 0LL;
        QTest::newRow("another extension behind")
            << "3-2012-07-03-1341302400-1341306000.txt.bak" << QDate() << QString() << 0LL << 0LL;
        QTest::newRow("letters for digits")
            << "3-2012-o7-03-1341302400-1341306000.txt" << QDate() << QString() << 0LL << 0LL;
    }

    void outputFileName()
    {
        QFETCH(QString, name);
        QFETCH(QDate, date);
        QFETCH(QString, lines);
        QFETCH(qint64, runStamp);
        QFETCH(qint64, startTime);

        const std::optional<OutputFileName::Listed> read = OutputFileName::parse(name);
        QCOMPARE(read.has_value(), !lines.isNull());
        if (read) {
            QCOMPARE(read->lines, lines);
            QCOMPARE(read->runStamp, runStamp);
            QCOMPARE(read->startTime, startTime);
        }
        if (date.isValid()) {
            const OutputFileName built{date, quint32(runStamp), startTime};
            QCOMPARE(built.finished(lines.toInt()), name);
            QCOMPARE(built.unfinished(), name.section(u'-', 1));
        }
    }

    // A list never opens, empties or renames over a file of another: a second whose name is taken is passed over.
    void outputLists_data()
    {
        QTest::addColumn<QString>("present"); // a file of the current second's name; %1: its unfinished name
        QTest::addColumn<bool>("later");      // the list takes a later second

        QTest::newRow("free") << QString() << false;
        QTest::newRow("another list being written") << u"%1"_s << true;
        QTest::newRow("another list of the second finished") << u"12-%1"_s << true;
        QTest::newRow("a list of another stamp") << u"12-%1.old"_s << false;
    }

    void outputLists()
    {
        QFETCH(QString, present);
        QFETCH(bool, later);
        const QTemporaryDir folder;
        constexpr quint32 stamp = 1341302400;
        QTest::qWait(int(1000 - QDateTime::currentMSecsSinceEpoch() % 1000));
        const OutputFileName now{QDate::currentDate(), stamp, QDateTime::currentSecsSinceEpoch()};
        const QString other =
            present.isEmpty() ? QString() : QDir(folder.path()).filePath(present.arg(now.unfinished()));
        if (!present.isEmpty())
            QVERIFY(writeFile(other, "theirs"));

        QFile file;
        OutputFileName name;
        QString failure;
        QVERIFY2(OutputLists::create(&file, folder.path(), stamp, &name, &failure), qPrintable(failure));
        QCOMPARE(name.startTime > now.startTime, later);
        QVERIFY(file.write("ours") == 4);
        file.close();
        const QString ours = QDir(folder.path()).filePath(name.unfinished());
        if (!present.isEmpty())
            QCOMPARE(readFile(other), "theirs");

        // The final name of a list that exists is never renamed over.
        QVERIFY(writeFile(QDir(folder.path()).filePath(name.finished(4)), "finished"));
        QVERIFY(!OutputLists::renameNoReplace(ours, QDir(folder.path()).filePath(name.finished(4))));
        QCOMPARE(readFile(QDir(folder.path()).filePath(name.finished(4))), "finished");
        QVERIFY(OutputLists::renameNoReplace(ours, QDir(folder.path()).filePath(name.finished(5))));
        QCOMPARE(readFile(QDir(folder.path()).filePath(name.finished(5))), "ours");
        QVERIFY(!QFile::exists(ours));
    }

    void outputLists_folderMissing_failsWithTheReason()
    {
        QFile file;
        OutputFileName name;
        QString failure;
        QVERIFY(!OutputLists::create(&file, u"/nonexistent/output"_s, 1, &name, &failure));
        QCOMPARE(failure, u"No such file or directory"_s);
    }

    // A list is handed to the file in pieces, and the disk is started on it as it grows: every byte lands once, in
    // order, whatever the lines' sizes against the pieces'.
    void outputList_keepsEveryByte_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("length");

        QTest::newRow("one line") << 1 << 20;
        QTest::newRow("a piece exactly") << 16 << 1024;
        QTest::newRow("lines across pieces") << 1000 << 37;
        QTest::newRow("past the write-back's step, twice") << 120000 << 19;
        QTest::newRow("lines longer than the room kept") << 3 << 40000;
    }

    void outputList_keepsEveryByte()
    {
        QFETCH(int, lines);
        QFETCH(int, length);
        const QTemporaryDir folder;
        OutputList list;
        QString failure;
        QVERIFY2(list.create(folder.path(), 1341302400, &failure), qPrintable(failure));
        QByteArray expected;
        for (int i = 0; i < lines; ++i) {
            const QByteArray line = QByteArray::number(i).leftJustified(length - 2, '.') + "\r\n";
            QVERIFY(list.write(line));
            expected += line;
        }
        QString path;
        QVERIFY2(list.finish(lines, &path), qPrintable(list.failure()));
        QCOMPARE(readFile(path), expected);
    }

    // Pages kept while they fit the budget, a page of the same name counted once; pages given back do not replace
    // a newer one of their name.
    void memoryPages_data()
    {
        QTest::addColumn<QStringList>("puts"); // name=size
        QTest::addColumn<QString>("kept");     // put()'s answers, one letter a page
        QTest::newRow("fits exactly") << QStringList{"a=40", "b=60"} << u"yy"_s;
        QTest::newRow("one byte over") << QStringList{"a=40", "b=61", "c=60"} << u"yny"_s;
        QTest::newRow("a page replaced counts once") << QStringList{"a=90", "a=100", "b=1"} << u"yyn"_s;
        QTest::newRow("a page larger than the budget") << QStringList{"a=101"} << u"n"_s;
    }

    void memoryPages()
    {
        QFETCH(QStringList, puts);
        QFETCH(QString, kept);
        MemoryPages pages(100);
        QString answers;
        for (const QString& put : puts)
            answers += pages.put(put.section(u'=', 0, 0), QByteArray(put.section(u'=', 1).toInt(), 'x')) ? u'y' : u'n';
        QCOMPARE(answers, kept);

        const QList<MemoryPages::Page> taken = pages.takeAll();
        QVERIFY(pages.takeAll().isEmpty());
        // The whole budget is free again; what is given back counts against it, and a newer page keeps its place.
        QVERIFY(pages.put(u"a"_s, "newer"));
        pages.giveBack(taken);
        QHash<QString, QByteArray> after;
        for (const MemoryPages::Page& page : pages.takeAll())
            after.insert(page.name, page.text);
        QCOMPARE(after.value(u"a"_s), QByteArray("newer"));
        QCOMPARE(after.size(), taken.size() + (taken.isEmpty() ? 1 : 0));
    }

    // Kept pages count against the budget they share with the fetches, and give it back when taken.
    void memoryPages_sharedBudget()
    {
        ByteBudget shared(50);
        MemoryPages pages(100, &shared);
        QVERIFY(pages.hasRoom(12));
        QVERIFY(!pages.hasRoom(13)); // more than an eighth of the pages' own budget
        QVERIFY(pages.put(u"a"_s, QByteArray(40, 'x')));
        QCOMPARE(shared.held(), 40);
        QVERIFY(!pages.hasRoom(11));
        QVERIFY(!pages.put(u"b"_s, QByteArray(20, 'x')));
        QVERIFY(pages.put(u"a"_s, QByteArray(10, 'x')));
        QCOMPARE(shared.held(), 10);
        const QList<MemoryPages::Page> taken = pages.takeAll();
        QCOMPARE(shared.held(), 0);
        pages.giveBack(taken);
        QCOMPARE(shared.held(), 10);
    }
};

QTEST_MAIN(UtilTest)
#include "tst_util.moc"
