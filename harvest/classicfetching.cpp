#include "harvest/classicfetching.h"

#include "harvest/harvestplan.h"

ClassicFetching::ClassicFetching(std::function<int()> inUse, const HarvestJob& job, QObject* parent)
    : PageFetching(parent), m_inUse(std::move(inUse))
{
    for (int i = 0; i < fetcherCount; ++i) {
        auto* fetcher = new CLeechSocket;
        fetcher->setReadsStructure(job.readsStructure());
        connect(fetcher, &CLeechSocket::urlListProcessed, this, &ClassicFetching::fetcherReported,
                Qt::QueuedConnection);
        connect(fetcher, &CLeechSocket::pageNotStored, this, &PageFetching::pageNotStored);
        connect(fetcher, &CLeechSocket::urlFinished, this, &PageFetching::urlFinished);
        m_fetchers.append(fetcher);
        fetcher->start(QThread::InheritPriority);
    }
    m_crawler = new CLeechLinks;
    connect(m_crawler, &CLeechLinks::newLeechUrl, this, &PageFetching::linkFound);
    connect(m_crawler, &CLeechLinks::linkLeechingComplete, this, &PageFetching::crawlDone);
}

ClassicFetching::~ClassicFetching()
{
    delete m_crawler;
    // The fetchers' threads only run an idle event loop, so asking them to leave it and waiting is enough.
    for (CLeechSocket* fetcher : std::as_const(m_fetchers)) {
        fetcher->exit(0);
        fetcher->wait();
        delete fetcher;
    }
}

int ClassicFetching::prepare(quint32 runStamp)
{
    int failures = 0;
    for (CLeechSocket* fetcher : std::as_const(m_fetchers))
        failures += fetcher->setDataFolder(runStamp) ? 0 : 1;
    return failures;
}

void ClassicFetching::fetch(const QStringList& urls, int threads, int timeoutMs)
{
    const QVector<HarvestPlan::Block> blocks = HarvestPlan::splitIntoBlocks(int(urls.size()), threads);
    m_completed = 0;
    for (int t = 0; t < blocks.size(); ++t) {
        CLeechSocket* fetcher = m_fetchers[t];
        fetcher->reset();
        fetcher->clearQueue();
        fetcher->setTimeout(timeoutMs);
        for (int i = blocks[t].first; i < blocks[t].first + blocks[t].count; ++i) {
            CLeechUrl url;
            url.parse(urls[i], 0, QString());
            fetcher->addUrl(url);
        }
        fetcher->setSocketDescriptor(t);
        fetcher->fetchQueue();
    }
}

void ClassicFetching::fetcherReported()
{
    ++m_completed;
    const int inUse = m_inUse();
    emit reported(m_completed, inUse);
    if (m_completed == quint32(inUse))
        emit allReported();
}

void ClassicFetching::abort()
{
    // Every fetcher reports its list as processed, so a harvest under way reaches its extraction.
    for (CLeechSocket* fetcher : std::as_const(m_fetchers)) {
        fetcher->abort();
        if (fetcher->isRunning())
            fetcher->exit(0);
        fetcher->clearQueue();
    }
}

QList<CCrawlResult> ClassicFetching::results() const
{
    QList<CCrawlResult> results;
    const int inUse = m_inUse();
    for (int t = 0; t < inUse && t < m_fetchers.size(); ++t)
        results += m_fetchers[t]->results();
    return results;
}

// Each fetcher's results, then the URLs it had not done, in list order.
QList<CCrawlResult> ClassicFetching::resultsSoFar() const
{
    QList<CCrawlResult> results;
    for (int t = 0; t < m_inUse() && t < m_fetchers.size(); ++t) {
        results += m_fetchers[t]->results();
        for (const CLeechUrl& url : m_fetchers[t]->queue())
            results << CCrawlResult::stopped(t, url.url());
    }
    return results;
}

void ClassicFetching::crawl(const QStringList& urls, int depth)
{
    m_crawler->setMaxDepth(depth);
    for (const QString& url : urls)
        m_crawler->addUrl(url);
    m_crawler->startCrawl();
}

void ClassicFetching::stopCrawl()
{
    m_crawler->abort();
}

bool ClassicFetching::crawling() const
{
    return m_crawler->crawling();
}
