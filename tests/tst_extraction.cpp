// The extraction thread over stored pages: the output file, its name and lines, Stop; its page scan against the plain
// reading; and the reading of a reply: its text, the address and port fields, the pairs a page's structure makes.
#include "extraction/distinctproxies.h"
#include "extraction/leechproxies.h"
#include "extraction/pagescanner.h"
#include "extraction/pagetext.h"
#include "extraction/pairreader.h"
#include "extraction/proxytext.h"
#include "extraction/proxytextset.h"
#include "extraction/visibletext.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/literalscan.h"
#include "tests/support/runfiles.h"
#include "tests/support/testkit.h"

#include <QRegularExpression>

#include <atomic>
#include <mutex>

using Pages = QList<QPair<QString, QByteArray>>;
Q_DECLARE_METATYPE(Pages)

namespace {

// Set by the worker as its last act. A global, not a capture: the connection holding the slot is freed on the GUI
// thread, and a read of a capture on the worker would race with that in the sanitizer's eyes.
std::atomic<bool> runEnded{false};

} // namespace

class ExtractionTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        QVERIFY(QDir().mkpath(UserFolders::dataFolder()) && QDir().mkpath(UserFolders::outputFolder()));
        m_config = std::make_unique<CConfig>();
        // Signals left over from a test that failed half-way must not count here.
        QCoreApplication::sendPostedEvents();
        m_signals.clear();
        m_written.clear();
    }

    void cleanup()
    {
        m_config.reset();
        m_home.reset();
    }

    void extraction_data()
    {
        QTest::addColumn<Pages>("pages"); // none: no page folder at all
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("late"); // a page stored after the first line, as by a harvest started meanwhile
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("left"); // in the page folder after the run

        const Pages two = {{"0-1.dat", "1.2.3.4:80\n1.2.3.4:80\n5.6.7.8:3128\n"}, {"0-2.dat", "\n1.2.3.4:80\n"}};
        const QByteArray twoLines = "1.2.3.4:80\r\n5.6.7.8:3128\r\n1.2.3.4:80\r\n";
        QTest::newRow("late page stays") << two << "A:P" << u"0-3.dat"_s << twoLines << QStringList{"0-3.dat"};
        QTest::newRow("late page under a name read stays")
            << two << "A:P" << u"0-1.dat"_s << twoLines << QStringList{"0-1.dat"};
        // " b" and "-x" sort before "." and "..", which are not skipped by position; hidden pages are unfinished.
        QTest::newRow("pages in name order, hidden ones left")
            << Pages{{"9-1.dat", "9.9.9.9:99"}, {"10-1.dat", "1.0.0.1:10"}, {"1-2.dat", "1.1.1.1:11"},
                     {"-x.dat", "2.2.2.2:22"},  {" b.dat", "3.3.3.3:33"},   {".hidden.dat", "7.7.7.7:77"}}
            << "A:P" << QString()
            << QByteArray("3.3.3.3:33\r\n2.2.2.2:22\r\n1.1.1.1:11\r\n1.0.0.1:10\r\n9.9.9.9:99\r\n")
            << QStringList{".hidden.dat"};
        // The template's letters: A address, P port, B binary, C class, T tab; what one puts in is not replaced again.
        QTest::newRow("class edges")
            << Pages{{"0-1.dat", "0.9.9.9:80 127.1.1.1:80 128.1.1.1:80 191.1.1.1:80 192.1.1.1:80 223.1.1.1:80 "
                                 "224.1.1.1:80 239.1.1.1:80 240.1.1.1:80 999.1.1.1:80"}}
            << "C" << QString() << QByteArray("A\r\nA\r\nB\r\nB\r\nC\r\nC\r\nD\r\nD\r\nE\r\nE\r\n") << QStringList();
        QTest::newRow("binary: decimal, eight digits, more not cut")
            << Pages{{"0-1.dat", "010.127.128.255:80 0.1.256.999:80"}} << "B" << QString()
            << QByteArray("00001010 01111111 10000000 11111111\r\n00000000 00000001 100000000 1111100111\r\n")
            << QStringList();
        QTest::newRow("every upper-case letter of a word, beyond Latin-1")
            << Pages{{"0-1.dat", "66.24.3.180:08080"}}
            << QString::fromUtf8("CAPTAIN a:p b c t \u00e9 \u20ac \U0001F600") << QString()
            << QByteArray("A66.24.3.18008080\t66.24.3.180IN a:p b c t \xe9 ? ??\r\n") << QStringList();
        QTest::newRow("address and port twice, beyond Latin-1, no binary or class")
            << Pages{{"0-1.dat", "66.24.3.180:08080"}} << QString::fromUtf8("A:P TA\u20acP \U0001F600") << QString()
            << QByteArray("66.24.3.180:08080 \t66.24.3.180?08080 ??\r\n") << QStringList();
        QTest::newRow("lines longer than the list's room")
            << Pages{{"0-1.dat", "1.2.3.4:80 5.6.7.8:81"}} << QString(40000, u'x') + u"A P"_s << QString()
            << QByteArray(40000, 'x') + "1.2.3.4 80\r\n" + QByteArray(40000, 'x') + "5.6.7.8 81\r\n"
            << QStringList();
        QTest::newRow("no proxies: the pages stay")
            << Pages{{"0-1.dat", "1.2.3.4\n80\n1.2.3:80\n"}, {"0-2.dat", ""}} << "A:P" << QString() << QByteArray()
            << QStringList{"0-1.dat", "0-2.dat"};
        QTest::newRow("no page folder") << Pages() << "A:P" << QString() << QByteArray() << QStringList();
    }

    void extraction()
    {
        QFETCH(Pages, pages);
        QFETCH(QString, format);
        QFETCH(QString, late);
        QFETCH(QByteArray, expected);
        QFETCH(QStringList, left);
        if (pages.isEmpty())
            QVERIFY(pageFolder().removeRecursively());
        for (const auto& [name, content] : std::as_const(pages))
            writePage(name, content);
        m_config->setOutputFormat(format);
        CLeechProxies extraction;
        prepare(extraction, [path = late.isEmpty() ? QString() : pageFolder().filePath(late)](int line) {
            if (line == 1 && !path.isEmpty())
                writeFile(path, "9.9.9.9:99");
        });
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        extraction.start();
        finishRun(&extraction);

        QCOMPARE(pageNames(), left);
        const QMap<QString, QByteArray> files = outputFiles();
        const int lines = int(expected.count("\r\n"));
        if (lines == 0) {
            QCOMPARE(files.keys(), QStringList());
            // Without a page folder there is no run to tell of.
            QCOMPARE(m_signals, pages.isEmpty() ? QStringList() : QStringList{"none"});
            return;
        }
        // Count, day, run stamp and start second of the run.
        const QString name = files.keys().value(0);
        const qint64 start = name.section(QLatin1Char('-'), 5).chopped(4).toLongLong();
        QVERIFY(start >= before && start <= QDateTime::currentSecsSinceEpoch());
        const QString day = QDateTime::fromSecsSinceEpoch(start).toString(u"yyyy-MM-dd"_s);
        QCOMPARE(files.keys(), QStringList{u"%1-%2-%3-%4.txt"_s.arg(lines).arg(day).arg(runStamp).arg(start)});
        QCOMPARE(files.value(name), expected);
        QCOMPARE(m_signals, QStringList(lines, u"new"_s) << u"complete"_s);
        QCOMPARE(m_written, QStringList{QDir(UserFolders::outputFolder()).filePath(name)});
    }

    void extraction_twoRunsSameSecond_newNameAndTemplateReadPerRun()
    {
        m_config->setOutputFormat("A:P");
        CLeechProxies extraction;
        // A template changed while a run goes on applies to the next run only.
        prepare(extraction, [this](int) { m_config->setOutputFormat("P A"); });
        // The second run starts at once, with as many lines: the same second must not give the same name.
        for (int run = 0; run < 2; ++run) {
            writePage("0-1.dat", "1.2.3.4:80\n5.6.7.8:81");
            extraction.start();
            finishRun(&extraction);
        }
        const QMap<QString, QByteArray> files = outputFiles();
        QCOMPARE(files.values(), QList<QByteArray>({"1.2.3.4:80\r\n5.6.7.8:81\r\n", "80 1.2.3.4\r\n81 5.6.7.8\r\n"}));
        QVERIFY(files.firstKey().startsWith("2-") && files.lastKey().startsWith("2-"));
    }

    void extraction_stop_keepsTheLinesWrittenBefore_data()
    {
        // Stop is pressed while the worker waits after its third line; a destroyed object stops a worker writing on.
        QTest::addColumn<bool>("destroy");
        QTest::newRow("Stop after the third line") << false;
        QTest::newRow("destroyed while writing") << true;
    }

    void extraction_stop_keepsTheLinesWrittenBefore()
    {
        QFETCH(bool, destroy);
        const QStringList all = manyProxies(0, 80000);
        writePage(u"0-1.dat"_s, all.join(u'\n').toLatin1());
        QSemaphore reached;
        QSemaphore stopped;
        auto extraction = std::make_unique<CLeechProxies>();
        prepare(*extraction, [&](int line) {
            if (line == 3) {
                reached.release();
                if (!destroy)
                    stopped.acquire();
            }
        });
        extraction->start();
        QVERIFY(reached.tryAcquire(1, 60000));
        if (destroy)
            extraction.reset(); // must stop the run and wait for it, not leave it writing into a freed object
        else
            extraction->closeOutput();
        stopped.release();
        finishRun(extraction.get());

        const int counted = int(m_signals.count("new"));
        QVERIFY2(counted >= 3 && counted < 80000, "the run was not stopped");
        if (!destroy)
            QCOMPARE(counted, 3);
        QCOMPARE(m_signals.last(), u"complete"_s);
        // Exactly the first lines of a full run, each one whole, in a file that counts them.
        const QMap<QString, QByteArray> files = outputFiles();
        QCOMPARE(files.size(), 1);
        QCOMPARE(files.firstKey().section(QLatin1Char('-'), 0, 0), QString::number(counted));
        QCOMPARE(files.first(), (all.mid(0, counted).join(u"\r\n"_s) + u"\r\n"_s).toLatin1());
        QCOMPARE(pageNames(), QStringList());
        QCOMPARE(m_written.size(), destroy ? 0 : 1);
    }

    void scanner_matchesLiteralScan_data()
    {
        // Pages are drawn from pieces; small alphabets make removals cut and join texts in every way.
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("contained proxies") << QStringList{
            "1.2.3.4:80", "11.2.3.4:8080", "1.2.3.4:808", "2.3.4:80", "1.2.3.44:80", "1", "8", ".", ":", "\n"};
        QTest::newRow("self-overlapping") << QStringList{"11.2.3.4:11", ".2.3.4:11", "11", "1", ".", ":", "1.1.1.1:11"};
        QTest::newRow("long ports and zeros")
            << QStringList{"0.0.0.0:00", "000.0.00.0:", "123456", "0", ".0", ":0", "999.999.999.999:99999"};
        QTest::newRow("joins far left") << QStringList{"1.2.3.4:", "12.3.4.5:", "5.6.7.8:99999", "5.6.7.8:9", "12",
                                                       "1",        "."};
    }

    void scanner_matchesLiteralScan()
    {
        static const QRegularExpression proxyPattern(u"\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}:\\d{2,5}"_s);
        QFETCH(QStringList, pieces);
        QRandomGenerator random(20120703);
        // One scanner of each kind for every page, as a run has: what one page leaves in it must not reach the
        // next. Short tokens closed up after each removal, long ones marked: none, all, or past a few proxies.
        PageScanner scanners[] = {PageScanner(), PageScanner(0), PageScanner(40)};
        int proxies = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray page;
            for (int count = int(random.bounded(1, 40)); count > 0; --count)
                page += pieces.at(int(random.bounded(pieces.size()))).toLatin1();
            const QStringList expected = LiteralScan::scanPage(QString::fromLatin1(page));
            proxies += int(expected.size());
            for (PageScanner& scanner : scanners) {
                QStringList found;
                QByteArray scanned = page;
                scanner.scan(scanned, [&](const char* proxy, int length, int colon) {
                    found << QString::fromLatin1(proxy, length);
                    return proxy[colon] == ':';
                });
                QVERIFY2(found == expected, page.constData());
            }
            // Every text, repeats too, without removals: the pattern's own matches, left to right.
            QStringList every;
            PageScanner::scanEveryProxy(page, [&](const char* proxy, int length, int colon) {
                every << QString::fromLatin1(proxy, length);
                return proxy[colon] == ':';
            });
            QStringList matches;
            for (auto it = proxyPattern.globalMatch(QString::fromLatin1(page)); it.hasNext();)
                matches << it.next().captured();
            QVERIFY2(every == matches, page.constData());
        }
        QVERIFY(proxies > 1000);
    }

    // A page as a browser shows it: what markup parts stays apart, what it only wraps comes together, and what is
    // not shown (attributes, scripts, the head) is not there.
    void visibleText_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("text");

        QTest::newRow("address as a link's text, port after the link")
            << QByteArray("<td><a href=\"https://ipaddress.example/186.94.46.203\" title=\"More about 186.94.46.203\">"
                          "186.94.46.203</a>:8080</td>")
            << QByteArray("\t186.94.46.203:8080");
        QTest::newRow("a span between address and colon, a bold port")
            << QByteArray("<p>1.2.3.4<span class=\"c\"></span>:<b>80</b></p>") << QByteArray("\n1.2.3.4:80\n");
        // Style sheets may hide the 7; the pieces are not joined into an address nobody sees.
        QTest::newRow("decoy digits between spans stay apart")
            << QByteArray("<span>12</span><span class=\"h\">7</span><span>.34.5.6</span>:80")
            << QByteArray("12\n7\n.34.5.6:80");
        QTest::newRow("rows and cells") << QByteArray("<table>\n <tr>\n  <td>1.2.3.4</td>\n  <td>8080</td>\n </tr>\n"
                                                      " <tr><th>5.6.7.8</th><th>3128</th></tr></table>")
                                        << QByteArray("\n\t1.2.3.4\t8080\n\t5.6.7.8\t3128\n");
        QTest::newRow("not shown: head, script, style, template, title, comments")
            << QByteArray("<html><head><title>1.1.1.1:80</title><meta content=\"2.2.2.2:80\"></head><body>"
                          "<script>var p = '3.3.3.3:80';</script><style>.x{}</style><template>4.4.4.4:80</template>"
                          "5.5.5.5<!-- 6 -->:80<noscript>7.7.7.7:80</noscript></body></html>")
            << QByteArray("\n5.5.5.5:80\n7.7.7.7:80\n");
        QTest::newRow("entities decoded, escaped markup is text")
            << QByteArray("1.2.3.4&#58;8080&nbsp;&lt;td&gt;5.6.7.8&amp;&#x3a;&bogus;")
            << QByteArray("1.2.3.4:8080 <td>5.6.7.8&:&bogus;");
        QTest::newRow("pre keeps its lines, elsewhere blanks are one")
            << QByteArray("a  \n b<pre>1.2.3.4   80\n5.6.7.8   3128\n</pre>")
            << QByteArray("a b\n1.2.3.4   80\n5.6.7.8   3128\n");
        QTest::newRow("a lone < is text, an unended script hides the rest")
            << QByteArray("1 < 2 <3 <script>9.9.9.9:80") << QByteArray("1 < 2 <3 ");
        QTest::newRow("a head without an end shows what follows")
            << QByteArray("<head>1.2.3.4:80") << QByteArray("1.2.3.4:80");
    }

    void visibleText()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, text);
        QCOMPARE(VisibleText::of(page), text);
    }

    void visibleText_isHtml_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("html");

        QTest::newRow("said by the type") << QByteArray("1.2.3.4:80") << QByteArray("text/HTML; charset=utf-8") << true;
        QTest::newRow("first markup a tag") << QByteArray(" \n<TABLE><tr>") << QByteArray("text/plain") << true;
        QTest::newRow("doctype after a declaration")
            << QByteArray("<?xml version=\"1.0\"?>\n<!-- x --><!DOCTYPE html>") << QByteArray() << true;
        QTest::newRow("XML") << QByteArray("<?xml version=\"1.0\"?><proxies><ip>1.2.3.4</ip></proxies>")
                             << QByteArray("application/xml") << false;
        QTest::newRow("JSON holding markup in a string")
            << QByteArray(R"({"row": "<td>1.2.3.4</td>"})") << QByteArray("application/json") << false;
        QTest::newRow("plain text") << QByteArray("1.2.3.4:80\n") << QByteArray() << false;
        QTest::newRow("CSV") << QByteArray("ip;port\n1.2.3.4;80\n") << QByteArray("text/csv") << false;
    }

    void visibleText_isHtml()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, html);
        QCOMPARE(VisibleText::isHtml(page, contentType), html);
    }

    // What the readers of a page's structure take for a whole address or port field is what the scan takes for a
    // proxy text's: no more, no less.
    void proxyFields_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<bool>("isAddress");
        QTest::addColumn<bool>("isPort");

        QTest::newRow("plain") << QByteArray("1.2.3.4") << QByteArray("80") << true << true;
        QTest::newRow("no range: widest groups and port")
            << QByteArray("999.999.999.999") << QByteArray("99999") << true << true;
        QTest::newRow("leading zeros count as digits")
            << QByteArray("001.02.003.0") << QByteArray("00080") << true << true;
        QTest::newRow("group of four digits") << QByteArray("1.2.3.4567") << QByteArray("3128") << false << true;
        QTest::newRow("first group of four") << QByteArray("1234.2.3.4") << QByteArray("3128") << false << true;
        QTest::newRow("three groups") << QByteArray("1.2.3") << QByteArray("8080") << false << true;
        QTest::newRow("five groups") << QByteArray("1.2.3.4.5") << QByteArray("8080") << false << true;
        QTest::newRow("empty group") << QByteArray("1..3.4") << QByteArray("80") << false << true;
        QTest::newRow("dot behind") << QByteArray("1.2.3.4.") << QByteArray("80") << false << true;
        QTest::newRow("dot in front") << QByteArray(".1.2.3.4") << QByteArray("80") << false << true;
        QTest::newRow("address with its port") << QByteArray("1.2.3.4:80") << QByteArray("80") << false << true;
        QTest::newRow("blanks are the reader's to trim")
            << QByteArray(" 1.2.3.4") << QByteArray("80 ") << false << false;
        QTest::newRow("one-digit port") << QByteArray("1.2.3.4") << QByteArray("8") << true << false;
        QTest::newRow("six-digit port") << QByteArray("1.2.3.4") << QByteArray("123456") << true << false;
        QTest::newRow("port with a letter") << QByteArray("1.2.3.4") << QByteArray("80a") << true << false;
        QTest::newRow("signed port") << QByteArray("1.2.3.4") << QByteArray("+80") << true << false;
        QTest::newRow("empty fields") << QByteArray() << QByteArray() << false << false;
    }

    void proxyFields()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, port);
        QFETCH(bool, isAddress);
        QFETCH(bool, isPort);
        QCOMPARE(ProxyText::isAddress(address), isAddress);
        QCOMPARE(ProxyText::isPort(port), isPort);
        // Joined by a colon, the two fields are one whole proxy text for the scan exactly when both are fields.
        const QByteArray text = address + ':' + port;
        int colon = -1;
        const int length = ProxyText::matchAt(text.constData(), 0, text.size(), &colon);
        QCOMPARE(length == text.size(), isAddress && isPort);
        if (isAddress && isPort)
            QCOMPARE(colon, int(address.size()));
    }

    // The labelled pages: what a reader copies out of each, from the text, the pairs its structure makes and its
    // visible text, each proxy once. What the reader marked as built by a script must not be found either.
    void pageText_labelledPages_data()
    {
        QTest::addColumn<QString>("page");
        const QDir folder(QFINDTESTDATA("data/labelled"));
        for (const QString& labels : folder.entryList({u"*.labels"_s}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(labels.chopped(7))) << folder.filePath(labels.chopped(7));
    }

    void pageText_labelledPages()
    {
        QFETCH(QString, page);
        QStringList labelled;
        QString form;
        for (const QString& line : QString::fromLatin1(readFile(page + u".labels"_s)).split(u'\n')) {
            if (line.startsWith(u"# form: "_s))
                form = line.mid(8);
            else if (!line.isEmpty() && !line.startsWith(u'#') && !line.startsWith(u'~'))
                labelled << line;
        }
        const QByteArray bytes = readFile(page);
        QVERIFY(!bytes.isEmpty());
        // Read as the command line reads a reply, with the type a server gives such a file.
        static const QHash<QString, QByteArray> types = {
            {u"html"_s, "text/html; charset=utf-8"}, {u"json"_s, "application/json"},
            {u"xml"_s, "application/xml"},           {u"csv"_s, "text/csv"},
            {u"tsv"_s, "text/tab-separated-values"}, {u"script"_s, "application/javascript"}};
        const PageReading reading{true, false, types.value(QFileInfo(page).suffix(), "text/plain")};
        const QByteArray texts = PageText::proxyTexts(PageText::readable(bytes, u"example.com"_s, reading));
        QStringList found = QString::fromLatin1(texts).split(u'\n', Qt::SkipEmptyParts);
        qsizetype read = 0;
        for (const QString& text : std::as_const(labelled))
            read += found.contains(text);
        qInfo("%s: %lld of %lld read, %lld false", qPrintable(form), qlonglong(read), qlonglong(labelled.size()),
              qlonglong(found.size() - read));
        found.sort();
        labelled.sort();
        QCOMPARE(found, labelled);
    }

    // Where a header's columns hold, and where they end; what parts fields and what does not.
    void pairReader_columns_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("pairs");

        QTest::newRow("a header holds until a line parted otherwise")
            << QByteArray("ip;up;port\n1.2.3.4;99;80\nnext\n5.6.7.8;99;8080") << QByteArray("1.2.3.4:80\n5.6.7.8:99\n");
        QTest::newRow("a line of data is no header")
            << QByteArray("1.2.3.4;port;8080\n5.6.7.8;99;3128") << QByteArray("5.6.7.8:99\n");
        QTest::newRow("the address's column named, another address beside it")
            << QByteArray("gateway,server,port\n10.0.0.1,1.2.3.4,3128") << QByteArray("1.2.3.4:3128\n");
        QTest::newRow("a dash or slash without blanks parts nothing")
            << QByteArray("1.2.3.4-80\n1.2.3.4/24\n5.6.7.8 - 8080\n5.6.7.8 / 3128")
            << QByteArray("5.6.7.8:8080\n5.6.7.8:3128\n");
        QTest::newRow("an aligned header ends at a blank line")
            << QByteArray("Host      Up   Port\n1.2.3.4   99   80\n\n5.6.7.8   99   8080 in prose")
            << QByteArray("1.2.3.4:80\n");
        QTest::newRow("a cell holding more than an address pairs with nothing")
            << QByteArray("<tr><td>v1.2.3.4</td><td>8080</td></tr>") << QByteArray();
        QTest::newRow("a table's header names its own table's columns")
            << QByteArray("<table><tr><th>IP</th><th>Up</th><th>Port</th></tr><tr><td>1.2.3.4</td><td>99</td>"
                          "<td>80</td></tr></table><table><tr><td>5.6.7.8</td><td>8080</td></tr></table>")
            << QByteArray("1.2.3.4:80\n5.6.7.8:8080\n");
        // The tables and the XML of a page are read in one walk of its tags where no escape hides a tag, in two where
        // one does (the tables read with the escapes undone): the tables' pairs come first either way.
        const QByteArray xmlThenTable = "<list><proxy><ip>5.6.7.8</ip><port>8080</port></proxy><table><tr><td>1.2.3.4"
                                        "</td><td>80%1</td></tr></table></list>";
        QTest::newRow("XML, then a table: the table's pairs first")
            << QByteArray(xmlThenTable).replace("%1", "") << QByteArray("1.2.3.4:80\n5.6.7.8:8080\n");
        QTest::newRow("the same with an entity in a cell")
            << QByteArray(xmlThenTable).replace("%1", "&nbsp;") << QByteArray("1.2.3.4:80\n5.6.7.8:8080\n");
        QTest::newRow("aligned: the address's column named")
            << QByteArray("Gateway    Server     Port\n10.0.0.1   1.2.3.4    80\n") << QByteArray("1.2.3.4:80\n");
    }

    void pairReader_columns()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, pairs);
        QCOMPARE(PairReader::read(page, false), pairs);
    }

    // A page cut at the size limit loses its last, unclosed record; one that ends so on its own keeps it.
    void pairReader_cutRecord_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("whole"); // the pairs of the page read as ended on its own
        QTest::addColumn<QByteArray>("cut");   // read as cut at the limit

        QTest::newRow("table row") << QByteArray("<tr><td>1.2.3.4</td><td>80</td></tr><tr><td>5.6.7.8</td><td>8080")
                                   << QByteArray("1.2.3.4:80\n5.6.7.8:8080\n") << QByteArray("1.2.3.4:80\n");
        QTest::newRow("json object") << QByteArray(R"([{"ip":"1.2.3.4","port":80},{"ip":"5.6.7.8","port":8080)")
                                     << QByteArray("1.2.3.4:80\n") << QByteArray("1.2.3.4:80\n");
        QTest::newRow("line") << QByteArray("1.2.3.4,80\n5.6.7.8,8080") << QByteArray("1.2.3.4:80\n5.6.7.8:8080\n")
                              << QByteArray("1.2.3.4:80\n");
    }

    void pairReader_cutRecord()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, whole);
        QFETCH(QByteArray, cut);
        QCOMPARE(PairReader::read(page, false), whole);
        QCOMPARE(PairReader::read(page, true), cut);
    }

    // What the extraction reads of a reply: the marked site's links made proxy texts, every other byte but digits,
    // dots and colons a line end, the pairs of its structure behind when they are asked for; and of that, the proxy
    // texts a page kept in memory holds.
    void pageText_readable_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("pairs");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<QByteArray>("readable");
        QTest::addColumn<QByteArray>("texts");

        const QByteArray link = "&host=10.0.0.1&port=3128&isSocks=0";
        QTest::newRow("text reduced in place")
            << QByteArray("<b>1.2.3.4:80</b> x") << u"example.com"_s << false << false
            << QByteArray("\n\n\n1.2.3.4:80\n\n\n\n\n\n") << QByteArray("1.2.3.4:80\n");
        QTest::newRow("marked site's link") << link << u"www.proxy-listen.de"_s << false << false
                                            << QByteArray("\n\n10.0.0.1:3128\n\n\n0") << QByteArray("10.0.0.1:3128\n");
        QTest::newRow("another site's link stays apart")
            << link << u"www.proxy-list.de"_s << false << false
            << QByteArray(6, '\n') + "10.0.0.1" + QByteArray(6, '\n') + "3128" + QByteArray(9, '\n') + "0"
            << QByteArray();
        QTest::newRow("marker matched in its case")
            << link << u"www.PROXY-LISTEN.de"_s << false << false
            << QByteArray(6, '\n') + "10.0.0.1" + QByteArray(6, '\n') + "3128" + QByteArray(9, '\n') + "0"
            << QByteArray();

        const QByteArray row = "<td>1.2.3.4</td><td>80</td>";
        const QByteArray reducedRow =
            QByteArray(4, '\n') + "1.2.3.4" + QByteArray(9, '\n') + "80" + QByteArray(5, '\n');
        QTest::newRow("pairs behind") << row << u"example.com"_s << true << false << reducedRow + "\n1.2.3.4:80\n"
                                      << QByteArray("1.2.3.4:80\n");
        QTest::newRow("pairs not asked for") << row << u"example.com"_s << false << false << reducedRow << QByteArray();
        QTest::newRow("cut page: its unclosed row gives no pair")
            << row << u"example.com"_s << true << true << reducedRow + "\n"
            << QByteArray();
        // The visible text goes behind an HTML page's pairs, reduced, then its own pairs; the reply's type says which
        // pages are HTML.
        const QByteArray linkText = "<a href=\"/1.2.3.4\">1.2.3.4</a>:80";
        QTest::newRow("HTML by its type: its visible text read too")
            << "Ask " + linkText << u"html"_s << true << false
            << QByteArray(14, '\n') + "1.2.3.4" + QByteArray(2, '\n') + "1.2.3.4" + QByteArray(4, '\n') + ":80" + "\n" +
                   "\n\n\n\n\n1.2.3.4:80\n"
            << QByteArray("1.2.3.4:80\n");
        QTest::newRow("an address written with entities, its port behind a tag")
            << QByteArray("<p>&#49;.2.3.4:<b>80</b></p>") << u"example.com"_s << true << false
            << QByteArray(5, '\n') + "49\n.2.3.4:\n\n\n80" + QByteArray(11, '\n') + "1.2.3.4:80\n\n"
            << QByteArray("1.2.3.4:80\n");
        QTest::newRow("the same as plain text: no visible text")
            << "Ask " + linkText << u"example.com"_s << true << false
            << QByteArray(14, '\n') + "1.2.3.4" + QByteArray(2, '\n') + "1.2.3.4" + QByteArray(4, '\n') + ":80" + "\n"
            << QByteArray();
        QTest::newRow("texts alike are each their own")
            << QByteArray("1.2.3.4:80 1.2.3.4:800 01.2.3.4:80 1.2.3.4:080 1.2.3.40:80 1.2.3.4:80") << u"example.com"_s
            << false << false
            << QByteArray("1.2.3.4:80\n1.2.3.4:800\n01.2.3.4:80\n1.2.3.4:080\n1.2.3.40:80\n1.2.3.4:80")
            << QByteArray("1.2.3.4:80\n1.2.3.4:800\n01.2.3.4:80\n1.2.3.4:080\n1.2.3.40:80\n");
        QTest::newRow("a proxy shown twice is kept once")
            << QByteArray("1.2.3.4:80 1.2.3.4:80 1.2.3.4:8080") << u"example.com"_s << false << false
            << QByteArray("1.2.3.4:80\n1.2.3.4:80\n1.2.3.4:8080") << QByteArray("1.2.3.4:80\n1.2.3.4:8080\n");
    }

    void pageText_readable()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, host);
        QFETCH(bool, pairs);
        QFETCH(bool, cut);
        QFETCH(QByteArray, readable);
        QFETCH(QByteArray, texts);
        // A host named "html" stands for a reply whose type says it is HTML.
        const QByteArray type = host == "html"_L1 ? "text/html" : "text/plain";
        const QByteArray page = PageText::readable(reply, host, PageReading{pairs, cut, type});
        QCOMPARE(page, readable);
        QCOMPARE(PageText::proxyTexts(page), texts);
        // Read part by part, as pages kept in memory are, the texts are the same.
        QCOMPARE(PageText::proxyTexts(reply, host, PageReading{pairs, cut, type}), texts);
    }

    // Cut at the size limit, the address characters that touch the cut go: they may be half a proxy.
    void pageText_dropCutAddressRun_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("kept");

        QTest::newRow("half a proxy") << QByteArray("<td>1.2.3.4:80</td> 5.6.7") << QByteArray("<td>1.2.3.4:80</td> ");
        QTest::newRow("half a port") << QByteArray("x 1.2.3.4:80") << QByteArray("x ");
        QTest::newRow("nothing to drop") << QByteArray("1.2.3.4:80\n") << QByteArray("1.2.3.4:80\n");
        QTest::newRow("all of it") << QByteArray("1.2.3.4:80") << QByteArray("");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void pageText_dropCutAddressRun()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, kept);
        PageText::dropCutAddressRun(reply);
        QCOMPARE(reply, kept);
    }

    void distinctProxies_data()
    {
        // Each page's proxy texts in order; what is told: "<page> <text> run|page".
        QTest::addColumn<QList<QStringList>>("pages");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("repeats on a page and across pages")
            << QList<QStringList>{{"1.1.1.1:80", "1.1.1.1:80", "2.2.2.2:81"},
                                  {"2.2.2.2:81", "3.3.3.3:82", "2.2.2.2:81"},
                                  {},
                                  {"1.1.1.1:80", "3.3.3.3:82", "1.1.1.1:80"}}
            << QStringList{"0 1.1.1.1:80 run", "0 2.2.2.2:81 run",  "1 2.2.2.2:81 page",
                           "1 3.3.3.3:82 run", "3 1.1.1.1:80 page", "3 3.3.3.3:82 page"};
        QTest::newRow("texts alike are each their own")
            << QList<QStringList>{{"1.1.1.1:80", "1.1.1.1:8080", "01.1.1.1:80"}, {"1.1.1.1:8080"}}
            << QStringList{"0 1.1.1.1:80 run", "0 1.1.1.1:8080 run", "0 01.1.1.1:80 run", "1 1.1.1.1:8080 page"};
        // Longer than any proxy text, so without a key: each its own, told in its place among the others.
        const QString tooLong = u"1234567890123456789012.3.4.5:8080"_s;
        QTest::newRow("texts too long for a key")
            << QList<QStringList>{{"1.1.1.1:80", tooLong, "1.1.1.1:80", "2.2.2.2:81", tooLong}, {tooLong, "2.2.2.2:81"}}
            << QStringList{"0 1.1.1.1:80 run",      "0 " + tooLong + " run", "0 2.2.2.2:81 run",
                           "0 " + tooLong + " run", "1 " + tooLong + " run", "1 2.2.2.2:81 page"};
        // Many more distinct texts than a small capacity, some met again on their page and on later ones.
        QList<QStringList> many(5);
        QStringList manyTold;
        for (int page = 0; page < many.size(); ++page) {
            for (int n = 0; n < 40; ++n) {
                const int proxy = page * 30 + n; // the last ten of a page are the next one's first ten
                const QString text = u"10.0.%1.%2:%3"_s.arg(proxy / 200).arg(proxy % 200).arg(80 + n % 3);
                many[page] << text;
                if (n % 7 == 0)
                    many[page] << text;
                manyTold << u"%1 %2 %3"_s.arg(page).arg(text, page > 0 && n < 10 ? u"page"_s : u"run"_s);
            }
        }
        QTest::newRow("many texts") << many << manyTold;
    }

    // The same answers whatever the capacity, through as many walks as it takes; and told to stop, it stops.
    void distinctProxies()
    {
        QFETCH(QList<QStringList>, pages);
        QFETCH(QStringList, told);
        int pagesWalked = 0;
        const DistinctProxies::Walk walk = [&](const DistinctProxies::Visit& visit) {
            for (int page = 0; page < pages.size(); ++page, ++pagesWalked) {
                for (const QString& text : pages[page]) {
                    const QByteArray proxy = text.toLatin1();
                    if (!visit(page, proxy.constData(), int(proxy.size()), int(proxy.indexOf(':'))))
                        return false;
                }
            }
            return true;
        };
        for (const qsizetype capacity : {qsizetype(1), qsizetype(2), qsizetype(7), qsizetype(1000)}) {
            QStringList heard;
            const auto hear = [&](int page, const char* text, int length, int colon, DistinctProxies::Kind kind) {
                [&] { QCOMPARE(text[colon], ':'); }();
                heard << u"%1 %2 %3"_s.arg(page).arg(QString::fromLatin1(text, length),
                                                     kind == DistinctProxies::FirstOfRun ? u"run"_s : u"page"_s);
                return true;
            };
            DistinctProxies distinct(capacity);
            pagesWalked = 0;
            QVERIFY(distinct.tell(walk, hear));
            QCOMPARE(heard, told);
            // Only texts with a key take room.
            QSet<QString> keyed;
            for (const QStringList& page : pages)
                for (const QString& text : page)
                    if (text.size() <= ProxyTextSet::longestKeyed)
                        keyed << text;
            const bool fits = capacity >= keyed.size();
            QCOMPARE(distinct.walks() == 1, fits);
            QCOMPARE(pagesWalked, int(pages.size()) * distinct.walks());

            heard.clear();
            const qsizetype stopAt = told.size() / 2 + 1;
            QVERIFY(!distinct.tell(walk,
                                   [&](int page, const char* text, int length, int colon, DistinctProxies::Kind kind) {
                                       return hear(page, text, length, colon, kind) && heard.size() < stopAt;
                                   }));
            QCOMPARE(heard, told.mid(0, stopAt));
        }
    }

    // What the pool is told of a harvest's pages, as they are read, is what the run keeps of them at its end: each
    // page with a proxy once, in order, whatever number of walks the distinct proxies take.
    void pageSink_tellsEachPageOnceAsKept()
    {
        for (const qsizetype capacity : {qsizetype(2), qsizetype(1000)}) {
            writePage("0-1.dat", "1.1.1.1:80\n2.2.2.2:81\n1.1.1.1:80\n");
            writePage("0-2.dat", "no proxy here");
            writePage("0-3.dat", "2.2.2.2:81 3.3.3.3:82 4.4.4.4:83");
            writePage("0-4.dat", "1.1.1.1:80");
            // Its fetching told it as it kept it in memory.
            MemoryPages memory(1 << 20);
            QVERIFY(memory.put(u"0-5.dat"_s, "5.5.5.5:85\n"));
            CLeechProxies extraction;
            prepare(extraction);
            extraction.setMemoryPages(&memory);
            extraction.setWholeProxyCopies(true);
            extraction.setKeepProxies(true);
            extraction.setDistinctCapacity(capacity);
            std::mutex lock;
            QStringList told;
            extraction.setPageSink(
                [&](const QString& page, const QByteArray& texts, const CLeechProxies::PageTally& tally) {
                    const std::lock_guard<std::mutex> hold(lock);
                    told << u"%1 %2 %3/%4"_s.arg(page, QString::fromLatin1(texts).trimmed().replace(u'\n', u','))
                                .arg(tally.written)
                                .arg(tally.given);
                });
            extraction.start();
            finishRun(&extraction);
            QStringList kept;
            const QHash<QString, CLeechProxies::PageTally> tallies = extraction.tallies();
            for (const CLeechProxies::PageProxies& page : extraction.proxiesPerPage())
                if (!page.proxies.isEmpty())
                    kept << u"%1 %2 %3/%4"_s.arg(page.page, QString::fromLatin1(page.proxies.join(',')))
                                .arg(tallies.value(page.page).written)
                                .arg(tallies.value(page.page).given);
            const std::lock_guard<std::mutex> hold(lock);
            QCOMPARE(told + QStringList{u"0-5.dat 5.5.5.5:85 1/1"_s}, kept);
            QCOMPARE(told,
                     QStringList({u"0-1.dat 1.1.1.1:80,2.2.2.2:81 2/2"_s,
                                  u"0-3.dat 2.2.2.2:81,3.3.3.3:82,4.4.4.4:83 2/3"_s, u"0-4.dat 1.1.1.1:80 0/1"_s}));
        }
    }

private:
    // Runs `onLine` in the worker after each line it writes, with the number of the line.
    void prepare(CLeechProxies& extraction, const std::function<void(int)>& onLine = {})
    {
        extraction.setRunStamp(runStamp);
        extraction.setConfig(m_config.get());
        // Context object in the GUI thread: the signals arrive queued, as they do in the main window.
        connect(&extraction, &CLeechProxies::signifyNewProxy, this, [this] { m_signals << "new"; });
        connect(&extraction, &CLeechProxies::harvestComplete, this, [this] { m_signals << "complete"; });
        connect(&extraction, &CLeechProxies::noProxyResults, this, [this] { m_signals << "none"; });
        connect(&extraction, &CLeechProxies::outputWriteFailed, this, [this] { m_signals << "failed"; });
        // Told through the extraction itself, so a run that ends with its object tells nobody.
        connect(&extraction, &CLeechProxies::outputWritten, &extraction,
                [this](const QString& path) { m_written << path; });
        // Qt hands a finished thread and its queued calls over through its own locks, which ThreadSanitizer
        // cannot see in an uninstrumented Qt; this flag makes the end of the run visible to it.
        connect(
            &extraction, &QThread::finished, &extraction, [] { runEnded.store(true, std::memory_order_release); },
            Qt::DirectConnection);
        m_lines = 0;
        if (onLine)
            connect(
                &extraction, &CLeechProxies::signifyNewProxy, &extraction, [this, onLine] { onLine(++m_lines); },
                Qt::DirectConnection);
    }

    // Waits for the run to end (an object destroyed has ended its run), then delivers its queued signals.
    void finishRun(CLeechProxies* extraction)
    {
        QVERIFY(!extraction || extraction->wait(120000));
        QVERIFY(runEnded.exchange(false, std::memory_order_acquire));
        QCoreApplication::sendPostedEvents();
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<CConfig> m_config;
    QStringList m_signals; // in the order they reached the GUI thread
    QStringList m_written; // output paths told
    std::atomic<int> m_lines{0};
};

QTEST_MAIN(ExtractionTest)
#include "tst_extraction.moc"
