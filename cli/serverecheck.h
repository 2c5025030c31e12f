#pragma once

#include "check/checkjob.h"
#include "check/geolookup.h"
#include "check/proxychecker.h"
#include "check/proxyrecord.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class CServePool;

// While the local proxy serves, the proxies are checked again every so often and the upstreams become what works:
// of the pool, those due, recorded, and then the pool's alive proxies as --export reads them; of a checked list, the
// whole list again (recorded too when there is a pool). Nothing is written but the pool.
class CServeRecheck : public QObject
{
    Q_OBJECT

public:
    // `pool`: none with --no-pool. `listed`: the checked list; empty to serve the pool.
    CServeRecheck(const CheckJob& job, qint64 everyMs, CServePool* pool, const std::vector<ProxyEndpoint>& listed,
                  QObject* parent = nullptr);
    ~CServeRecheck() override;

    void start() { m_timer.start(); }

signals:
    // What the upstreams are now: the records of the proxies to serve, working or not.
    void upstreamsFound(const std::vector<ProxyRecord>& records);

private:
    void begin();
    void check(const std::vector<ProxyEndpoint>& proxies);
    void checked();
    void aliveRead(const std::vector<ProxyRecord>& records);

    CheckJob m_job;
    CServePool* m_pool;
    std::vector<ProxyEndpoint> m_listed;
    GeoLookup m_noPlaces;
    QTimer m_timer;
    std::unique_ptr<CProxyChecker> m_checker; // while a recheck runs
    bool m_waitingForPool = false;
};
