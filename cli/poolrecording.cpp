#include "cli/poolrecording.h"

#include "check/proxylist.h"
#include "cli/checkrun.h"
#include "cli/console.h"
#include "cli/harvestrun.h"

PoolRecording::PoolRecording(std::unique_ptr<PoolStore> store, const PoolJob& job)
    : m_store(std::move(store)), m_job(job)
{
}

void PoolRecording::missed(const QString& what)
{
    Console::tell(QStringLiteral("the pool %1 missed %2: %3").arg(m_job.path, what, m_store->failure()));
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
        missed(QStringLiteral("some of this harvest's pages"));
}

void PoolRecording::recordCheck(const CCheckRun& run, const QString& judge, bool sighted)
{
    const std::vector<ProxyRecord> records = run.allRecords();
    const qint64 at = now();
    if (sighted) {
        std::vector<ProxyEndpoint> listed;
        listed.reserve(records.size());
        for (const ProxyRecord& record : records)
            listed.push_back(record.proxy);
        if (!m_store->recordSightings(listed, at))
            return missed(QStringLiteral("this check's proxies"));
    }
    if (!m_store->recordChecks(records, judge, at))
        missed(QStringLiteral("some of this check's results"));
}
