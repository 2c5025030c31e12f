#pragma once

#include "serve/rotation.h"
#include "serve/servedrequest.h"
#include "serve/servejob.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QTimer>

class CClientSession;

// The local rotating proxy: one listening port that speaks HTTP (with CONNECT), SOCKS 5 and SOCKS 4, and sends
// each request and tunnel through the next healthy upstream. Runs on the event loop of the thread that made it.
class CProxyServer : public QObject
{
    Q_OBJECT

public:
    // What it has done so far.
    struct Counters
    {
        int clients = 0;
        qint64 requests = 0;
        qint64 bytesUp = 0;
        qint64 bytesDown = 0;
        qint64 rerouted = 0;
        qint64 failed = 0;
    };

    explicit CProxyServer(const ServeJob& job, QObject* parent = nullptr);
    ~CProxyServer() override;

    // Those served from now on; requests under way keep theirs.
    void setUpstreams(const std::vector<Upstream>& upstreams);
    // False with the one line that says why: the port is taken, the address is not of this machine...
    bool listen(QString* failure);
    // Stops accepting and closes every connection at once.
    void stop();
    quint16 port() const { return m_listener.serverPort(); }

    const ServeJob& job() const { return m_job; }
    Counters& counters() { return m_counters; }
    int healthy() const { return m_rotation.healthy(now()); }
    int upstreamCount() const { return m_rotation.size(); }

    // For the sessions: the next upstream with one of `protocols`, not among the ProxyEndpoint keys `tried`; false
    // when there is none.
    bool pick(int protocols, const QSet<quint64>& tried, Upstream* picked);
    void upstreamFailed(const ProxyEndpoint& proxy, const QString& reason);
    void upstreamWorked(const ProxyEndpoint& proxy) { m_rotation.worked(proxy); }
    void tell(const ServedRequest& request) { emit served(request); }
    // Whether host:port is this serve itself, which no request may reach through it.
    bool isOwnAddress(const QByteArray& host, quint16 port) const;

signals:
    // A request or tunnel has ended.
    void served(const ServedRequest& request);
    // No upstream is healthy now, or one is again.
    void healthChanged(bool anyHealthy);
    void upstreamSetAside(const ProxyEndpoint& proxy, const QString& reason);

private:
    qint64 now() const { return m_clock.elapsed(); }
    void accept();
    // healthChanged() when no upstream is healthy now, or one is again.
    void tellHealth();
    void sessionEnded(CClientSession* session);

    ServeJob m_job;
    QTcpServer m_listener;
    Rotation m_rotation;
    QElapsedTimer m_clock;
    QSet<CClientSession*> m_sessions;
    Counters m_counters;
    bool m_anyHealthy = true;
    QTimer m_healthTimer;
};
