#include "harvest/harvestengine.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testkit.h"
#include "util/httpport.h"

namespace {

QByteArray proxyOf(int n)
{
    return "10.0.0." + QByteArray::number(n) + ":80" + QByteArray::number(10 + n);
}

QByteArray pageWithProxy(int n)
{
    return "<html><body><table><tr><td>" + proxyOf(n) + "</td></tr></table></body></html>";
}

QString urlOf(int n)
{
    return u"http://www.site%1.com/list%1.html"_s.arg(n);
}

} // namespace

// Whole harvests run by the engine alone, without a widget, with its fetchers pointed at a loopback server.
class HarvestTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        QVERIFY(QDir().mkpath(UserFolders::dataFolder()) && QDir().mkpath(UserFolders::outputFolder()));
        m_server = std::make_unique<FakeHttpServer>();
        QVERIFY(m_server->listen());
        HttpPort::setConnectHostForTests(u"127.0.0.1"_s);
        HttpPort::setPortForTests(m_server->port());
        m_config = std::make_unique<CConfig>();
        m_config->setSaveOnExit(false);
        m_events.clear();
        m_sizes.clear();
        m_proxies = m_pagesDone = m_pagesTotal = 0;
    }

    void cleanup()
    {
        m_config.reset();
        m_server.reset();
        m_home.reset();
        HttpPort::setConnectHostForTests(QString());
        HttpPort::setPortForTests(80);
    }

    void harvest_reportsInOrder_data()
    {
        QTest::addColumn<int>("urls");
        QTest::addColumn<int>("threads");
        QTest::addColumn<bool>("proxies"); // each page holds its proxy
        QTest::addColumn<int>(
            "stopAfter"); // Stop once this many fetchers have reported and the rest stall; -1: no Stop
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("lines");

        const auto reports = [](int from, int to, int inUse) {
            QStringList texts;
            for (int n = from; n <= to; ++n)
                texts << u"report %1/%2"_s.arg(n).arg(inUse);
            return texts;
        };
        QTest::newRow("7 urls, 5 threads") << 7 << 5 << true << -1
                                           << QStringList{"starting"} + reports(1, 5, 5) +
                                                  QStringList{"sizes 7", "complete after 7", "written", "finished"}
                                           << 7;
        // The pages stay for the next harvest; no file is left.
        QTest::newRow("no proxies") << 2 << 5 << false << -1
                                    << QStringList{"starting", "limited 2"} + reports(1, 2, 2) +
                                           QStringList{"sizes 2", "none", "finished"}
                                    << 0;
        // Every fetcher reports on Stop, so the count passes the fetchers in use; the aborted fetchers' sizes are
        // gone and the page that was in is extracted.
        QTest::newRow("stop while a page stalls")
            << 2 << 2 << true << 1
            << QStringList{"starting"} + reports(1, 2, 2) + QStringList{"sizes 0"} + reports(3, 21, 2) +
                   QStringList{"complete after 1", "written", "finished"}
            << 1;
    }

    void harvest_reportsInOrder()
    {
        QFETCH(int, urls);
        QFETCH(int, threads);
        QFETCH(bool, proxies);
        QFETCH(int, stopAfter);
        QFETCH(QStringList, events);
        QFETCH(int, lines);

        QStringList list;
        QList<QByteArray> bodies;
        for (int n = 0; n < urls; ++n) {
            bodies << (proxies ? pageWithProxy(n) : QByteArray("<p>nothing here today</p>"));
            const FakeReply reply =
                stopAfter >= 0 && n >= stopAfter ? FakeReply::keepOpenAfter(QByteArray()) : FakeReply::page(bodies[n]);
            m_server->setReply(u"www.site%1.com"_s.arg(n), u"/list%1.html"_s.arg(n), reply);
            list << urlOf(n);
        }

        CHarvestEngine engine(m_config.get());
        record(engine);
        engine.setUrls(list);
        engine.setThreads(threads);
        engine.start(CHarvestEngine::SingleCrawl);
        if (stopAfter >= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(u"report %1/%2"_s.arg(stopAfter).arg(threads)), 20000);
            engine.stop();
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(u"finished"_s), 20000);
        QCOMPARE(m_events, events);
        QCOMPARE(m_pagesTotal, urls);

        // Each page's whole reply is counted, in fetcher order, which is list order here.
        if (stopAfter < 0) {
            QCOMPARE(m_sizes.size(), urls);
            for (int n = 0; n < urls; ++n)
                QCOMPARE(m_sizes[n].bytes(), int(FakeReply::page(bodies[n]).parts.join().size()));
        }

        // One file with one line per page holding a proxy, in page-file order; the run's pages are gone with it.
        const QDir output(UserFolders::outputFolder());
        const QStringList files = output.entryList(QDir::Files);
        QCOMPARE(files.size(), lines > 0 ? 1 : 0);
        const QStringList stored = QDir(UserFolders::runFolder(engine.runStamp())).entryList(QDir::Files);
        QCOMPARE(stored.isEmpty(), lines > 0);
        if (lines == 0)
            return;
        QVERIFY2(files.first().startsWith(QString::number(lines) + QLatin1Char('-')), qPrintable(files.first()));
        QByteArray expected;
        for (int n = 0; n < lines; ++n)
            expected += proxyOf(n) + "\r\n";
        QCOMPARE(readFile(output.filePath(files.first())), expected);
    }

private:
    void record(CHarvestEngine& engine)
    {
        connect(&engine, &CHarvestEngine::harvestStarting, this, [this] { m_events << "starting"; });
        connect(&engine, &CHarvestEngine::threadsLimited, this,
                [this](int threads) { m_events << u"limited %1"_s.arg(threads); });
        connect(&engine, &CHarvestEngine::reportCounted, this,
                [this](quint32 completed, int inUse) { m_events << u"report %1/%2"_s.arg(completed).arg(inUse); });
        connect(&engine, &CHarvestEngine::urlFinished, this, [this](int done, int total) {
            QCOMPARE(done, m_pagesDone + 1);
            m_pagesDone = done;
            m_pagesTotal = total;
        });
        connect(&engine, &CHarvestEngine::pagesFetched, this, [this](const QList<CCrawlResult>& results) {
            m_sizes = results;
            m_events << u"sizes %1"_s.arg(results.size());
        });
        connect(&engine, &CHarvestEngine::proxiesFound, this, [this](int count) { m_proxies += count; });
        // The count is whole before the end is told.
        connect(&engine, &CHarvestEngine::harvestComplete, this,
                [this] { m_events << u"complete after %1"_s.arg(m_proxies); });
        connect(&engine, &CHarvestEngine::outputWritten, this, [this] { m_events << "written"; });
        connect(&engine, &CHarvestEngine::noProxyResults, this, [this] { m_events << "none"; });
        connect(&engine, &CHarvestEngine::extractionFinished, this, [this] { m_events << "finished"; });
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<CConfig> m_config;
    QStringList m_events;
    QList<CCrawlResult> m_sizes;
    int m_proxies = 0;
    int m_pagesDone = 0;
    int m_pagesTotal = 0;
};

QTEST_GUILESS_MAIN(HarvestTest)
#include "tst_harvest.moc"
