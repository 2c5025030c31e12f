#include "serve/upstreamdial.h"

#include "check/tunnelreply.h"
#include "serve/httphead.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

namespace {

QByteArray portBytes(quint16 port)
{
    return QByteArray(1, char(port >> 8)) + char(port & 0xff);
}

} // namespace

CUpstreamDial::CUpstreamDial(const Upstream& upstream, Way way, const QByteArray& host, quint16 port, int timeoutMs,
                             QObject* parent)
    : QObject(parent), m_upstream(upstream), m_way(way), m_host(host), m_port(port)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeoutMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { fail(QStringLiteral("no answer in time")); });
}

CUpstreamDial::~CUpstreamDial()
{
    if (m_lookup >= 0)
        QHostInfo::abortHostLookup(m_lookup);
    delete m_socket;
}

QString CUpstreamDial::wayName(Way way)
{
    switch (way) {
    case Forward:
        return QStringLiteral("http");
    case Connect:
        return QStringLiteral("connect");
    case Socks5:
        return QStringLiteral("socks5");
    case Socks4:
        break;
    }
    return QStringLiteral("socks4");
}

void CUpstreamDial::start()
{
    m_timer.start();
    if (m_way != Socks4)
        return connectToUpstream();
    // SOCKS 4 reaches IPv4 addresses only: a name is resolved here.
    QHostAddress address;
    if (address.setAddress(QString::fromLatin1(m_host))) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            return fail(QStringLiteral("SOCKS 4 reaches no IPv6 address"));
        const quint32 ip = address.toIPv4Address();
        m_address4 = portBytes(quint16(ip >> 16)) + portBytes(quint16(ip & 0xffff));
        return connectToUpstream();
    }
    m_stage = Resolving;
    m_lookup = QHostInfo::lookupHost(QString::fromLatin1(m_host), this, &CUpstreamDial::resolved);
}

void CUpstreamDial::resolved(const QHostInfo& info)
{
    m_lookup = -1;
    for (const QHostAddress& address : info.addresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            const quint32 ip = address.toIPv4Address();
            m_address4 = portBytes(quint16(ip >> 16)) + portBytes(quint16(ip & 0xffff));
            return connectToUpstream();
        }
    fail(QStringLiteral("%1 has no IPv4 address").arg(QString::fromLatin1(m_host)));
}

void CUpstreamDial::connectToUpstream()
{
    m_stage = Connecting;
    m_socket = new QTcpSocket();
    connect(m_socket, &QTcpSocket::connected, this, &CUpstreamDial::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &CUpstreamDial::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        fail(m_stage == Connecting ? QStringLiteral("cannot connect: %1").arg(m_socket->errorString())
                                   : QStringLiteral("closed during the handshake"));
    });
    m_socket->connectToHost(QHostAddress(m_upstream.proxy.address), m_upstream.proxy.port);
}

void CUpstreamDial::onConnected()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const ProxyEndpoint& proxy = m_upstream.proxy;
    switch (m_way) {
    case Forward:
        m_timer.stop();
        m_ended = true;
        emit opened();
        return;
    case Connect: {
        const QByteArray authority =
            (m_host.contains(':') ? '[' + m_host + ']' : m_host) + ':' + QByteArray::number(m_port);
        QByteArray request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
        if (proxy.hasCredentials())
            request +=
                "Proxy-Authorization: Basic " + QByteArray(proxy.user + ':' + proxy.password).toBase64() + "\r\n";
        m_socket->write(request + "\r\n");
        m_stage = Reply;
        return;
    }
    case Socks5:
        m_socket->write(proxy.hasCredentials() ? QByteArray("\x05\x02\x00\x02", 4) : QByteArray("\x05\x01\x00", 3));
        m_stage = Greeting;
        return;
    case Socks4:
        m_socket->write("\x04\x01" + portBytes(m_port) + m_address4 + proxy.user + '\0');
        m_stage = Reply;
        return;
    }
}

void CUpstreamDial::sendRequest()
{
    QByteArray request("\x05\x01\x00", 3);
    QHostAddress address;
    if (address.setAddress(QString::fromLatin1(m_host)) && address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = address.toIPv4Address();
        request += '\x01' + portBytes(quint16(ip >> 16)) + portBytes(quint16(ip & 0xffff));
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR ip = address.toIPv6Address();
        request += '\x04' + QByteArray(reinterpret_cast<const char*>(ip.c), 16);
    } else {
        request += '\x03' + QByteArray(1, char(m_host.size())) + m_host;
    }
    m_socket->write(request + portBytes(m_port));
    m_stage = Reply;
}

void CUpstreamDial::onReadyRead()
{
    if (m_ended)
        return;
    m_buffer += m_socket->readAll();
    TunnelReply::Reading reading;
    if (m_stage == Greeting) {
        reading = TunnelReply::socks5Greeting(m_buffer, m_upstream.proxy.hasCredentials());
    } else if (m_stage == Login) {
        reading = TunnelReply::socks5Authentication(m_buffer);
    } else if (m_way == Connect) {
        reading = TunnelReply::connect(m_buffer);
        // A head that never ends is no answer.
        if (reading.state == TunnelReply::Reading::NeedMore && m_buffer.size() > HttpHead::maxSize)
            return fail(QStringLiteral("its answer to CONNECT does not end"));
    } else {
        reading = m_way == Socks5 ? TunnelReply::socks5(m_buffer) : TunnelReply::socks4(m_buffer);
    }
    if (reading.state == TunnelReply::Reading::NeedMore)
        return;
    if (reading.state == TunnelReply::Reading::Failed)
        return fail(QStringLiteral("%1 refused: %2").arg(wayName(m_way), CheckResult::outcomeText(reading.failure)));
    m_buffer.remove(0, reading.length);
    if (m_stage == Greeting && reading.authenticate) {
        const ProxyEndpoint& proxy = m_upstream.proxy;
        m_socket->write('\x01' + QByteArray(1, char(proxy.user.size())) + proxy.user +
                        QByteArray(1, char(proxy.password.size())) + proxy.password);
        m_stage = Login;
        return;
    }
    if (m_stage == Greeting || m_stage == Login)
        return sendRequest();
    m_timer.stop();
    m_ended = true;
    emit opened();
}

QTcpSocket* CUpstreamDial::takeSocket()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    if (socket)
        socket->disconnect(this);
    return socket;
}

void CUpstreamDial::fail(const QString& reason)
{
    if (m_ended)
        return;
    m_ended = true;
    m_timer.stop();
    if (m_socket)
        m_socket->abort();
    emit failed(reason);
}
