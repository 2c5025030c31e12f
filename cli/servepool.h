#pragma once

#include "check/proxyendpoint.h"
#include "check/proxyrecord.h"
#include "pool/pooljob.h"

#include <QObject>
#include <QThread>

#include <vector>

class ServePoolWorker;

// The serve's pool, written and read on a thread of its own through a connection of its own, so that a pool busy
// with other runs never holds up a client: the upstreams that failed the serve, the rechecks while it serves, and
// the alive proxies read back after each. Asked and answered through queued signals.
class CServePool : public QObject
{
    Q_OBJECT

public:
    explicit CServePool(const PoolJob& job, QObject* parent = nullptr);
    ~CServePool() override;
    CServePool(const CServePool&) = delete;
    CServePool& operator=(const CServePool&) = delete;

    void recordFailure(const ProxyEndpoint& proxy, const QString& reason) { emit failureToRecord(proxy, reason); }
    // dueRead() answers.
    void readDue() { emit dueWanted(); }
    // The finished checks recorded; then, with `readAlive`, aliveRead() answers with the alive proxies of the filter.
    void recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive)
    {
        emit checksToRecord(records, judge, readAlive);
    }

signals:
    void dueRead(const std::vector<ProxyEndpoint>& proxies);
    void aliveRead(const std::vector<ProxyRecord>& records);
    // What the pool missed, or could not give, in one line.
    void missed(const QString& line);

    // To the worker.
    void failureToRecord(const ProxyEndpoint& proxy, const QString& reason);
    void dueWanted();
    void checksToRecord(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive);
    void finishing();

private:
    QThread m_thread;
    ServePoolWorker* m_worker; // lives on m_thread
};
