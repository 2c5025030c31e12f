// The fetching below the harvest engine, against a scripted server on loopback: URL records, the page fetcher and
// its page writer, the links of a page and the link crawler, the leech list download.
#include "extraction/pagetext.h"
#include "leech/leechlinks.h"
#include "leech/leechlist.h"
#include "leech/leechsocket.h"
#include "leech/pagewriter.h"
#include "leech/weblinkcrawl.h"
#include "settings/userfolders.h"
#include "tests/support/loopback.h"
#include "tests/support/runfiles.h"
#include "tests/support/testkit.h"

#include <QNetworkProxy>

using TXL::QtLib::Web::CWebSocket;

Q_DECLARE_METATYPE(FakeReply)

namespace {

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

QByteArray linkPage(const QList<QByteArray>& hrefs)
{
    QByteArray page = okHead + "<html><body><table>\n";
    for (const QByteArray& href : hrefs)
        page += "<tr><td><a href=\"" + href + "\">More proxies</a></td></tr>\n";
    return page + "</table></body></html>\n";
}

} // namespace

class LeechTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        // The start-up folder set-up has made the data and output folders by the time fetchers are created.
        QVERIFY(QDir().mkpath(UserFolders::dataFolder()) && QDir().mkpath(UserFolders::outputFolder()));
        m_server = startLoopbackServer();
        QVERIFY(m_server);
    }

    void cleanup()
    {
        stopLoopbackServer(m_server);
        m_home.reset();
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
        // Time enough for the slow page under a sanitizer: timed out, it would leave no page to stop on.
        startRun(*fetcher, 4, {u"www.alpha.com/slow.html"_s, u"www.alpha.com/next.html"_s}, 3000);
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

    // A page on disk is written in pieces, a page in memory whole: the extraction must read the same of both.
    void pageWriter_storesTheReadablePage_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("pairs");
        QTest::addColumn<bool>("cut");

        QTest::newRow("plain page") << QByteArray("<p>1.2.3.4:80</p>") << u"example.com"_s << false << false;
        // The rewrite shortens the text, so its pieces no longer fall where the reply's would.
        QTest::newRow("marked site over several pieces")
            << QByteArray("&host=10.0.0.1&port=3128&isSocks=0<br>").repeated(70000) << u"www.proxy-listen.de"_s << false
            << false;
        const QByteArray rows = "<tr><td>1.2.3.4</td><td>80</td></tr><tr><td>5.6.7.8</td><td>8080";
        QTest::newRow("pairs behind") << rows << u"example.com"_s << true << false;
        QTest::newRow("pairs of a cut page") << rows << u"example.com"_s << true << true;
    }

    void pageWriter_storesTheReadablePage()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, host);
        QFETCH(bool, pairs);
        QFETCH(bool, cut);
        QVERIFY(QDir().mkpath(pageFolder().path()));
        const QString path = pageFolder().filePath(u"0-1.dat"_s);
        QString failure;
        QVERIFY(CPageWriter::storePage(path, reply, host, &failure, PageReading{pairs, cut, QByteArray()}));
        QCOMPARE(failure, QString());
        QCOMPARE(readFile(path), PageText::readable(reply, host, PageReading{pairs, cut, QByteArray()}));
        QCOMPARE(pageNames(), QStringList{u"0-1.dat"_s}); // no partial page left behind
        QVERIFY(!CPageWriter::storePage(path, QByteArray(), host));
        QCOMPARE(
            readFile(path),
            PageText::readable(reply, host, PageReading{pairs, cut, QByteArray()})); // an empty reply writes nothing
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
        QTest::addColumn<bool>("today");           // today's rules, as the command line crawls; %1 is the server's port
        QTest::addColumn<QStringList>("requests"); // Host line and path of each request, in order
        QTest::addColumn<QStringList>("links");    // reported, in the order first found

        const QStringList index{"http://www.alpha.com/index.html"};
        // Files of a type that holds no list are left out: judged by the last path segment's extension.
        const QStringList level1{"www.alpha.com/a1.html",
                                 "www.beta.org/b1.html",
                                 "www.example.com",
                                 "www.alpha.com/list/jpg",
                                 "www.alpha.com/backup.zip/",
                                 "www.alpha.com/get.php?file=a.zip",
                                 "www.alpha.com/tools.exe/index.html"};
        const QStringList indexOnly{"www.alpha.com /index.html"};
        QTest::newRow("depth 0: the user's page only") << index << 0 << false << indexOnly << level1;
        QTest::newRow("depth -1 like 0") << index << -1 << false << indexOnly << level1;
        // a1 is linked from index and b1: fetched for each, reported once. A bare host that starts with "www."
        // asks for its own name without it as the path.
        QTest::newRow("depth 2") << index << 2 << false
                                 << indexOnly + QStringList{"www.alpha.com /a1.html",
                                                            "www.beta.org /b1.html",
                                                            "www.example.com /example.com",
                                                            "www.alpha.com /list/jpg",
                                                            "www.alpha.com /backup.zip/",
                                                            "www.alpha.com /get.php?file=a.zip",
                                                            "www.alpha.com /tools.exe/index.html",
                                                            "www.alpha.com /a2.html",
                                                            "www.alpha.com /a1.html",
                                                            "www.beta.org /b2.html"}
                                 << level1 + QStringList{"www.alpha.com/a2.html", "www.beta.org/b2.html",
                                                         "www.alpha.com/a3.html"};
        // A failed fetch leaves the page before as the base's result; none of its links may come again.
        QTest::newRow("failure after a completed page adds nothing")
            << QStringList{"www.alpha.com/fine.html", "www.beta.org/stall.html"} << 1 << false
            << QStringList{"www.alpha.com /fine.html", "www.beta.org /stall.html", "www.alpha.com /x.html"}
            << QStringList{"www.alpha.com/x.html"};
        QTest::newRow("failing pages skipped")
            << QStringList{"www.alpha.com/stall.html", "www.alpha.com/to-stall.html"} << 1 << false
            << QStringList{"www.alpha.com /stall.html", "www.alpha.com /to-stall.html", "www.alpha.com /stall.html",
                           "www.alpha.com /fine.html"}
            << QStringList{"www.alpha.com/stall.html", "www.alpha.com/fine.html", "www.alpha.com/x.html"};
        // Found links keep their case and query, lose their fragment, and are asked for with the port in the Host.
        QTest::newRow("today's rules: whole URLs, case kept")
            << QStringList{"http://www.alpha.com:%1/Mixed/Index.html"} << 1 << true
            << QStringList{"www.alpha.com:%1 /Mixed/Index.html", "www.alpha.com:%1 /Mixed/Page2.html?Sort=Desc",
                           "www.alpha.com:%1 /a1.html"}
            << QStringList{"http://www.alpha.com:%1/Mixed/Page2.html?Sort=Desc", "http://www.alpha.com:%1/a1.html"};
    }

    void crawl()
    {
        QFETCH(QStringList, urls);
        QFETCH(int, depth);
        QFETCH(bool, today);
        QFETCH(QStringList, requests);
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
        m_server->setReply(u"/Mixed/Index.html"_s,
                           FakeReply::whole(linkPage({"Page2.html?Sort=Desc#top", "/a1.html", "images/Logo.PNG"})));
        const QString port = QString::number(m_server->port());
        for (QStringList* list : {&urls, &requests, &links})
            list->replaceInStrings(u"%1"_s, port);

        links << u"done"_s;
        if (today) {
            // The command line's crawl, through libcurl.
            TXL::QtLib::Web::CurlMulti multi;
            WebLinkCrawl crawler(multi);
            crawler.setTimeout(400);
            QCOMPARE(crawl(crawler, urls, depth), links);
        } else {
            CLeechLinks crawler;
            crawler.setTimeout(400);
            QCOMPARE(crawl(crawler, urls, depth), links);
        }
        QStringList sent;
        for (const FakeRequest& request : m_server->requests()) {
            const QString host = request.host;
            // The window's crawler: the window's request, and nobody sets its referrer or cookie.
            if (!today)
                QCOMPARE(request.bytes,
                         "GET " + request.path.toLatin1() + " HTTP/1.0\r\nHost: " + host.toLatin1() +
                             "\r\nUser-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.1.2) "
                             "Gecko/20090729 Firefox/3.5.2 (.NET CLR 3.5.30729)\r\nConnection: close\r\n\r\n");
            sent << host + u' ' + request.path;
        }
        QCOMPARE(sent, requests);
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
                 QStringList({"www.alpha.com/a1.html", "www.beta.org/b1.html", "www.alpha.com/a3.html", "done"}));
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

private:
    // Crawls from the URLs; gives the links reported, in order, then "done".
    template <typename Crawler> QStringList crawl(Crawler& crawler, const QStringList& urls, int depth)
    {
        const QString done = u"done"_s;
        QStringList events;
        QObject receiver; // the connections go with it
        connect(&crawler, &Crawler::newLeechUrl, &receiver, [&](const QString& link) { events << link; });
        connect(&crawler, &Crawler::linkLeechingComplete, &receiver, [&] { events << done; });
        crawler.setMaxDepth(depth);
        for (const QString& url : urls)
            crawler.addUrl(url);
        crawler.startCrawl();
        if (!QTest::qWaitFor([&] { return events.contains(done); }, 15000))
            return events;
        QTest::qWait(150);
        return events;
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeHttpServer> m_server;
};

QTEST_MAIN(LeechTest)
#include "tst_leech.moc"
