#pragma once

#include "check/proxyendpoint.h"
#include "check/proxyrecord.h"
#include "pool/poolthread.h"
#include "pool/runclock.h"

#include <QObject>
#include <QTimer>

#include <vector>

// A check's results written to the pool while the check goes, on the pool's own thread, a batch per transaction: a
// long check leaves no long write at its end, and what it found is in the pool before it ends, even if it never
// does. The proxies of a checked list, when it has them seen, go with the first batch, so that a check whose judge
// fails records nothing.
class PoolCheckRecorder : public QObject
{
    Q_OBJECT

public:
    // Each batch is recorded at its own time, with `clock`; `listed` is seen at the first batch's.
    PoolCheckRecorder(const QString& path, const QString& judge, const RunClock& clock,
                      const std::vector<ProxyEndpoint>& listed = {}, QObject* parent = nullptr);

    void add(ProxyRecord record);
    // With `keep`, what is left goes in first; returns once every batch is written or missed.
    void finish(bool keep);

    // A batch per transaction, as the store writes them; a slower check still shows in the pool every few seconds.
    static constexpr size_t batchSize = 1000;
    static constexpr int flushEveryMs = 2000;

signals:
    // Told once: `what` the pool missed, and why.
    void missed(const QString& what, const QString& failure);
    void openFailed(const QString& line);

private:
    void flush();
    void tellMissed(const QString& what, const QString& failure);

    QString m_judge;
    RunClock m_clock;
    std::vector<ProxyEndpoint> m_listed;
    bool m_listedSeen;
    bool m_missed = false;
    std::vector<ProxyRecord> m_batch;
    QTimer m_timer;
    PoolThread m_thread;
};
