#include "serve/proxyserver.h"

#include "check/checkresult.h"
#include "serve/clientsession.h"

#include <QTcpSocket>

#include <climits>

CProxyServer::CProxyServer(const ServeJob& job, QObject* parent) : QObject(parent), m_job(job)
{
    m_rotation.setUpstreams(job.upstreams);
    m_clock.start();
    m_listener.setMaxPendingConnections(m_job.maxClients);
    // A browser or a scraper opens many connections at once: Qt's backlog of 50 would leave the rest half open.
    m_listener.setListenBacklogSize(qMax(128, m_job.maxClients));
    connect(&m_listener, &QTcpServer::newConnection, this, &CProxyServer::accept);
    m_healthTimer.setSingleShot(true);
    connect(&m_healthTimer, &QTimer::timeout, this, &CProxyServer::tellHealth);
}

CProxyServer::~CProxyServer()
{
    stop();
}

bool CProxyServer::listen(QString* failure)
{
    if (m_listener.listen(m_job.address, m_job.port))
        return true;
    const QString where = m_job.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QStringLiteral("[%1]:%2").arg(m_job.address.toString()).arg(m_job.port)
                              : QStringLiteral("%1:%2").arg(m_job.address.toString()).arg(m_job.port);
    switch (m_listener.serverError()) {
    case QAbstractSocket::AddressInUseError:
        *failure = QStringLiteral("cannot serve on %1: the port is in use.").arg(where);
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        *failure = QStringLiteral("cannot serve on %1: the address is not of this machine.").arg(where);
        break;
    default:
        *failure = QStringLiteral("cannot serve on %1: %2.").arg(where, m_listener.errorString());
    }
    return false;
}

void CProxyServer::stop()
{
    m_listener.close();
    const QSet<CClientSession*> sessions = m_sessions;
    m_sessions.clear();
    qDeleteAll(sessions);
    m_counters.clients = 0;
}

void CProxyServer::accept()
{
    while (m_listener.hasPendingConnections()) {
        // One more waits in the backlog until a client leaves.
        if (m_sessions.size() >= m_job.maxClients) {
            m_listener.pauseAccepting();
            return;
        }
        QTcpSocket* socket = m_listener.nextPendingConnection();
        auto* session = new CClientSession(socket, this);
        m_sessions.insert(session);
        ++m_counters.clients;
        connect(session, &CClientSession::ended, this, [this, session] { sessionEnded(session); });
        session->start();
    }
}

void CProxyServer::sessionEnded(CClientSession* session)
{
    if (!m_sessions.remove(session))
        return;
    --m_counters.clients;
    session->deleteLater();
    if (m_listener.isListening()) {
        m_listener.resumeAccepting();
        if (m_listener.hasPendingConnections())
            accept();
    }
}

void CProxyServer::setUpstreams(const std::vector<Upstream>& upstreams)
{
    m_rotation.setUpstreams(upstreams);
    tellHealth();
}

bool CProxyServer::pick(int protocols, const QSet<quint64>& tried, Upstream* picked)
{
    const Upstream* next = m_rotation.next(now(), protocols, tried);
    tellHealth();
    if (next)
        *picked = *next;
    return next != nullptr;
}

void CProxyServer::upstreamFailed(const ProxyEndpoint& proxy, const QString& reason)
{
    m_rotation.failed(proxy, now());
    emit upstreamSetAside(proxy, reason);
    tellHealth();
}

void CProxyServer::tellHealth()
{
    const bool any = m_rotation.healthy(now()) > 0;
    if (any != m_anyHealthy) {
        m_anyHealthy = any;
        emit healthChanged(any);
    }
    // Told when one comes back, not only at the next request.
    const qint64 back = m_rotation.firstBack(now());
    if (!any && back >= 0)
        m_healthTimer.start(int(qMin<qint64>(back - now() + 1, INT_MAX)));
}

bool CProxyServer::isOwnAddress(const QByteArray& host, quint16 port) const
{
    if (port != this->port())
        return false;
    if (host.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(QString::fromLatin1(host));
    if (address.isNull())
        return false;
    return address.isLoopback() || address.isEqual(m_job.address) ||
           (m_job.address == QHostAddress::AnyIPv4 || m_job.address == QHostAddress::Any);
}
