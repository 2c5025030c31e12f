#include "cli/serverecheck.h"

#include "cli/console.h"
#include "cli/openfiles.h"
#include "cli/servepool.h"

CServeRecheck::CServeRecheck(const CheckJob& job, qint64 everyMs, CServePool* pool,
                             const std::vector<ProxyEndpoint>& listed, QObject* parent)
    : QObject(parent), m_job(job), m_pool(pool), m_listed(listed)
{
    m_job.concurrency =
        OpenFiles::fit(m_job.concurrency, CProxyChecker::socketsPerCheck, QStringLiteral("--concurrency"));
    m_timer.setInterval(std::chrono::milliseconds(everyMs));
    connect(&m_timer, &QTimer::timeout, this, &CServeRecheck::begin);
    if (m_pool) {
        connect(m_pool, &CServePool::dueRead, this, &CServeRecheck::check);
        connect(m_pool, &CServePool::aliveRead, this, &CServeRecheck::aliveRead);
    }
}

CServeRecheck::~CServeRecheck() = default;

void CServeRecheck::begin()
{
    // One recheck at a time: a slow one is not piled on.
    if (m_checker || m_waitingForPool)
        return;
    if (!m_listed.empty())
        return check(m_listed);
    m_waitingForPool = true;
    m_pool->readDue();
}

void CServeRecheck::check(const std::vector<ProxyEndpoint>& proxies)
{
    m_waitingForPool = false;
    // None due: the alive ones are read again all the same, for what other runs found since.
    if (proxies.empty())
        return m_pool->recordChecks({}, m_job.judge.toString(), true);
    m_checker = std::make_unique<CProxyChecker>();
    m_checker->setJob(m_job);
    m_checker->setProxies(proxies);
    connect(m_checker.get(), &CProxyChecker::finished, this, &CServeRecheck::checked);
    connect(m_checker.get(), &CProxyChecker::judgeFailed, this, [this](const QString& reason) {
        Console::tell(QStringLiteral("no recheck: %1; the upstreams stay as they were.").arg(reason));
        m_checker.release()->deleteLater();
    });
    m_checker->start();
}

void CServeRecheck::checked()
{
    const std::vector<ProxyRecord> records = ProxyRecord::fromCheck(m_checker->proxies(), m_checker->results(),
                                                                    m_job.geo ? *m_job.geo : m_noPlaces, {}, false);
    Console::tell(QStringLiteral("rechecked %1 proxies, %2 work.").arg(records.size()).arg(m_checker->working()));
    m_checker.release()->deleteLater();
    const bool ofPool = m_listed.empty();
    if (m_pool)
        m_pool->recordChecks(records, m_job.judge.toString(), ofPool);
    if (!ofPool)
        emit upstreamsFound(records);
}

void CServeRecheck::aliveRead(const std::vector<ProxyRecord>& records)
{
    emit upstreamsFound(records);
}
