#include "harvest/harvestengine.h"

#include "harvest/classicfetching.h"
#include "harvest/webfetching.h"
#include "settings/config.h"

namespace {

// The one place where a job's rules choose how its pages are fetched.
std::unique_ptr<PageFetching> fetchingFor(const HarvestJob& job, std::function<int()> inUse)
{
    if (job.fetchesTodaysWeb())
        return std::make_unique<WebFetching>(job);
    return std::make_unique<ClassicFetching>(std::move(inUse), job);
}

} // namespace

CHarvestEngine::CHarvestEngine(CConfig* config, QObject* parent)
    : CHarvestEngine(config, config ? HarvestJob::fromSettings(*config) : HarvestJob(), parent)
{
}

CHarvestEngine::CHarvestEngine(const HarvestJob& job, QObject* parent) : CHarvestEngine(nullptr, job, parent) {}

CHarvestEngine::CHarvestEngine(CConfig* config, const HarvestJob& job, QObject* parent)
    : QObject(parent), m_config(config), m_job(job), m_urls(job.urls), m_threads(qBound(1, job.threads, fetcherCount))
{
    // Claimed before the run folder exists, so that another start never takes it for a leftover.
    m_runStamp = m_runClaim.stamp();
    m_extraction.setRunStamp(m_runStamp);
    // The window's template is taken from its settings when the extraction starts.
    if (m_config)
        m_extraction.setConfig(m_config);
    else
        m_extraction.setLineTemplate(job.lineTemplate);
    // A check of the harvest reads them, and a source report counts those no source before gave.
    m_extraction.setKeepProxies(job.keepProxies || !job.reportPath.isEmpty());
    m_extraction.setWholeProxyCopies(job.removesWholeProxyCopies());
    // Counted by the extraction itself and reported a few times a second while it runs: one queued call per line
    // would flood the receiver on a run of many thousands, and even a direct call per line, through the signal,
    // cost a sixth of the extraction of kept pages.
    m_extraction.setLineCounter(&m_unshownProxies);
    m_tallyTimer.setInterval(40);
    connect(&m_tallyTimer, &QTimer::timeout, this, &CHarvestEngine::tallyTick);

    m_fetching = fetchingFor(job, [this] { return m_threads; });
    m_runFolderFailures = m_fetching->prepare(m_runStamp);
    m_extraction.setMemoryPages(m_fetching->memoryPages());
    connect(m_fetching.get(), &PageFetching::reported, this, &CHarvestEngine::fetcherReported);
    connect(m_fetching.get(), &PageFetching::allReported, this, &CHarvestEngine::allPagesIn);
    connect(m_fetching.get(), &PageFetching::pageNotStored, this, [this](const QString& path, const QString& reason) {
        m_unstoredPages << path;
        m_unstoredReason = reason;
    });
    connect(m_fetching.get(), &PageFetching::urlFinished, this,
            [this] { emit urlFinished(++m_finishedUrls, m_harvestUrls); });

    // The extraction counted its last line before it reported its end, so the count is whole before the end
    // is told.
    connect(&m_extraction, &CLeechProxies::harvestComplete, this, [this] {
        showUnshownProxies();
        emit harvestComplete();
    });
    connect(&m_extraction, &CLeechProxies::outputWritten, this, &CHarvestEngine::outputWritten);
    connect(&m_extraction, &CLeechProxies::noProxyResults, this, &CHarvestEngine::noProxyResults);
    connect(&m_extraction, &CLeechProxies::outputWriteFailed, this, &CHarvestEngine::outputWriteFailed);
    // Each is the last thing a run tells: its end is seen at once rather than at the next tick, which cost every run
    // 20 ms on the average.
    connect(&m_extraction, &CLeechProxies::outputWritten, this, &CHarvestEngine::extractionTold);
    connect(&m_extraction, &CLeechProxies::noProxyResults, this, &CHarvestEngine::extractionTold);
    connect(&m_extraction, &CLeechProxies::outputWriteFailed, this, &CHarvestEngine::extractionTold);
    connect(m_fetching.get(), &PageFetching::crawlDone, this, &CHarvestEngine::crawlerDone);
    connect(m_fetching.get(), &PageFetching::linkFound, this, &CHarvestEngine::crawlerFoundUrl);
}

CHarvestEngine::~CHarvestEngine()
{
    // exit() alone does not end run(). A running extraction is stopped like Stop does and waited for, so its
    // file is closed and named and its pages removed before the thread object goes. A run that has not opened
    // its file yet does not take the request, so it is repeated until the run ends.
    if (m_extraction.isRunning()) {
        m_extraction.exit(0);
        m_extraction.closeOutput();
        while (!m_extraction.wait(20))
            m_extraction.closeOutput();
    }

    m_fetching.reset();
}

HarvestJob CHarvestEngine::job() const
{
    HarvestJob job = m_config ? HarvestJob::fromSettings(*m_config) : m_job;
    job.urls = m_urlSource ? m_urlSource() : m_urls;
    job.threads = m_threads;
    return job;
}

void CHarvestEngine::start(Crawl crawl)
{
    if (crawl == SingleCrawl) {
        startHarvest();
        return;
    }
    const HarvestJob now = job();
    m_fetching->crawl(now.urls, now.depth);
}

void CHarvestEngine::crawlerFoundUrl(const QString& link)
{
    m_urls << link;
    emit newLeechUrl(link);
}

void CHarvestEngine::crawlerDone()
{
    emit linkLeechingComplete();
    startHarvest();
}

void CHarvestEngine::startHarvest()
{
    emit harvestStarting();
    const HarvestJob now = job();
    const QStringList& urls = now.urls;
    // The list can have been emptied while a link crawl ran: nothing to fetch.
    if (urls.isEmpty()) {
        emit nothingToFetch();
        return;
    }
    // Progress counts URLs in int, as the signals carry them.
    const int urlCount = static_cast<int>(urls.size());
    if (urlCount < m_threads) {
        m_threads = urlCount;
        emit threadsLimited(m_threads);
    }

    m_completedCount = 0;
    m_finishedUrls = 0;
    m_harvestUrls = urlCount;
    m_unstoredPages.clear();
    m_sourceResults.clear();
    m_fetching->fetch(urls, m_threads, now.timeoutMs);
}

void CHarvestEngine::fetcherReported(quint32 completed, int inUse)
{
    m_completedCount = completed;
    emit reportCounted(completed, inUse);
}

void CHarvestEngine::allPagesIn()
{
    const QList<CCrawlResult> results = m_fetching->results();
    // After Stop the fetchers hold nothing any more; what they had was kept then.
    if (m_sourceResults.isEmpty())
        m_sourceResults = results;
    emit extractionStarting();
    m_extraction.start(QThread::InheritPriority);
    m_tallyTimer.start();
    emit pagesFetched(results);

    // Told once a harvest's pages are all in, while its extraction runs over those that were stored.
    if (!m_unstoredPages.isEmpty()) {
        const QStringList paths = m_unstoredPages;
        m_unstoredPages.clear();
        emit pagesNotStored(paths, m_unstoredReason);
    }
}

void CHarvestEngine::stopCrawl()
{
    if (!m_fetching->crawling())
        return;
    m_fetching->stopCrawl();
    m_sourceResults.clear();
    // Never fetched: the crawl was stopped first.
    for (const QString& url : m_urlSource ? m_urlSource() : m_urls)
        m_sourceResults << CCrawlResult::stopped(0, url);
}

void CHarvestEngine::stop()
{
    m_extraction.closeOutput();
    if (m_completedCount < static_cast<quint32>(m_threads) && m_harvestUrls > 0)
        m_sourceResults = m_fetching->resultsSoFar();
    // Every fetcher reports its list as processed, so a harvest under way reaches its extraction.
    m_fetching->abort();
}

void CHarvestEngine::tallyTick()
{
    // The end is seen here rather than through QThread::finished: Qt emits that on the finishing thread after
    // run() and, for a queued connection, calls into our objects there, ordered before their deletion only by
    // QThread::wait(), which the thread sanitizer cannot see.
    const bool ended = m_extraction.isFinished();
    showUnshownProxies();
    if (!ended)
        return;
    m_tallyTimer.stop();
    // Queued, so it comes after whatever the run queued before it ended.
    QMetaObject::invokeMethod(this, &CHarvestEngine::extractionFinished, Qt::QueuedConnection);
}

void CHarvestEngine::extractionTold()
{
    // Once only: a run that could not create its file tells two of them. The run has nothing left to do but return.
    if (!m_tallyTimer.isActive())
        return;
    m_extraction.wait();
    tallyTick();
}

void CHarvestEngine::showUnshownProxies()
{
    const int count = m_unshownProxies.exchange(0);
    if (count != 0)
        emit proxiesFound(count);
}
