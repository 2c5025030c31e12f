#pragma once

#include "check/proxyendpoint.h"
#include "check/proxyrecord.h"
#include "pool/pooljob.h"
#include "pool/poolthread.h"

#include <QObject>

#include <vector>

// The serve's pool, written and read on a thread of its own through a connection of its own, so that a pool busy
// with other runs never holds up a client: the upstreams that failed the serve, the rechecks while it serves, and
// the alive proxies read back after each.
class CServePool : public QObject
{
    Q_OBJECT

public:
    explicit CServePool(const PoolJob& job, QObject* parent = nullptr);

    void recordFailure(const ProxyEndpoint& proxy, const QString& reason);
    // dueRead() answers.
    void readDue();
    // The finished checks recorded; then, with `readAlive`, aliveRead() answers with the alive proxies of the filter.
    void recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive);

signals:
    void dueRead(const std::vector<ProxyEndpoint>& proxies);
    void aliveRead(const std::vector<ProxyRecord>& records);
    // What the pool missed, or could not give, in one line.
    void missed(const QString& line);

private:
    // On the pool's thread: tells `line` here.
    void tellMissed(const QString& line);

    PoolJob m_job;
    PoolThread m_thread;
};
