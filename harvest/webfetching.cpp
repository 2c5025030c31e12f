#include "harvest/webfetching.h"

#include "extraction/pagetext.h"
#include "harvest/harvestplan.h"
#include "settings/userfolders.h"
#include "util/weburl.h"

#include <QDir>
#include <QFileInfo>

WebFetching::WebFetching(const HarvestJob& job, QObject* parent)
    : PageFetching(parent), m_budget(job.memoryBudget), m_pages(m_multi), m_crawl(m_multi),
      // Kept pages take at most half, so that fetching goes on at more than one page at a time once they are many.
      m_memory(job.memoryBudget / 2, &m_budget)
{
    m_pages.setBudget(&m_budget);
    m_writer.setBudget(&m_budget);
    m_reading.pairs = job.readsStructure();
    m_pages.setInsecure(job.insecure);
    m_writer.setMemory(&m_memory);
    m_crawl.setInsecure(job.insecure);
    connect(&m_pages, &TXL::QtLib::Web::CurlPages::pageFetched, this, &WebFetching::finish);
    connect(&m_crawl, &WebLinkCrawl::newLeechUrl, this, &PageFetching::linkFound);
    connect(&m_crawl, &WebLinkCrawl::linkLeechingComplete, this, &PageFetching::crawlDone);
    // Qt copies the arguments into the queued call: nothing of ours is made on the worker and freed here.
    connect(this, &WebFetching::pageWritten, this, &WebFetching::pageStored, Qt::QueuedConnection);
}

WebFetching::~WebFetching()
{
    endTransfers();
    // The writes report to this object; it must outlive them.
    m_writer.waitForDone();
}

int WebFetching::prepare(quint32 runStamp)
{
    m_runStamp = runStamp;
    return UserFolders::makeRunFolder(runStamp) ? 0 : 1;
}

void WebFetching::fetch(const QStringList& urls, int threads, int timeoutMs)
{
    endTransfers();
    m_writer.waitForDone();
    m_urls = urls;
    m_threads = qMax(threads, 1);
    m_pages.setTimeout(timeoutMs);
    m_next = 0;
    m_finished = 0;
    m_reported = false;
    const auto count = int(urls.size());
    m_block.fill(0, count);
    m_page.fill(0, count);
    m_results = QVector<CCrawlResult>(count);
    m_done.fill(false, count);
    const QVector<HarvestPlan::Block> blocks = HarvestPlan::splitIntoBlocks(count, m_threads);
    for (int t = 0; t < blocks.size(); ++t) {
        for (int i = blocks[t].first; i < blocks[t].first + blocks[t].count; ++i) {
            m_block[i] = t;
            m_page[i] = i - blocks[t].first;
        }
    }
    // One connection a page in flight at most, per host: HTTP/2 needs only one for them all.
    m_multi.setHostConnections(m_threads);
    if (count == 0) {
        reportWhenDone();
        return;
    }
    startTransfers();
}

// Pages in flight and pages on their way to disk are both bounded by the thread count, so memory is too.
void WebFetching::startTransfers()
{
    while (m_next < m_urls.size() && m_pages.running() < m_threads && m_writer.pending() < m_threads) {
        const int index = m_next++;
        m_pages.fetch(WebUrl::fromText(m_urls[index]), index);
    }
}

void WebFetching::finish(int index, const CFetchOutcome& outcome, QByteArray page)
{
    // A page of at most 64 MB: its size fits.
    CCrawlResult result = resultOf(index, static_cast<int>(page.size()));
    result.setOutcome(outcome);
    if (outcome.kind() == CFetchOutcome::Truncated)
        PageText::dropCutAddressRun(page);
    if (!page.isEmpty()) {
        result.setPageName(QFileInfo(pageFile(index)).fileName());
        PageReading reading = m_reading;
        reading.cut = outcome.kind() == CFetchOutcome::Truncated;
        reading.contentType = outcome.contentType();
        CPageWriter::Kept kept;
        if (m_pageRead)
            kept = [read = m_pageRead, result](const QByteArray& texts) { read(result, texts); };
        m_writer.write(
            pageFile(index), page, QUrl(outcome.finalUrl()).host(),
            [this, index](const QString& failure) { emit pageWritten(index, failure); }, reading, std::move(kept));
    }
    m_results[index] = result;
    m_done[index] = true;
    ++m_finished;
    emit urlFinished();
    startTransfers();
    reportWhenDone();
}

void WebFetching::pageStored(int index, const QString& failure)
{
    if (index < m_results.size() && !failure.isEmpty()) {
        CFetchOutcome outcome = m_results[index].outcome();
        outcome.setKind(CFetchOutcome::NotStored, failure);
        m_results[index].setOutcome(outcome);
        emit pageNotStored(pageFile(index), failure);
    }
    startTransfers();
    reportWhenDone();
}

// Once every URL is done and every page on disk: the extraction must find them all.
void WebFetching::reportWhenDone()
{
    if (m_reported || m_finished < m_urls.size() || m_writer.pending() > 0)
        return;
    m_reported = true;
    emit reported(quint32(m_threads), m_threads);
    emit allReported();
}

void WebFetching::abort()
{
    endTransfers();
    m_next = int(m_urls.size());
    m_writer.waitForDone();
    if (m_reported)
        return;
    // Also before any fetch (Stop during a link crawl): the harvest goes on to extract what there is. Queued,
    // like a fetcher's report: after the reports of the pages written meanwhile.
    m_reported = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit reported(quint32(m_threads), m_threads);
            emit allReported();
        },
        Qt::QueuedConnection);
}

void WebFetching::endTransfers()
{
    m_pages.cancelAll();
}

void WebFetching::crawl(const QStringList& urls, int depth)
{
    m_crawl.setMaxDepth(depth);
    for (const QString& url : urls)
        m_crawl.addUrl(url);
    m_crawl.startCrawl();
}

void WebFetching::stopCrawl()
{
    m_crawl.abort();
}

bool WebFetching::crawling() const
{
    return m_crawl.crawling();
}

QList<CCrawlResult> WebFetching::results() const
{
    QList<CCrawlResult> results;
    for (int i = 0; i < m_results.size(); ++i) {
        if (m_done[i])
            results << m_results[i];
    }
    return results;
}

QList<CCrawlResult> WebFetching::resultsSoFar() const
{
    QList<CCrawlResult> results;
    for (int i = 0; i < m_results.size(); ++i) {
        if (m_done[i]) {
            results << m_results[i];
            continue;
        }
        // Never ended: the harvest was stopped first.
        results << CCrawlResult::stopped(m_block[i], m_urls[i]);
    }
    return results;
}

CCrawlResult WebFetching::resultOf(int index, int bytes) const
{
    // Recorded as the window's fetcher of the URL's block records it: that fetcher's index goes where the window's
    // fetchers pass their descriptor, which is their index too.
    const int blockFetcher = m_block[index];
    return CCrawlResult(blockFetcher, bytes, m_urls[index]);
}

QString WebFetching::pageFile(int index) const
{
    return QDir(UserFolders::runFolder(m_runStamp))
        .filePath(QStringLiteral("%1-%2.dat").arg(m_block[index]).arg(m_page[index]));
}
