#include "cli/poolrecording.h"

#include "cli/checkrun.h"
#include "cli/console.h"
#include "cli/harvestrun.h"

#include <algorithm>

PoolRecording::PoolRecording(std::unique_ptr<PoolStore> store, const PoolJob& job)
    : m_store(std::move(store)), m_job(job)
{
}

PoolRecording::~PoolRecording() = default;

void PoolRecording::missed(const QString& what, const QString& failure)
{
    Console::tell(QStringLiteral("the pool %1 missed %2: %3").arg(m_job.path, what, failure));
}

namespace {

// A fetch as the pool keeps it, without its proxies; `failed` until the page is known to have given some.
PoolHarvest::Page pageOf(const CCrawlResult& result)
{
    const CFetchOutcome outcome = result.outcome();
    PoolHarvest::Page page;
    page.url = result.url();
    page.outcome = outcome.text();
    page.status = outcome.status();
    page.bytes = result.bytes();
    page.ms = outcome.milliseconds();
    // As the source report counts a failure: no whole page came, and it gave nothing.
    page.failed = outcome.kind() != CFetchOutcome::Ok && outcome.kind() != CFetchOutcome::Truncated;
    return page;
}

} // namespace

void PoolRecording::followHarvest(CHarvestRun& run)
{
    m_harvestStarted = now();
    // Made on this thread before any page can come, so that the pages read while the harvest fetches go to the pool
    // in batches as it fetches (PoolHarvestRecorder), and the rest while the extraction reads: on a slow web its
    // writes are then done by the time the last page is in.
    QObject::connect(&run, &CHarvestRun::fetchStarting, &run, [this, &run] {
        if (!m_harvestRecorder)
            startHarvestRecorder(run.runStamp());
    });
    run.setPageRead([this](const CCrawlResult& result, const QByteArray& texts) {
        tellPage(result.pageName(), pageOf(result), texts, int(std::count(texts.cbegin(), texts.cend(), '\n')));
    });
    // The pages that were not read while fetching (those stored on disk) are told as the extraction reads them.
    QObject::connect(&run, &CHarvestRun::extractionStarting, &run, [this, &run] {
        for (const CCrawlResult& result : run.sourceResults())
            if (!result.pageName().isEmpty())
                m_pages.insert(result.pageName(), pageOf(result));
        if (!m_harvestRecorder)
            startHarvestRecorder(run.runStamp());
        m_harvestRecorder->flush();
    });
    run.setPageSink([this](const QString& name, const QByteArray& texts, const CLeechProxies::PageTally& tally) {
        const PoolHarvest::Page page = m_pages.value(name);
        if (!page.url.isEmpty()) // else a page of an earlier run left in the folder: no fetch of this harvest
            tellPage(name, page, texts, tally.given);
    });
}

void PoolRecording::tellPage(const QString& name, PoolHarvest::Page page, const QByteArray& texts, int given)
{
    // A page read while the harvest fetched is met again by the extraction, which must not write it twice.
    {
        const std::lock_guard<std::mutex> hold(m_toldLock);
        if (m_told.contains(name))
            return;
        m_told.insert(name);
    }
    page.proxies = given;
    page.failed = page.failed && given == 0;
    m_harvestRecorder->addPage(std::move(page), texts);
}

void PoolRecording::startHarvestRecorder(quint32 runStamp)
{
    m_harvestRecorder = std::make_unique<PoolHarvestRecorder>(m_job.path, m_job.clock, runStamp, m_harvestStarted);
    PoolHarvestRecorder* recorder = m_harvestRecorder.get();
    QObject::connect(recorder, &PoolHarvestRecorder::openFailed, recorder,
                     [](const QString& line) { Console::tell(line); });
    QObject::connect(recorder, &PoolHarvestRecorder::missed, recorder,
                     [this](const QString& what, const QString& failure) { missed(what, failure); });
}

void PoolRecording::endHarvest(const CHarvestRun& run)
{
    // A harvest with nothing to fetch never started its extraction.
    if (!m_harvestRecorder)
        startHarvestRecorder(run.runStamp());
    std::vector<PoolHarvest::Page> rest;
    {
        const std::lock_guard<std::mutex> hold(m_toldLock);
        for (const CCrawlResult& result : run.sourceResults())
            if (result.pageName().isEmpty() || !m_told.contains(result.pageName()))
                rest.push_back(pageOf(result));
    }
    m_harvestRecorder->finish(std::move(rest));
    m_harvestRecorder.reset();
}

void PoolRecording::followCheck(const CCheckRun& run, const QString& judge, const std::vector<ProxyEndpoint>& listed)
{
    m_checkRecorder = std::make_unique<PoolCheckRecorder>(m_job.path, judge, m_job.clock, listed);
    PoolCheckRecorder* recorder = m_checkRecorder.get();
    QObject::connect(recorder, &PoolCheckRecorder::openFailed, recorder,
                     [](const QString& line) { Console::tell(line); });
    QObject::connect(recorder, &PoolCheckRecorder::missed, recorder,
                     [this](const QString& what, const QString& failure) { missed(what, failure); });
    QObject::connect(&run, &CCheckRun::proxyChecked, recorder,
                     [recorder, &run](size_t index) { recorder->add(run.recordOf(index)); });
}

void PoolRecording::endCheck(bool judgeFailed)
{
    if (!m_checkRecorder)
        return;
    m_checkRecorder->finish(!judgeFailed);
    m_checkRecorder.reset();
}
