#include "cli/servepool.h"

#include <memory>

CServePool::CServePool(const PoolJob& job, QObject* parent)
    : QObject(parent), m_job(job), m_thread(job.path, PoolStore::Access::Update, QStringLiteral("serve pool"))
{
    connect(&m_thread, &PoolThread::openFailed, this, &CServePool::missed);
}

void CServePool::tellMissed(const QString& line)
{
    m_thread.answer([this, line] { emit missed(line); });
}

void CServePool::recordFailure(const ProxyEndpoint& proxy, const QString& reason)
{
    const PoolJob& job = m_job;
    m_thread.ask([this, &job, proxy, reason](PoolStore* store) {
        if (store && !store->recordServeFailure(proxy, reason, job.clock.now()))
            tellMissed(QStringLiteral("the pool %1 missed an upstream's failure: %2").arg(job.path, store->failure()));
    });
}

void CServePool::readDue()
{
    const PoolJob& job = m_job;
    m_thread.ask([this, &job](PoolStore* store) {
        auto due = std::make_shared<std::vector<ProxyEndpoint>>();
        if (store && !store->due(job.clock.now(), false, due.get()))
            tellMissed(QStringLiteral("cannot read the pool %1: %2").arg(job.path, store->failure()));
        m_thread.answer([this, due] { emit dueRead(*due); });
    });
}

void CServePool::recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive)
{
    const PoolJob& job = m_job;
    m_thread.ask([this, &job, records, judge, readAlive](PoolStore* store) {
        if (!store)
            return;
        if (!store->recordChecks(records, judge, job.clock.now()))
            tellMissed(
                QStringLiteral("the pool %1 missed some of a recheck's results: %2").arg(job.path, store->failure()));
        if (!readAlive)
            return;
        auto alive = std::make_shared<std::vector<ProxyRecord>>();
        if (!store->proxies(job.filter, job.clock.now(), alive.get()))
            return tellMissed(QStringLiteral("cannot read the pool %1: %2").arg(job.path, store->failure()));
        m_thread.answer([this, alive] { emit aliveRead(*alive); });
    });
}
