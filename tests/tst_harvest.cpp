// The harvest engine against a scripted server on loopback: which pages it fetches, under which names it stores
// them, and what the extraction and the report make of them.
#include "harvest/harvestengine.h"
#include "harvest/webfetching.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/loopback.h"
#include "tests/support/runfiles.h"
#include "tests/support/testkit.h"

namespace {

QByteArray proxyPage(const QByteArray& body)
{
    return okHead + "<html><body>" + body + "</body></html>\n";
}

// A URL as a failed comparison prints it: one of megabytes by its start and length.
QString shown(const QString& url)
{
    return url.size() > 1000 ? u"%1... (%2 characters)"_s.arg(url.left(30)).arg(url.size()) : url;
}

} // namespace

class HarvestTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        QVERIFY(UserFolders::makeUserFolders().isEmpty());
        m_server = startLoopbackServer();
        QVERIFY(m_server);
        m_config = std::make_unique<CConfig>();
        m_config->setSaveOnExit(false);
    }

    void cleanup()
    {
        stopLoopbackServer(m_server);
        m_config.reset();
        m_home.reset();
    }

    // Every page a fetcher stores keeps a name of its own, the last one is on disk before the fetcher reports,
    // every line of every page reaches the list and the report, and a page that fails leaves the rest to go on.
    void harvest_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("depth");           // 0: a Single Crawl
        QTest::addColumn<QStringList>("lines");   // of the output file, in order
        QTest::addColumn<QStringList>("sources"); // of the report: url, page file, lines, outcome
        QTest::addColumn<qint64>("memory");       // the command line's fetching with this budget; -1 the window's

        const QString a = u"http://www.alpha.com/a.html"_s;
        const QString b = u"http://www.alpha.com/b.html"_s;
        const QString big = u"http://www.beta.org/big.html"_s;
        const QString bigToo = u"http://www.beta.org/big2.html"_s;
        const QString none = u"http://www.beta.org/none.html"_s;
        const QString index = u"http://www.beta.org/index.html"_s;
        // A list line can be longer than the 8 MB libcurl takes for a URL: it refuses the transfer's set-up.
        const QString tooLong = u"http://www.alpha.com/"_s + QString(8000000, u'x');
        const QString refused = shown(tooLong) + u"  0 error: A libcurl function was given a bad argument"_s;
        QTest::newRow("one fetcher, several pages, a large one last")
            << QStringList{a, none, b, big} << 1 << 0
            << QStringList{"10.0.0.1:80", "10.0.0.2:8080", "10.0.1.1:3128", "10.0.9.9:9999"}
            << QStringList{a + " 0-0.dat 2 ok", none + " 0-1.dat 0 ok", b + " 0-2.dat 1 ok", big + " 0-3.dat 1 ok"}
            << qint64(-1);
        const QStringList twoBlocks = {a + " 0-0.dat 2 ok", b + " 0-1.dat 1 ok", none + " 1-0.dat 0 ok",
                                       big + " 1-1.dat 1 ok", index + " 1-2.dat 1 ok"};
        const QStringList twoBlocksLines = {"10.0.0.1:80", "10.0.0.2:8080", "10.0.1.1:3128", "10.0.9.9:9999",
                                            "10.0.2.1:81"};
        QTest::newRow("two fetchers, a block each")
            << QStringList{a, b, none, big, index} << 2 << 0 << twoBlocksLines << twoBlocks << qint64(-1);
        // The command line's pages have the names and the order of the window's, in memory or on disk.
        QTest::newRow("command line, every page in memory")
            << QStringList{a, b, none, big, index} << 2 << 0 << twoBlocksLines << twoBlocks << (qint64(1) << 30);
        QTest::newRow("command line, past the budget on disk")
            << QStringList{a, b, none, big, index} << 2 << 0 << twoBlocksLines << twoBlocks << qint64(20);
        // Past the budget the older large page goes on alone; the other waits until the first is read and let go.
        QTest::newRow("command line, two pages larger than the budget at once")
            << QStringList{big, bigToo, a} << 2 << 0
            << QStringList{"10.0.9.9:9999", "10.0.9.8:9998", "10.0.0.1:80", "10.0.0.2:8080"}
            << QStringList{big + " 0-0.dat 1 ok", bigToo + " 1-0.dat 1 ok", a + " 1-1.dat 2 ok"} << (qint64(1) << 20);
        QTest::newRow("command line, a URL libcurl refuses among the pages")
            << QStringList{a, tooLong, b} << 1 << 0 << QStringList{"10.0.0.1:80", "10.0.0.2:8080", "10.0.1.1:3128"}
            << QStringList{a + " 0-0.dat 2 ok", refused, b + " 0-2.dat 1 ok"} << (qint64(1) << 30);
        // A page only a link leads to is harvested as well.
        QTest::newRow("link followed") << QStringList{index} << 1 << 1
                                       << QStringList{"10.0.2.1:81", "10.0.0.1:80", "10.0.0.2:8080"}
                                       << QStringList{index + " 0-0.dat 1 ok", "www.alpha.com/a.html 0-1.dat 2 ok"}
                                       << qint64(-1);
        // Found links are whole URLs on the command line.
        QTest::newRow("command line, link followed")
            << QStringList{index} << 1 << 1 << QStringList{"10.0.2.1:81", "10.0.0.1:80", "10.0.0.2:8080"}
            << QStringList{index + " 0-0.dat 1 ok", a + " 0-1.dat 2 ok"} << (qint64(1) << 30);
        // The crawl goes on past the page it could not fetch, and so does the harvest.
        QTest::newRow("command line, a crawl from a URL libcurl refuses")
            << QStringList{tooLong, index} << 1 << 1 << QStringList{"10.0.2.1:81", "10.0.0.1:80", "10.0.0.2:8080"}
            << QStringList{refused, index + " 0-1.dat 1 ok", a + " 0-2.dat 2 ok"} << (qint64(1) << 30);
    }

    void harvest()
    {
        QFETCH(QStringList, urls);
        QFETCH(int, threads);
        QFETCH(int, depth);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, sources);
        QFETCH(qint64, memory);

        m_server->setReply(u"www.alpha.com"_s, u"/a.html"_s, FakeReply::whole(proxyPage("10.0.0.1:80 10.0.0.2:8080")));
        m_server->setReply(u"www.alpha.com"_s, u"/b.html"_s, FakeReply::whole(proxyPage("<td>10.0.1.1:3128</td>")));
        m_server->setReply(u"www.beta.org"_s, u"/none.html"_s, FakeReply::whole(proxyPage("no proxies here")));
        // Large enough that its page file takes a while to write.
        m_server->setReply(u"www.beta.org"_s, u"/big.html"_s,
                           FakeReply::whole(proxyPage(QByteArray(32 << 20, 'x') + " 10.0.9.9:9999")));
        m_server->setReply(u"www.beta.org"_s, u"/big2.html"_s,
                           FakeReply::whole(proxyPage(QByteArray(32 << 20, 'x') + " 10.0.9.8:9998")));
        m_server->setReply(u"www.beta.org"_s, u"/index.html"_s,
                           FakeReply::whole(proxyPage("10.0.2.1:81 <a href=\"http://www.alpha.com/a.html\">1</a>")));
        // The window's engine reads its settings; the command line's a job.
        m_config->setDepth(depth);
        HarvestJob job;
        job.rules = HarvestJob::Rules::Web;
        job.urls = urls;
        job.threads = threads;
        job.depth = depth;
        job.memoryBudget = memory;
        std::unique_ptr<CHarvestEngine> made =
            memory < 0 ? std::make_unique<CHarvestEngine>(m_config.get()) : std::make_unique<CHarvestEngine>(job);
        CHarvestEngine& engine = *made;
        if (memory < 0) {
            engine.setUrls(urls);
            engine.setThreads(threads);
        }
        QSignalSpy finished(&engine, &CHarvestEngine::extractionFinished);
        QSignalSpy found(&engine, &CHarvestEngine::proxiesFound); // the window's "PE:" and the command line's count
        engine.start(depth > 0 ? CHarvestEngine::MultipleCrawl : CHarvestEngine::SingleCrawl);
        QVERIFY(finished.wait(60000));

        const QMap<QString, QByteArray> files = outputFiles();
        QCOMPARE(files.size(), 1);
        QStringList written = QString::fromLatin1(files.first()).split(u"\r\n"_s);
        QCOMPARE(written.takeLast(), QString());
        QStringList reported;
        const QHash<QString, int> perPage = engine.linesPerPage();
        for (const CCrawlResult& result : engine.sourceResults())
            reported << u"%1 %2 %3 %4"_s.arg(shown(result.url()), result.pageName())
                            .arg(perPage.value(result.pageName()))
                            .arg(result.outcome().text());
        QCOMPARE(written, lines);
        QCOMPARE(reported, sources);
        int counted = 0;
        for (const QList<QVariant>& told : std::as_const(found))
            counted += told.at(0).toInt();
        QCOMPARE(counted, int(written.size()));
        // Every page read is gone; none was left behind for a later run.
        QCOMPARE(QDir(UserFolders::runFolder(engine.runStamp()))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<CConfig> m_config;
};

QTEST_MAIN(HarvestTest)
#include "tst_harvest.moc"
