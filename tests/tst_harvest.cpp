#include "extraction/leechproxies.h"
#include "extraction/pagescanner.h"
#include "leech/leechlinks.h"
#include "leech/leechlist.h"
#include "leech/leechsocket.h"
#include "qtlib/updatesys/updatequery.h"
#include "qtlib/web/httpreply.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/literalscan.h"
#include "tests/support/testkit.h"
#include "util/externalhosts.h"
#include "util/httpport.h"
#include "util/weburl.h"
#include "windows/iptocountry.h"
#include "windows/updateprompt.h"

#include <QNetworkProxy>
#include <atomic>

using TXL::QtLib::UpdateSys::CUpdateQuery;
using TXL::QtLib::Web::CWebSocket;

using Pages = QList<QPair<QString, QByteArray>>;
Q_DECLARE_METATYPE(Pages)
Q_DECLARE_METATYPE(FakeReply)

namespace {

constexpr uint runStamp = 1341302400;
const QByteArray okHead = "HTTP/1.0 200 OK\r\n\r\n";
const QByteArray firstReply = okHead + "first page 1.1.1.1:80";
const QString placeholder = u"... ... ... ... ... ... ... ..."_s;
// What the program does while an update check waits for its answer.
enum Then { Wait, Leave, AskAgain };

// Lets the tests see the connection and the time-out.
class ProbedWebSocket : public CWebSocket
{
public:
    QTcpSocket* connection() const { return socket(); }
    int interval() { return timer().interval(); }
};

// A page fetcher wired and started the way the harvest engine does it.
std::unique_ptr<CLeechSocket> makeFetcher()
{
    auto fetcher = std::make_unique<CLeechSocket>();
    fetcher->setDataFolder(runStamp);
    fetcher->setPort(1); // not the fetcher's to use: it always goes to the web port
    fetcher->start(QThread::InheritPriority);
    return fetcher;
}

// Hands a list of URLs to a fetcher in the engine's order and starts it.
void startRun(CLeechSocket& fetcher, int index, const QStringList& urls, int timeout = 600)
{
    fetcher.reset();
    fetcher.clearQueue();
    fetcher.setTimeout(timeout);
    for (const QString& url : urls) {
        CLeechUrl record;
        record.parse(url, 0, QString());
        fetcher.addUrl(record);
    }
    fetcher.setSocketDescriptor(index);
    fetcher.fetchQueue();
}

// The run's page folder, where fetchers store pages and the extraction reads them.
QDir pageFolder()
{
    return QDir(UserFolders::runFolder(runStamp));
}

// A page file of the run; null when there is none.
QByteArray pageBytes(int fetcher, int page)
{
    return readFile(pageFolder().filePath(u"%1-%2.dat"_s.arg(fetcher).arg(page)));
}

QByteArray linkPage(const QList<QByteArray>& hrefs)
{
    QByteArray page = okHead + "<html><body><table>\n";
    for (const QByteArray& href : hrefs)
        page += "<tr><td><a href=\"" + href + "\">More proxies</a></td></tr>\n";
    return page + "</table></body></html>\n";
}

// Set by the worker as its last act. A global, not a capture: the connection holding the slot is freed on the GUI
// thread, and a read of a capture on the worker would race with that in the sanitizer's eyes.
std::atomic<bool> runEnded{false};

void writePage(const QString& name, const QByteArray& content)
{
    QVERIFY(writeFile(pageFolder().filePath(name), content));
}

QStringList pageNames()
{
    return pageFolder().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QMap<QString, QByteArray> outputFiles()
{
    QMap<QString, QByteArray> files;
    const QDir output(UserFolders::outputFolder());
    for (const QString& name : output.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        files.insert(name, readFile(output.filePath(name)));
    return files;
}

} // namespace

// The harvest below the window. The network clients against a scripted server on loopback: the fetch thread, the
// page fetcher and the link crawler built on it, the leech list download, the update check and the country lookup.
// Then the extraction thread over stored pages, and its page scan against the plain reading.
class HarvestTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        // The start-up folder set-up has made the data and output folders by the time fetchers are created.
        QVERIFY(QDir().mkpath(UserFolders::dataFolder()) && QDir().mkpath(UserFolders::outputFolder()));
        m_server = std::make_unique<FakeHttpServer>();
        QVERIFY(m_server->listen());
        HttpPort::setPortForTests(m_server->port());
        HttpPort::setConnectHostForTests(u"127.0.0.1"_s);
        m_server->setReply(u"/first"_s, FakeReply::whole(firstReply));
        m_config = std::make_unique<CConfig>();
        // Signals left over from a test that failed half-way must not count here.
        QCoreApplication::sendPostedEvents();
        m_signals.clear();
        m_written.clear();
    }

    void cleanup()
    {
        DialogAnswerer::closeLeftoverModals();
        m_server.reset();
        m_config.reset();
        m_home.reset();
        HttpPort::setPortForTests(80);
        HttpPort::setConnectHostForTests(QString());
    }

    void parse_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("hostAndPath");

        QTest::newRow("full url, query kept") << "http://www.example.com/proxy/list.php?page=2"
                                              << "www.example.com /proxy/list.php?page=2";
        QTest::newRow("bare host") << "example.co.uk"
                                   << "example.co.uk /";
        QTest::newRow("www. inside the path goes too") << "http://www.example.com/www.list/x"
                                                       << "www.example.com /list/x";
        QTest::newRow("every copy of the host leaves the path") << "a.com/a.com/list"
                                                                << "a.com //list";
    }

    void parse()
    {
        QFETCH(QString, url);
        QFETCH(QString, hostAndPath);

        CLeechUrl record;
        record.parse(url, 0, QString());
        QCOMPARE(record.host() + u' ' + record.path(), hostAndPath);
    }

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

    // Where a redirect leads, and what a reply's head says about the reply.
    void redirect_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<QString>("target"); // from https://www.example.com/a/b.html?q; empty: not followed

        QTest::newRow("relative path, dot segments")
            << "HTTP/1.1 302 Found\r\nLocation: ../c/./d.html\r\nContent-Length: 0\r\n\r\n"_ba << 302 << false
            << "https://www.example.com/c/d.html";
        QTest::newRow("absolute, to http, fragment dropped; LF line ends")
            << "HTTP/1.0 301 Moved\nlocation:  http://other.example.org:81/x#top \n\nbody"_ba << 301 << false
            << "http://other.example.org:81/x";
        QTest::newRow("scheme-relative, first Location counts")
            << "HTTP/1.1 308 X\r\nLocation: //cdn.example.net/p\r\nLocation: /no\r\n\r\n"_ba << 308 << false
            << "https://cdn.example.net/p";
        QTest::newRow("query only") << "HTTP/1.1 303 See\r\nLocation: ?page=2\r\n\r\n"_ba << 303 << false
                                    << "https://www.example.com/a/b.html?page=2";
        QTest::newRow("other scheme") << "HTTP/1.1 307 T\r\nLocation: ftp://www.example.com/\r\n\r\n"_ba << 307 << false
                                      << "";
        QTest::newRow("no Location") << "HTTP/1.1 302 Found\r\n\r\n"_ba << 302 << false << "";
        QTest::newRow("not a redirect status")
            << "HTTP/1.1 300 Choices\r\nLocation: /x\r\n\r\n"_ba << 300 << false << "";
        QTest::newRow("body shorter than its length")
            << "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n1234"_ba << 200 << true << "";
        QTest::newRow("head never ended") << "HTTP/1.1 200 OK\r\nContent-Ty"_ba << 200 << true << "";
        QTest::newRow("no status line") << "<html>1.2.3.4:80</html>\r\n\r\n"_ba << 0 << false << "";
    }

    void redirect()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(bool, cut);
        QFETCH(QString, target);

        const HttpReplyHead head = HttpReplyHead::parse(reply);
        QCOMPARE(head.status, status);
        QCOMPARE(head.isCut(reply.size()), cut);
        const QUrl from(u"https://www.example.com/a/b.html?q"_s);
        QCOMPARE(head.isRedirect() ? resolveLocation(from, head.location).toString() : QString(), target);
    }

    void request_optionalLinesOnlyWhenSet()
    {
        const QByteArray head =
            "HTTP/1.0\r\nHost: www.example.com\r\nUser-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.1; "
            "en-US; rv:1.9.1.2) Gecko/20090729 Firefox/3.5.2 (.NET CLR 3.5.30729)\r\n";
        CWebSocket socket;
        QVERIFY(fetch(socket, u"/first"_s));
        // Set but empty still sends the line: the harvest resets its fetchers before each list.
        socket.reset();
        QVERIFY(fetch(socket, u"/first"_s));
        // The path goes as it is: unescaped, Latin-1 kept, anything else as "?".
        QVERIFY(fetch(socket, u"/a b%20/\u00fc\u20ac?x=1"_s));

        const QList<FakeRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].bytes, "GET /first " + head + "Connection: close\r\n\r\n");
        QCOMPARE(requests[1].bytes, "GET /first " + head + "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n");
        QCOMPARE(requests[2].bytes,
                 "GET /a b%20/\xfc??x=1 " + head + "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n");
    }

    void settings_timeoutBoundsAndDirectConnection()
    {
        ProbedWebSocket socket;
        // Straight to the server: asking the system for a proxy would start a lookup thread for nothing.
        QCOMPARE(socket.connection()->proxy().type(), QNetworkProxy::NoProxy);
        QCOMPARE(socket.interval(), 25000);
        socket.setTimeout(-5000);
        QCOMPARE(socket.interval(), 0);
        socket.setTimeout(25000);
        QCOMPARE(socket.interval(), 25000);
        socket.setTimeout(700);
        socket.setTimeout(25001);
        QCOMPARE(socket.interval(), 700);
    }

    void outcome_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QByteArray>("result"); // null: the fetch fails

        // A zero byte ends the text of its read only; the pause lets each part come in a read of its own.
        QTest::newRow("zero byte first in a read, bytes as Latin-1")
            << FakeReply::inParts({okHead, "\0all of this read"_ba, "\xe9t\xe9 \xff\x80"}, 120)
            << okHead + "\xe9t\xe9 \xff\x80";
        QTest::newRow("close without data") << FakeReply::closeWithoutSending() << ""_ba;
        QTest::newRow("stall after part of a reply") << FakeReply::keepOpenAfter(okHead + "1.2.3.") << QByteArray();
    }

    void outcome()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QByteArray, result);

        m_server->setReply(u"/test"_s, reply);
        CWebSocket socket;
        socket.setTimeout(600);
        QVERIFY(fetch(socket, u"/first"_s));
        QCOMPARE(socket.bytesRetrieved(), firstReply.size());

        // A fetch replaces the result and adds to the total; a failed one leaves both and fails on the time-out.
        int errors = -1;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(fetch(socket, u"/test"_s, &errors), !result.isNull());
        QCOMPARE(errors, result.isNull() ? 1 : 0);
        if (result.isNull())
            QVERIFY2(clock.elapsed() >= 600 && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(socket.data(), QString::fromLatin1(result.isNull() ? firstReply : result));
        QCOMPARE(socket.bytesRetrieved(), firstReply.size() + result.size());
    }

    void fetcher_abort_data()
    {
        QTest::addColumn<int>("when");
        // 1: before the connection opens; 2: with part of a reply in; 3: as a page came in
        QTest::newRow("right after the start") << 1;
        QTest::newRow("during a fetch") << 2;
        QTest::newRow("page received, its file still being written") << 3;
    }

    void fetcher_abort()
    {
        QFETCH(int, when);

        // Large enough that its page file is not written in an instant.
        const QByteArray slowTail = "5.6.7.8:8080\n" + QByteArray(8 << 20, 'x');
        m_server->setReply(u"/slow.html"_s, FakeReply::inParts({okHead + "1.2.3.4:80\n", slowTail}, 400));
        m_server->setReply(u"/next.html"_s, FakeReply::whole(okHead + "9.9.9.9:99"));
        auto fetcher = makeFetcher();
        QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
        qsizetype storedAtReport = -1;
        connect(fetcher.get(), &CLeechSocket::urlListProcessed, this, [&] { storedAtReport = pageBytes(4, 0).size(); });
        const auto stop = [&] {
            fetcher->abort();
            fetcher->clearQueue();
        };

        QMetaObject::Connection stopOnPage;
        if (when == 3)
            stopOnPage = connect(fetcher.get(), &CWebSocket::dataRetrieved, this, stop);
        startRun(*fetcher, 4, {u"www.alpha.com/slow.html"_s, u"www.alpha.com/next.html"_s});
        if (when == 2) {
            QTRY_VERIFY(m_server->requests().value(0).complete);
            QTest::qWait(150);
        }
        if (when == 3)
            QVERIFY(processed.wait(5000));
        else
            stop();
        QCOMPARE(processed.count(), 1);
        QCOMPARE(processed.first().first().toInt(), 4);
        // A page already in is stored whole before the report.
        QCOMPARE(storedAtReport, when == 3 ? okHead.size() + 11 + slowTail.size() : 0);

        // Nothing that was on its way completes later, and the fetcher does not move on.
        QTest::qWait(800);
        QCOMPARE(processed.count(), 1);
        QCOMPARE(m_server->requests().size(), when >= 2 ? 1 : 0);
        QCOMPARE(pageBytes(4, 0).isNull(), when != 3);
        QVERIFY(pageBytes(4, 1).isNull());
        QVERIFY(fetcher->results().isEmpty());

        // The next run starts again from page 0 and counts only its own reply.
        disconnect(stopOnPage);
        startRun(*fetcher, 4, {u"www.alpha.com/next.html"_s});
        QVERIFY(processed.wait(5000));
        QCOMPARE(pageBytes(4, 0), "\n\n\n\n\n1.0\n200\n\n\n\n\n\n\n9.9.9.9:99"_ba);
        QCOMPARE(fetcher->results().size(), 1);
        QCOMPARE(fetcher->results().first().bytes(), okHead.size() + 10);
    }

    void extractLinks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("links");

        const QString host = u"www.example.com"_s;
        QTest::newRow("absolute, rooted, bare host, country domain, repeats; page order")
            << "<a href=\"http://www.example.com/list2.html\">2</a><a href=\"/list3.html\">3</a>"
               "href=\"http://proxies.example.net\" href=\"http://www.example.co.uk/p\" href=\"/list3.html\""
            << host << "/"
            << QStringList{"www.example.com/list2.html", "www.example.com/list3.html", "proxies.example.net",
                           "www.example.co.uk/p", "www.example.com/list3.html"};
        QTest::newRow("page lower-cased, its host kept as given")
            << R"(<A HREF="HTTP://WWW.Example.COM/A.html"><a href="/Page.HTML">)"
            << "WWW.Example.com"
            << "/" << QStringList{"www.example.com/a.html", "WWW.Example.com/page.html"};
        QTest::newRow("value runs to the end without a closing quote")
            << "x href=\"http://www.b.com/last" << host << "/" << QStringList{"www.b.com/last"};
        QTest::newRow("no link of ours")
            << "href=\"http://1.2.3.4/x\" href='http://www.b.com/' href = \"http://www.c.com/\" href=http://www.d.com/ "
               "href=\"http://example.com:8080/x\" href=\"https://www.b.com/x\" href=\"http://\" "
               "href=\"http://a.sub.example.co.uk/p\" href=\"http://www.example.money/\" href=\"\" href=\"#top\" "
               "href=\"mailto:a@example.com\" href=\"javascript:void(0)\" href=\"ftp://www.b.com/\" href=\"news:x\""
            << host << "/p.html" << QStringList();
        // The next opener is looked for from one character into the value before.
        QTest::newRow("openers inside and right behind a value")
            << "href=\"href=\"http://www.b.com/x\" href=\"\"href=\"http://www.c.com/y\" href=\"a "
               "href=\"http://www.d.com/z\""
            << host << "/"
            << QStringList{"www.example.com/href=", "www.c.com/y", "www.example.com/a href=", "www.d.com/z"};
        QTest::newRow("relative to the page's folder")
            << "href=\"page2.html\" href=\"../d.html\" href=\"./e.html\" href=\"../../../f.html\" href=\"g/..\" "
               "href=\"www.b.com/x.html\""
            << host << "/a/b/C.html"
            << QStringList{"www.example.com/a/b/page2.html", "www.example.com/a/d.html",
                           "www.example.com/a/b/e.html",     "www.example.com/f.html",
                           "www.example.com/a/b/",           "www.example.com/a/b/www.b.com/x.html"};
        QTest::newRow("query of the page replaced")
            << R"(href="?page=2" href="p.php?x=../y")" << host << "/list.php?page=1"
            << QStringList{"www.example.com/list.php?page=2", "www.example.com/p.php?x=../y"};
    }

    void extractLinks()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(QString, path);
        QFETCH(QStringList, links);

        QCOMPARE(CLinkExtractor().extractLinks(text, host, path), links);
    }

    void crawl_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("fetches");
        QTest::addColumn<QStringList>("links");

        const QStringList index{"http://www.alpha.com/index.html"};
        // Files of a type that holds no list are left out: judged by the last path segment's extension.
        const QStringList level1{"www.alpha.com/a1.html",
                                 "www.beta.org/b1.html",
                                 "www.example.com",
                                 "www.alpha.com/list/jpg",
                                 "www.alpha.com/backup.zip/",
                                 "www.alpha.com/get.php?file=a.zip",
                                 "www.alpha.com/tools.exe/index.html"};
        QTest::newRow("depth 0: the user's page only") << index << 0 << 1 << level1;
        QTest::newRow("depth -1 like 0") << index << -1 << 1 << level1;
        // a1 is linked from index and b1: fetched for each, reported once.
        QTest::newRow("depth 2") << index << 2 << 11
                                 << level1 + QStringList{"www.alpha.com/a2.html", "www.beta.org/b2.html",
                                                         "www.alpha.com/a3.html"};
        // A failed fetch leaves the page before as the base's result; none of its links may come again.
        QTest::newRow("failure after a completed page adds nothing")
            << QStringList{"www.alpha.com/fine.html", "www.beta.org/stall.html"} << 1 << 3
            << QStringList{"www.alpha.com/x.html"};
        QTest::newRow("failing pages skipped")
            << QStringList{"www.alpha.com/stall.html", "www.alpha.com/to-stall.html"} << 1 << 4
            << QStringList{"www.alpha.com/fine.html", "www.alpha.com/stall.html", "www.alpha.com/x.html"};
    }

    void crawl()
    {
        QFETCH(QStringList, urls);
        QFETCH(int, depth);
        QFETCH(int, fetches);
        QFETCH(QStringList, links);

        const QString alpha = u"www.alpha.com"_s;
        const QString beta = u"www.beta.org"_s;
        m_server->setReply(
            alpha, u"/index.html"_s,
            FakeReply::whole(linkPage({"/a1.html", "HTTP://WWW.Beta.ORG/b1.html", "http://1.2.3.4/x", "images/logo.png",
                                       "mailto:admin@alpha.com", "http://www.example.com", "files/setup.com",
                                       "list/jpg", "style.css?v=3", "jquery.min.js#main", "backup.zip/",
                                       "get.php?file=a.zip", "tools.exe/index.html"})));
        m_server->setReply(alpha, u"/a1.html"_s, FakeReply::whole(linkPage({"a2.html"})));
        m_server->setReply(beta, u"/b1.html"_s,
                           FakeReply::whole(linkPage({"http://www.alpha.com/a1.html", "/b2.html"})));
        m_server->setReply(alpha, u"/a2.html"_s, FakeReply::whole(linkPage({"/a3.html"})));
        m_server->setReply(alpha, u"/a3.html"_s, FakeReply::whole(linkPage({"/a4.html"})));
        m_server->setReply(u"/stall.html"_s, FakeReply::keepOpenAfter(linkPage({"/never.html"})));
        m_server->setReply(u"/to-stall.html"_s, FakeReply::whole(linkPage({"/stall.html", "fine.html"})));
        m_server->setReply(u"/fine.html"_s, FakeReply::whole(linkPage({"/x.html"})));

        CLeechLinks crawler;
        crawler.setTimeout(400);
        links.sort();
        QCOMPARE(crawl(crawler, urls, depth), links << u"done"_s);
        QCOMPARE(m_server->requests().size(), fetches);
        // Nobody sets the crawler's referrer or cookie.
        for (const FakeRequest& request : m_server->requests())
            QVERIFY(!request.bytes.contains("Referrer:") && !request.bytes.contains("Cookie:"));
    }

    void crawlAgain_reReportsEarlierLinks()
    {
        m_server->setReply(u"/index.html"_s, FakeReply::whole(linkPage({"/a1.html", "http://www.beta.org/b1.html"})));
        m_server->setReply(u"/a2.html"_s, FakeReply::whole(linkPage({"/a3.html"})));
        CLeechLinks crawler;
        QSignalSpy completions(&crawler, &CLeechLinks::linkLeechingComplete);
        // Nothing queued: nothing is fetched or reported.
        crawler.startCrawl();
        QCOMPARE(crawl(crawler, {u"www.alpha.com/index.html"_s}, 0),
                 QStringList({"www.alpha.com/a1.html", "www.beta.org/b1.html", "done"}));
        QCOMPARE(crawl(crawler, {u"www.alpha.com/a2.html"_s}, 0),
                 QStringList({"www.alpha.com/a1.html", "www.alpha.com/a3.html", "www.beta.org/b1.html", "done"}));
        QCOMPARE(completions.count(), 2);
        QCOMPARE(m_server->requests().size(), 2);
    }

    void leechList_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("line split across reads, NUL drops the rest of its read only, also first in a read")
            << FakeReply::inParts({"\nwww.exa", "mple.com\nwww.b\0lost\nlost\n"_ba, "\0lost\n"_ba, "\n\nwww.c.com\n"},
                                  60)
            << QStringList{"www.example.com", "www.b", "www.c.com"};
        QTest::newRow("nothing sent") << FakeReply::closeWithoutSending() << QStringList();
        QTest::newRow("nothing until the server closes")
            << FakeReply::keepOpenAfter("HTTP/1.0 200 OK\n\nwww.a.com\n") << QStringList();
    }

    void leechList()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QStringList, lines);

        m_server->setDefaultReply(reply);
        CLeechList client;
        // Straight to the server: asking the system for a proxy would start a lookup thread for nothing.
        QCOMPARE(client.findChild<QTcpSocket*>()->proxy().type(), QNetworkProxy::NoProxy);
        QTRY_VERIFY(m_server->requests().value(0).complete);
        QCOMPARE(m_server->requests().first().bytes,
                 "GET http://www.tarnix.net/4/proxyUrlList.txt HTTP/1.0\r\n"
                 "Host: www.tarnix.net\r\n"
                 "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/535.1 "
                 "(KHTML, like Gecko) Chrome/13.0.782.112 Safari/535.1\r\n"
                 "Connection: close\r\n\r\n"_ba);
        QTest::qWait(300);
        QTRY_COMPARE(client.urlList(), lines);
    }

    void update_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("showIfCurrent");
        QTest::addColumn<int>("then");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<bool>("yes"); // the answer to an offer; Yes opens the download page

        const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
        const QString latest = u"You're using the latest version at this time."_s;
        const auto reply = [&](const QByteArray& body) { return FakeReply::whole(head + "\r\n" + body); };
        // The version is the last line in front of the first bar, whatever comes before or after it.
        QTest::newRow("newer version, not asked from the menu")
            << reply("1.05|9.99|\nmore") << false << int(Wait) << QStringList{"Version 1.05 is available"} << true;
        QTest::newRow("bar in a header counts")
            << FakeReply::whole("HTTP/1.0 200 OK\r\nX-Tag: beta|\r\n\r\nnone") << true << int(Wait)
            << QStringList{"Version X-Tag: beta is available"} << false;
        QTest::newRow("only line ends before the bar") << FakeReply::whole("\n\r\n|1.2") << true << int(Wait)
                                                       << QStringList{"A new version is available"} << false;
        QTest::newRow("only blanks before the bar")
            << reply("   |") << true << int(Wait) << QStringList{"Version     is available"} << false;
        QTest::newRow("no bar, not asked") << reply("current") << false << int(Wait) << QStringList() << true;
        QTest::newRow("closed without a byte")
            << FakeReply::closeWithoutSending() << true << int(Wait) << QStringList{latest} << true;
        // A check given up tells the user nothing: leaving once ran the answer handler on a half-destroyed object.
        QTest::newRow("left while waiting, as at exit")
            << FakeReply::keepOpenAfter(head) << true << int(Leave) << QStringList() << true;
        QTest::newRow("asked again while waiting") << FakeReply::keepOpenAfter(QByteArray()) << true << int(AskAgain)
                                                   << QStringList{"Version 1.20 is available"} << false;
    }

    void update()
    {
        QFETCH(FakeReply, reply);
        QFETCH(bool, showIfCurrent);
        QFETCH(int, then);
        QFETCH(QStringList, shown);
        QFETCH(bool, yes);

        m_server->setDefaultReply(reply);
        DialogAnswerer dialogs;
        DesktopCapture desktop;
        dialogs.pressButton(yes ? QMessageBox::Yes : QMessageBox::No);
        auto query = std::make_unique<CUpdateQuery>();
        UpdatePrompt prompt(query.get());
        query->setShowIfCurrent(showIfCurrent);
        query->query(u"4"_s, u"1.03"_s);
        QTRY_VERIFY(m_server->requests().value(0).complete);
        QCOMPARE(m_server->requests().first().bytes,
                 "GET /lookup.php?id=4&vn=103 HTTP/1.0\r\nHost: tarnix.net\r\nConnection: close\r\n\r\n"_ba);
        QTest::qWait(100); // lets a stalled reply's first bytes in
        if (then == Leave)
            query.reset();
        if (then == AskAgain) {
            m_server->setDefaultReply(FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n1.20|"));
            query->query(u"4"_s, u"1.03"_s);
        }
        QTRY_COMPARE(m_server->openConnections(), 0);
        QTRY_COMPARE(dialogs.count(), shown.size());
        QTest::qWait(100); // a late box would still be counted
        QStringList texts;
        for (const DialogRecord& box : dialogs.records()) {
            texts << box.text;
            QCOMPARE(box.title, u"Sievra v1.03"_s);
            QCOMPARE(box.icon, QMessageBox::Question);
            QVERIFY(box.hasWindowIcon);
            // An offer asks, with Yes as the default; the answer that there is nothing newer only tells.
            const bool offer = box.text != u"You're using the latest version at this time."_s;
            QCOMPARE(box.informativeText, offer ? u"Download now?"_s : QString());
            QCOMPARE(box.buttons,
                     offer ? QMessageBox::Yes | QMessageBox::No : QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box.defaultButton, offer ? QMessageBox::Yes : QMessageBox::NoButton);
        }
        QCOMPARE(texts, shown);
        const bool opened =
            yes && !shown.isEmpty() && shown.first() != u"You're using the latest version at this time."_s;
        QCOMPARE(desktop.urls(), QList<QUrl>(opened ? 1 : 0, QUrl(ExternalHosts::downloadPage)));
    }

    void country_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("page"); // null: the server is down
        QTest::addColumn<QString>("country");
        QTest::addColumn<QString>("message"); // null: none

        // The country is the text of the link right before the first flag image.
        const QByteArray head = "HTTP/1.0 200 OK\r\n\r\n";
        const QByteArray page = head + "<a>X</a> <img src='/flags/x.gif'>";
        const QString bad = u"Please provide a legitimate IP address."_s;
        QTest::newRow("name trimmed, three-digit last group")
            << "81.169.145.100" << head + "<b><a href='x'>\n\t United States </a> <img src='/flags/us.gif'></b>"
            << "United States" << QString();
        QTest::newRow("first of two markers; a group above 255 is sent")
            << "300.1.1.1" << head + "<a>Germany</a> <img src='/flags/de.gif'><a>France</a> <img src='/flags/fr.gif'>"
            << "Germany" << QString();
        QTest::newRow("double quotes are not the marker")
            << "1.2.3.4" << head + "<a>Spain</a> <img src=\"/flags/es.gif\">"
            << "" << QString();
        QTest::newRow("no tag before the marker")
            << "1.2.3.4" << QByteArray("Italy</a> <img src='/flags/it.gif'>") << "" << QString();
        QTest::newRow("leading blank") << " 1.2.3.4" << page << placeholder << bad;
        QTest::newRow("four-digit group") << "1.2.3.1000" << page << placeholder << bad;
        QTest::newRow("empty") << "" << page << placeholder << QString();
        QTest::newRow("server down") << "8.8.8.8" << QByteArray() << placeholder
                                     << u"Remote server down or timeout, please try again later"_s;
    }

    void country()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, page);
        QFETCH(QString, country);
        QFETCH(QString, message);

        if (page.isNull())
            HttpPort::setPortForTests(FakeHttpServer::unusedPort());
        m_server->setDefaultReply(FakeReply::whole(page));
        DialogAnswerer dialogs;
        IPToCountry window;
        auto* label = window.findChild<QLabel*>(u"lblCountry"_s);
        window.findChild<QLineEdit*>(u"lineEdit"_s)->setText(address);
        window.findChild<QPushButton*>(u"btnQuery"_s)->click();
        QTest::qWait(200);
        QTRY_COMPARE(label->text(), country);
        QTRY_COMPARE(dialogs.count(), message.isNull() ? 0 : 1);
        if (!message.isNull()) {
            QCOMPARE(dialogs.last().title, u"IP To Country"_s);
            QCOMPARE(dialogs.last().text, message);
            QCOMPARE(dialogs.last().icon, QMessageBox::Information);
        }
        const bool sent = message.isNull() && !address.isEmpty();
        QCOMPARE(m_server->requests().size(), sent ? 1 : 0);
        if (sent) {
            const QByteArray request = m_server->requests().first().bytes;
            QVERIFY(request.startsWith(
                QByteArray("GET /en/?IP=" + address.toLatin1() + " HTTP/1.0\r\nHost: www.geoiptool.com\r\n")));
            QVERIFY(!request.contains("Referrer") && !request.contains("Cookie"));
        }

        // Typing puts the placeholder back.
        window.findChild<QLineEdit*>(u"lineEdit"_s)->setText(u"8"_s);
        QCOMPARE(label->text(), placeholder);
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
        QFETCH(QStringList, pieces);
        QRandomGenerator random(20120703);
        // One scanner for every page, as a run has: what one page leaves in it must not reach the next.
        PageScanner scanner;
        int proxies = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray page;
            for (int count = int(random.bounded(1, 40)); count > 0; --count)
                page += pieces.at(int(random.bounded(pieces.size()))).toLatin1();
            const QStringList expected = LiteralScan::scanPage(QString::fromLatin1(page));
            proxies += int(expected.size());
            QStringList found;
            QByteArray scanned = page;
            scanner.scan(scanned, [&](const char* proxy, int length, int colon) {
                found << QString::fromLatin1(proxy, length);
                return proxy[colon] == ':';
            });
            QVERIFY2(found == expected, page.constData());
        }
        QVERIFY(proxies > 1000);
    }

private:
    // Fetches the path from the server; true when exactly one outcome signal came and it was dataRetrieved().
    bool fetch(CWebSocket& socket, const QString& path, int* errors = nullptr)
    {
        QSignalSpy retrieved(&socket, &CWebSocket::dataRetrieved);
        QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
        socket.setHost(u"www.example.com"_s);
        socket.setPath(path);
        socket.setPort(m_server->port());
        socket.startFetch();
        if (!QTest::qWaitFor([&] { return retrieved.count() + failed.count() > 0; }, 10000))
            return false;
        // Anything late, such as a second outcome for the same fetch, shows up in this pause.
        QTest::qWait(150);
        if (errors)
            *errors = int(failed.count());
        return retrieved.count() == 1 && failed.count() == 0;
    }

    // Crawls from the URLs; gives the links reported, sorted, then "done". Anything else comes back unsorted.
    QStringList crawl(CLeechLinks& crawler, const QStringList& urls, int depth)
    {
        const QString done = u"done"_s;
        QStringList events;
        QObject receiver; // the connections go with it
        connect(&crawler, &CLeechLinks::newLeechUrl, &receiver, [&](const QString& link) { events << link; });
        connect(&crawler, &CLeechLinks::linkLeechingComplete, &receiver, [&] { events << done; });
        crawler.setMaxDepth(depth);
        for (const QString& url : urls)
            crawler.addUrl(url);
        crawler.startCrawl();
        if (!QTest::qWaitFor([&] { return events.contains(done); }, 15000))
            return events;
        QTest::qWait(150);
        if (events.count(done) == 1 && events.last() == done) {
            events.removeLast();
            events.sort();
            events << done;
        }
        return events;
    }

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
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<CConfig> m_config;
    QStringList m_signals; // in the order they reached the GUI thread
    QStringList m_written; // output paths told
    std::atomic<int> m_lines{0};
};

QTEST_MAIN(HarvestTest)
#include "tst_harvest.moc"
