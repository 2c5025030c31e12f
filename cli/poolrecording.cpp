#include "cli/poolrecording.h"

#include "check/proxylist.h"
#include "cli/checkrun.h"
#include "cli/console.h"
#include "cli/harvestrun.h"

PoolRecording::PoolRecording(std::unique_ptr<PoolStore> store, const PoolJob& job)
    : m_store(std::move(store)), m_job(job)
{
}

PoolRecording::~PoolRecording() = default;

void PoolRecording::missed(const QString& what, const QString& failure)
{
    Console::tell(QStringLiteral("the pool %1 missed %2: %3").arg(m_job.path, what, failure));
}

void PoolRecording::recordHarvest(const CHarvestRun& run)
{
    QHash<QString, std::vector<ProxyEndpoint>> given;
    for (const CLeechProxies::PageProxies& page : run.proxiesPerPage()) {
        std::vector<ProxyEndpoint>& proxies = given[page.page];
        for (const QByteArray& text : page.proxies) {
            ProxyEndpoint proxy;
            if (ProxyList::parse(text.constData(), int(text.size()), int(text.indexOf(':')), &proxy))
                proxies.push_back(proxy);
        }
    }
    const QHash<QString, int> lines = run.linesPerPage();
    PoolHarvest harvest;
    harvest.runStamp = run.runStamp();
    harvest.started = m_harvestStarted;
    harvest.ended = now();
    for (const CCrawlResult& result : run.sourceResults()) {
        const CFetchOutcome outcome = result.outcome();
        PoolHarvest::Page page;
        page.url = result.url();
        page.outcome = outcome.text();
        page.status = outcome.status();
        page.bytes = result.bytes();
        page.ms = outcome.milliseconds();
        if (!result.pageName().isEmpty()) {
            page.proxies = lines.value(result.pageName());
            page.given = given.value(result.pageName());
        }
        // As the source report counts a failure: no whole page came, and it gave nothing.
        page.failed =
            page.proxies == 0 && outcome.kind() != CFetchOutcome::Ok && outcome.kind() != CFetchOutcome::Truncated;
        harvest.pages.push_back(std::move(page));
    }
    if (!m_store->recordHarvest(harvest))
        missed(QStringLiteral("some of this harvest's pages"), m_store->failure());
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
