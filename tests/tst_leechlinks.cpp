#include "util/httpport.h"
#include "leech/leechlinks.h"
#include "tests/support/fakehttpserver.h"

#include <QSignalSpy>
#include <QtTest>

#include <climits>
#include <numeric>

namespace {

const QString completion = QStringLiteral("<complete>");

QByteArray linkPage(const QList<QByteArray>& hrefs)
{
    QByteArray body = "<html><body><table>\n";
    for (const QByteArray& href : hrefs)
        body += "<tr><td><a href=\"" + href + "\">More proxies</a></td></tr>\n";
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body + "</table></body></html>\n";
}

// Everything the crawler reported, in order, with the completion as its own entry.
class CrawlRecorder
{
public:
    explicit CrawlRecorder(CLeechLinks& crawler)
    {
        QObject::connect(&crawler, &CLeechLinks::newLeechUrl, &crawler,
                         [this](const QString& link) { m_events.append(link); });
        QObject::connect(&crawler, &CLeechLinks::linkLeechingComplete, &crawler,
                         [this] { m_events.append(completion); });
    }

    QStringList events() const { return m_events; }
    int completions() const { return int(m_events.count(completion)); }
    QStringList links() const
    {
        QStringList links = m_events;
        links.removeAll(completion);
        links.sort();
        return links;
    }
    // Every link before the one completion, which ends the list.
    bool inOrder() const { return completions() == 1 && m_events.last() == completion; }

private:
    QStringList m_events;
};

} // namespace

class LeechLinksTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void extractLinks_data();
    void extractLinks();
    void isUnwantedFile_data();
    void isUnwantedFile();

    void crawl_data();
    void crawl();
    void pageLinkedTwice_fetchedTwiceReportedOnce();
    void secondCrawl_reReportsEarlierLinks();
    void failedPages_data();
    void failedPages();
    void emptyQueue_startsNothing();

private:
    void serveSite();
    // Crawls from the URLs until the completion; false if it never came.
    bool crawl(CLeechLinks& crawler, const QStringList& urls, int depth);

    FakeHttpServer* m_server = nullptr;
};

void LeechLinksTest::initTestCase()
{
    m_server = new FakeHttpServer(this);
    QVERIFY(m_server->listen());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
}

void LeechLinksTest::init()
{
    HttpPort::setPortForTests(m_server->port());
    m_server->clearRequests();
}

void LeechLinksTest::cleanupTestCase()
{
    HttpPort::setPortForTests(80);
    HttpPort::setConnectHostForTests(QString());
}

void LeechLinksTest::serveSite()
{
    const QString alpha = QStringLiteral("www.alpha.com");
    const QString beta = QStringLiteral("www.beta.org");
    m_server->setReply(alpha, QStringLiteral("/index.html"),
                       FakeReply::whole(linkPage({"/a1.html", "HTTP://WWW.Beta.ORG/b1.html", "http://1.2.3.4/x",
                                                  "images/logo.png", "mailto:admin@alpha.com"})));
    m_server->setReply(alpha, QStringLiteral("/a1.html"), FakeReply::whole(linkPage({"a2.html"})));
    m_server->setReply(beta, QStringLiteral("/b1.html"),
                       FakeReply::whole(linkPage({"http://www.alpha.com/a1.html", "/b2.html"})));
    m_server->setReply(alpha, QStringLiteral("/a2.html"), FakeReply::whole(linkPage({"/a3.html"})));
    m_server->setReply(beta, QStringLiteral("/b2.html"), FakeReply::whole(linkPage({})));
    m_server->setReply(alpha, QStringLiteral("/a3.html"), FakeReply::whole(linkPage({"/a4.html"})));
}

bool LeechLinksTest::crawl(CLeechLinks& crawler, const QStringList& urls, int depth)
{
    QSignalSpy complete(&crawler, &CLeechLinks::linkLeechingComplete);
    crawler.setMaxDepth(depth);
    for (const QString& url : urls)
        crawler.addUrl(url);
    crawler.startCrawl();
    if (!complete.wait(15000))
        return false;
    // A second completion or a late link would show up here.
    QTest::qWait(150);
    return true;
}

void LeechLinksTest::extractLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("links");

    const QString host = QStringLiteral("www.example.com");
    QTest::newRow("absolute, rooted, numeric")
        << "<a href=\"http://www.example.com/list2.html\">2</a>"
           "<a href=\"/list3.html\">3</a><a href=\"http://1.2.3.4/x\">x</a>"
        << host << "/" << QStringList{"www.example.com/list2.html", "www.example.com/list3.html"};
    QTest::newRow("everything from the page lower-cased")
        << "<A HREF=\"HTTP://WWW.Example.COM/A.html\">" << host << "/" << QStringList{"www.example.com/a.html"};
    QTest::newRow("page host keeps its case") << "<a href=\"/Page.HTML\">"
                                              << "WWW.Example.com"
                                              << "/" << QStringList{"WWW.Example.com/page.html"};
    QTest::newRow("duplicates kept, page order")
        << "href=\"http://www.b.com/\" href=\"/x\" href=\"http://www.b.com/\"" << host << "/"
        << QStringList{"www.b.com/", "www.example.com/x", "www.b.com/"};
    QTest::newRow("bare host without a slash")
        << "href=\"http://proxies.example.net\"" << host << "/" << QStringList{"proxies.example.net"};
    QTest::newRow("value runs to the end without a closing quote")
        << "x href=\"http://www.b.com/last" << host << "/" << QStringList{"www.b.com/last"};
    QTest::newRow("other quoting and spacing not recognised")
        << "href='http://www.b.com/' href = \"http://www.c.com/\" href=http://www.d.com/" << host << "/"
        << QStringList();
    QTest::newRow("port dropped") << "href=\"http://example.com:8080/x\"" << host << "/" << QStringList();
    QTest::newRow("https dropped") << "href=\"https://www.b.com/x\"" << host << "/" << QStringList();
    QTest::newRow("empty after the scheme dropped") << "href=\"http://\"" << host << "/" << QStringList();
    QTest::newRow("second-level country domain")
        << "href=\"http://www.example.co.uk/p\"" << host << "/" << QStringList{"www.example.co.uk/p"};
    QTest::newRow("too many labels dropped") << "href=\"http://a.sub.example.co.uk/p\"" << host << "/" << QStringList();
    QTest::newRow("long top-level domain dropped")
        << "href=\"http://www.example.museum/\"" << host << "/" << QStringList();
    QTest::newRow("opener inside the first characters of a value is skipped")
        << "href=\"href=\"http://www.b.com/x\"" << host << "/" << QStringList{"www.example.com/href="};
    QTest::newRow("next opener right behind an empty value")
        << "href=\"\"href=\"http://www.b.com/x\"" << host << "/" << QStringList{"www.b.com/x"};
    // Links relative to the page's folder.
    QTest::newRow("relative to the page's folder")
        << "href=\"page2.html\"" << host << "/lists/Index.html" << QStringList{"www.example.com/lists/page2.html"};
    QTest::newRow("relative from a folder page")
        << "href=\"page2.html\"" << host << "/lists/" << QStringList{"www.example.com/lists/page2.html"};
    QTest::newRow("relative from the root")
        << "href=\"page2.html\"" << host << "/" << QStringList{"www.example.com/page2.html"};
    QTest::newRow("dot segments") << "href=\"../d.html\" href=\"./e.html\" href=\"../../../f.html\" href=\"g/..\""
                                  << host << "/a/b/c.html"
                                  << QStringList{"www.example.com/a/d.html", "www.example.com/a/b/e.html",
                                                 "www.example.com/f.html", "www.example.com/a/b/"};
    QTest::newRow("query of the page replaced")
        << "href=\"?page=2\" href=\"p.php?x=../y\"" << host << "/list.php?page=1"
        << QStringList{"www.example.com/list.php?page=2", "www.example.com/p.php?x=../y"};
    QTest::newRow("name that looks like a host is still relative")
        << "href=\"www.b.com/x.html\"" << host << "/d/p.html" << QStringList{"www.example.com/d/www.b.com/x.html"};
    QTest::newRow("the page itself dropped") << "href=\"\" href=\"#top\"" << host << "/p.html" << QStringList();
    QTest::newRow("other schemes dropped")
        << "href=\"mailto:a@example.com\" href=\"javascript:void(0)\" href=\"ftp://www.b.com/\" href=\"news:x\"" << host
        << "/" << QStringList();
}

void LeechLinksTest::extractLinks()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(QString, path);
    QFETCH(QStringList, links);

    QCOMPARE(CLinkExtractor().extractLinks(text, host, path), links);
}

void LeechLinksTest::isUnwantedFile_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("unwanted");

    QTest::newRow("bare host ending in .com") << "www.example.com" << false;
    QTest::newRow("host with a slash") << "www.example.com/" << false;
    QTest::newRow("page") << "www.example.com/proxies.html" << false;
    QTest::newRow("no extension") << "www.example.com/list/jpg" << false;
    QTest::newRow("program named .com") << "www.example.com/files/setup.com" << true;
    QTest::newRow("image") << "www.example.com/a/pic.jpg" << true;
    QTest::newRow("upper-case extension") << "www.example.com/a/PIC.JPEG" << true;
    QTest::newRow("style sheet with a query") << "www.example.com/style.css?v=3" << true;
    QTest::newRow("script with a fragment") << "www.example.com/app.js#main" << true;
    QTest::newRow("archive in the query only") << "www.example.com/get.php?file=a.zip" << false;
    QTest::newRow("type of the last segment only") << "www.example.com/tools.exe/index.html" << false;
    QTest::newRow("folder named like a file") << "www.example.com/backup.zip/" << false;
    QTest::newRow("last extension counts") << "www.example.com/a.tar.gz" << false;
    QTest::newRow("tar") << "www.example.com/a.tar" << true;
}

void LeechLinksTest::isUnwantedFile()
{
    QFETCH(QString, link);
    QFETCH(bool, unwanted);

    QCOMPARE(CLinkExtractor().isUnwantedFile(link), unwanted);
}

void LeechLinksTest::crawl_data()
{
    QTest::addColumn<int>("depth");
    // Fetches of index, a1, b1, a2, b2, a3.
    QTest::addColumn<QList<int>>("fetches");
    QTest::addColumn<QStringList>("links");

    const QStringList level1{"www.alpha.com/a1.html", "www.beta.org/b1.html"};
    const QStringList level2 = QStringList(level1) << "www.alpha.com/a2.html"
                                                   << "www.beta.org/b2.html";
    const QStringList level3 = QStringList(level2) << "www.alpha.com/a3.html";
    const QStringList level4 = QStringList(level3) << "www.alpha.com/a4.html";

    QTest::newRow("depth 0: the user's page only") << 0 << QList<int>{1, 0, 0, 0, 0, 0} << level1;
    QTest::newRow("depth 1") << 1 << QList<int>{1, 1, 1, 0, 0, 0} << level2;
    QTest::newRow("depth 2: a1 linked twice") << 2 << QList<int>{1, 2, 1, 1, 1, 0} << level3;
    QTest::newRow("depth 3") << 3 << QList<int>{1, 2, 1, 2, 1, 1} << level4;
    QTest::newRow("depth -1 like 0") << -1 << QList<int>{1, 0, 0, 0, 0, 0} << level1;
    QTest::newRow("lowest depth like 0") << INT_MIN << QList<int>{1, 0, 0, 0, 0, 0} << level1;
}

void LeechLinksTest::crawl()
{
    QFETCH(int, depth);
    QFETCH(QList<int>, fetches);
    QFETCH(QStringList, links);

    serveSite();
    CLeechLinks crawler;
    CrawlRecorder recorder(crawler);
    QVERIFY(crawl(crawler, {QStringLiteral("http://www.alpha.com/index.html")}, depth));

    const QList<QPair<QString, QString>> pages{{"www.alpha.com", "/index.html"}, {"www.alpha.com", "/a1.html"},
                                               {"www.beta.org", "/b1.html"},     {"www.alpha.com", "/a2.html"},
                                               {"www.beta.org", "/b2.html"},     {"www.alpha.com", "/a3.html"}};
    for (qsizetype i = 0; i < pages.size(); ++i)
        QCOMPARE(m_server->requestCount(pages.at(i).first, pages.at(i).second), fetches.at(i));
    QCOMPARE(m_server->requests().size(), std::accumulate(fetches.begin(), fetches.end(), 0));

    QStringList expected = links;
    expected.sort();
    QCOMPARE(recorder.links(), expected);
    QVERIFY2(recorder.inOrder(), qPrintable(recorder.events().join(QLatin1Char(' '))));

    // Nobody sets the crawler's referrer or cookie.
    for (const FakeRequest& request : m_server->requests()) {
        QVERIFY(!request.bytes.contains("Referrer:"));
        QVERIFY(!request.bytes.contains("Cookie:"));
    }
}

void LeechLinksTest::pageLinkedTwice_fetchedTwiceReportedOnce()
{
    m_server->setReply(QStringLiteral("www.alpha.com"), QStringLiteral("/u1.html"),
                       FakeReply::whole(linkPage({"http://www.gamma.net/shared.html"})));
    m_server->setReply(
        QStringLiteral("www.beta.org"), QStringLiteral("/u2.html"),
        FakeReply::whole(linkPage({"http://www.gamma.net/shared.html", "http://www.gamma.net/shared.html"})));
    m_server->setReply(QStringLiteral("www.gamma.net"), QStringLiteral("/shared.html"),
                       FakeReply::whole(linkPage({"/deeper.html"})));

    CLeechLinks crawler;
    CrawlRecorder recorder(crawler);
    QVERIFY(
        crawl(crawler, {QStringLiteral("www.alpha.com/u1.html"), QStringLiteral("http://www.beta.org/u2.html")}, 1));

    QCOMPARE(m_server->requestCount(QStringLiteral("www.gamma.net"), QStringLiteral("/shared.html")), 3);
    QCOMPARE(m_server->requestCount(QStringLiteral("www.gamma.net"), QStringLiteral("/deeper.html")), 0);
    QCOMPARE(recorder.links(), (QStringList{"www.gamma.net/deeper.html", "www.gamma.net/shared.html"}));
    QVERIFY(recorder.inOrder());
}

void LeechLinksTest::secondCrawl_reReportsEarlierLinks()
{
    serveSite();
    CLeechLinks crawler;
    CrawlRecorder first(crawler);
    QVERIFY(crawl(crawler, {QStringLiteral("www.alpha.com/index.html")}, 0));
    QCOMPARE(first.links(), (QStringList{"www.alpha.com/a1.html", "www.beta.org/b1.html"}));

    CrawlRecorder second(crawler);
    QVERIFY(crawl(crawler, {QStringLiteral("www.alpha.com/a2.html")}, 0));
    // The first recorder hears the second crawl too; the second one only that.
    QCOMPARE(second.links(), (QStringList{"www.alpha.com/a1.html", "www.alpha.com/a3.html", "www.beta.org/b1.html"}));
    QVERIFY(second.inOrder());
    QCOMPARE(m_server->requests().size(), 2);
}

void LeechLinksTest::failedPages_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("only page refused") << true << QStringList{"www.alpha.com/index.html"} << QStringList();
    QTest::newRow("only page times out") << false << QStringList{"www.alpha.com/stall.html"} << QStringList();
    // The failed fetch leaves the previous page as the base's result; none of its links may come again.
    QTest::newRow("failure after a completed page adds nothing")
        << false << QStringList{"www.alpha.com/fine.html", "www.beta.org/stall.html"}
        << QStringList{"www.alpha.com/x.html"};
    QTest::newRow("failing pages skipped")
        << false << QStringList{"www.alpha.com/stall.html", "www.alpha.com/links-to-stall.html"}
        << QStringList{"www.alpha.com/fine.html", "www.alpha.com/stall.html", "www.alpha.com/x.html"};
}

void LeechLinksTest::failedPages()
{
    QFETCH(bool, refused);
    QFETCH(QStringList, urls);
    QFETCH(QStringList, links);

    serveSite();
    m_server->setReply(QStringLiteral("/stall.html"), FakeReply::keepOpenAfter(linkPage({"/never.html"})));
    m_server->setReply(QStringLiteral("/links-to-stall.html"),
                       FakeReply::whole(linkPage({"/stall.html", "fine.html"})));
    m_server->setReply(QStringLiteral("/fine.html"), FakeReply::whole(linkPage({"/x.html"})));
    if (refused)
        HttpPort::setPortForTests(FakeHttpServer::unusedPort());

    CLeechLinks crawler;
    crawler.setTimeout(400);
    CrawlRecorder recorder(crawler);
    QVERIFY(crawl(crawler, urls, 1));
    QCOMPARE(recorder.links(), links);
    QCOMPARE(recorder.completions(), 1);
    QVERIFY(recorder.inOrder());
}

void LeechLinksTest::emptyQueue_startsNothing()
{
    CLeechLinks crawler;
    CrawlRecorder recorder(crawler);
    crawler.setMaxDepth(2);
    crawler.startCrawl();
    QTest::qWait(300);
    QVERIFY(recorder.events().isEmpty());
    QCOMPARE(m_server->requests().size(), 0);
}

QTEST_MAIN(LeechLinksTest)
#include "tst_leechlinks.moc"
