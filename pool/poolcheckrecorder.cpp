#include "pool/poolcheckrecorder.h"

PoolCheckRecorder::PoolCheckRecorder(const QString& path, const QString& judge, const RunClock& clock,
                                     const std::vector<ProxyEndpoint>& listed, QObject* parent)
    : QObject(parent), m_judge(judge), m_clock(clock), m_listed(listed), m_listedSeen(listed.empty()),
      m_thread(path, PoolStore::Access::Write, QStringLiteral("check pool"))
{
    connect(&m_thread, &PoolThread::openFailed, this, &PoolCheckRecorder::openFailed);
    m_timer.setInterval(flushEveryMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_batch.empty())
            flush();
    });
    m_timer.start();
}

void PoolCheckRecorder::add(ProxyRecord record)
{
    m_batch.push_back(std::move(record));
    if (m_batch.size() >= batchSize)
        flush();
}

void PoolCheckRecorder::finish(bool keep)
{
    m_timer.stop();
    if (keep) {
        flush();
        // A check that took a harvest's waiting pages in leaves a long log behind otherwise.
        m_thread.ask([](PoolStore* store) {
            if (store)
                store->copyLogIn();
        });
    }
    m_batch.clear();
    m_thread.finish();
}

void PoolCheckRecorder::tellMissed(const QString& what, const QString& failure)
{
    if (!m_missed)
        emit missed(what, failure);
    m_missed = true;
}

void PoolCheckRecorder::flush()
{
    const qint64 at = m_clock.now();
    if (!m_listedSeen) {
        m_listedSeen = true;
        m_thread.ask([this, listed = std::move(m_listed), at](PoolStore* store) {
            if (store && !store->recordSightings(listed, at))
                m_thread.answer([this, failure = store->failure()] {
                    tellMissed(QStringLiteral("this check's proxies"), failure);
                });
        });
    }
    if (m_batch.empty())
        return;
    m_thread.ask([this, records = std::move(m_batch), at](PoolStore* store) {
        if (store && !store->recordChecks(records, m_judge, at))
            m_thread.answer([this, failure = store->failure()] {
                tellMissed(QStringLiteral("some of this check's results"), failure);
            });
    });
    m_batch.clear();
}
