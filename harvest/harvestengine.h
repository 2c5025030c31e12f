#pragma once

#include "extraction/leechproxies.h"
#include "harvest/harvestjob.h"
#include "harvest/pagefetching.h"
#include "settings/runstampclaim.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class CConfig;

// Runs whole harvests: shares the URL list among the page fetchers, follows links first on a Multiple Crawl,
// starts the extraction once every fetcher has reported and counts its lines. It shows nothing itself; the
// window and the command line show what it reports.
class CHarvestEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int fetcherCount = HarvestJob::maxThreads;
    enum Crawl { SingleCrawl, MultipleCrawl };

    // The per-user folders must be in place: the fetchers make this run's page folder below the data folder.
    // The window's engine: its settings are read at the moments a harvest takes them (the depth when a crawl
    // starts, the time-out when the harvest starts, the template when the extraction starts).
    explicit CHarvestEngine(CConfig* config, QObject* parent = nullptr);
    // An engine for one job, described in full before it starts.
    explicit CHarvestEngine(const HarvestJob& job, QObject* parent = nullptr);
    ~CHarvestEngine() override;

    quint32 runStamp() const { return m_runStamp; }
    // Why the run stamp could not be claimed; empty when it is this run's alone.
    QString runClaimFailure() const { return m_runClaim.failure(); }
    // How many fetchers could not make this run's page folder when the engine was made; their pages will not
    // be stored. Whoever made the engine tells the user.
    int runFolderFailures() const { return m_runFolderFailures; }

    // Read each time a harvest starts. Without a source, the list given to setUrls and every link the
    // crawler found since.
    void setUrlSource(std::function<QStringList()> source) { m_urlSource = std::move(source); }
    void setUrls(const QStringList& urls) { m_urls = urls; }

    // Fetchers in use, 1 to 20; read at every step that needs it, so a change during a harvest counts.
    void setThreads(int threads) { m_threads = qBound(1, threads, int(fetcherCount)); }
    int threads() const { return m_threads; }

    void start(Crawl crawl);
    // Aborts the fetchers and ends a running extraction early; a link crawl goes on.
    void stop();
    // Ends a link crawl under way, which stop() leaves alone; every URL of the list is then reported as stopped.
    void stopCrawl();

    // Every URL of the last harvest in list order with how its fetch ended, also when Stop came first.
    QList<CCrawlResult> sourceResults() const { return m_sourceResults; }
    // Lines the last extraction wrote from each page file, by its name; read once it has finished.
    QHash<QString, int> linesPerPage() { return m_extraction.linesPerPage(); }
    // What each page of the last extraction gave; read once it has finished.
    QHash<QString, CLeechProxies::PageTally> tallies() { return m_extraction.tallies(); }
    // The proxies the last extraction wrote, page by page; kept only when the job asks for them.
    QList<CLeechProxies::PageProxies> proxiesPerPage() { return m_extraction.proxiesPerPage(); }
    void setPageSink(CLeechProxies::PageSink sink) { m_extraction.setPageSink(std::move(sink)); }
    // Pages read while the harvest fetches, where its fetching reads them (PageFetching::setPageRead).
    void setPageRead(const PageFetching::PageRead& read) { m_fetching->setPageRead(read); }

signals:
    void harvestStarting();
    // Every page is in and sourceResults() is whole; the extraction starts next, on its thread.
    void extractionStarting();
    // The list is shorter than the fetchers in use: no more fetchers than URLs.
    void threadsLimited(int threads);
    void nothingToFetch();
    void urlFinished(int finished, int total);
    void reportCounted(quint32 completed, int inUse);
    // The size of every page of the harvest, once all fetchers have reported.
    void pagesFetched(const QList<CCrawlResult>& results);
    void pagesNotStored(const QStringList& paths, const QString& reason);
    void proxiesFound(int count);
    void harvestComplete();
    void outputWritten(const QString& path);
    void noProxyResults();
    void outputWriteFailed(const QString& strMessage);
    // The extraction thread has ended, after anything it reported.
    void extractionFinished();
    void newLeechUrl(const QString& strLink);
    void linkLeechingComplete();

private:
    CHarvestEngine(CConfig* config, const HarvestJob& job, QObject* parent);
    // The job as it stands now: the window's settings laid over it, its URLs and fetchers as set.
    HarvestJob job() const;
    void fetcherReported(quint32 completed, int inUse);
    void allPagesIn();
    void startHarvest();
    void tallyTick();
    void extractionTold();
    void showUnshownProxies();
    void crawlerFoundUrl(const QString& link);
    void crawlerDone();

    CConfig* m_config = nullptr; // the window's; none for a job given whole
    HarvestJob m_job;
    RunStampClaim m_runClaim; // tells other starts that this run's stamp and pages are live
    quint32 m_runStamp = 0;
    int m_runFolderFailures = 0;
    std::unique_ptr<PageFetching> m_fetching;
    CLeechProxies m_extraction;
    std::function<QStringList()> m_urlSource;
    QStringList m_urls;
    int m_threads = 5;
    QList<CCrawlResult> m_sourceResults;
    quint32 m_completedCount = 0;
    int m_finishedUrls = 0;
    int m_harvestUrls = 0;
    QStringList m_unstoredPages; // of the harvest under way
    QString m_unstoredReason;
    // Lines the extraction has written that were not reported yet.
    std::atomic<int> m_unshownProxies{0};
    QTimer m_tallyTimer;
};
