// The small pieces under everything: which list lines are web URLs, and the names of output lists.
#include "tests/support/testkit.h"
#include "util/outputfilename.h"
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
};

QTEST_MAIN(UtilTest)
#include "tst_util.moc"
