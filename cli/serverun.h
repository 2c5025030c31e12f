#pragma once

#include "check/proxyrecord.h"
#include "serve/proxyserver.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <vector>

class CServePool;

// The local proxy without a window: listens from the start, so that a port in use is told before anything runs,
// serves the upstreams it is given, and shows a progress line on standard error until it is stopped.
class CServeRun : public QObject
{
    Q_OBJECT

public:
    CServeRun(const ServeJob& job, bool terminal, QObject* parent = nullptr);

    // The open-file limit raised as far as allowed; the clients at once lowered, with a word, when they do not fit.
    void fitClients();
    // False with the one line that says why.
    bool listen(QString* failure);
    // --serve-log: a line per request appended to `path`; false with the one line that says why.
    bool openLog(const QString& path, QString* failure);
    // The working proxies of a check or of the pool; none of them unless a protocol of theirs worked.
    void serve(const std::vector<ProxyRecord>& records);
    // After a recheck: what works now, and one line that says how many.
    void update(const std::vector<ProxyRecord>& records);
    // Each upstream that fails the serve is told to the pool.
    void recordFailuresIn(CServePool* pool);
    void stop();

    // The upstreams of the records, as they are served.
    static std::vector<Upstream> upstreamsOf(const std::vector<ProxyRecord>& records);

private:
    void showProgress(bool last = false);

    ServeJob m_job;
    bool m_terminal;
    std::unique_ptr<CProxyServer> m_server;
    QTimer m_progressTimer;
    QFile m_log;
};
