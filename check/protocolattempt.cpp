#include "check/protocolattempt.h"

#include "check/judgepage.h"
#include "check/tunnelreply.h"
#include "qtlib/web/httpreply.h"
#include "util/appinfo.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// A judge's page is a few kilobytes. Whatever a proxy sends past this, in its handshake and its reply together, is
// no judge's page: the attempt ends there, and the proxy is a liar.
constexpr qsizetype replyLimit = qsizetype(64) * 1024;
// The socket holds no more than this between our reads, so a proxy that sends without end fills neither.
constexpr qint64 socketBufferSize = qint64(16) * 1024;

QByteArray portBytes(quint16 port)
{
    return QByteArray(1, char(port >> 8)) + char(port & 0xff);
}

// RFC 1929 gives each a length byte, and a user name of none is no login.
bool canSendPassword(const QByteArray& user, const QByteArray& password)
{
    return !user.isEmpty() && user.size() <= 255 && password.size() <= 255;
}

// A SOCKS 4 user id ends at its first null byte.
QByteArray userId(const QByteArray& user)
{
    const qsizetype end = user.indexOf('\0');
    return end < 0 ? user : user.left(end);
}

QByteArray ipv4Bytes(quint32 address)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += char((address >> shift) & 0xff);
    return bytes;
}

} // namespace

CProtocolAttempt::CProtocolAttempt(Protocol protocol, const Judge& judge, const QElapsedTimer& clock, QObject* parent)
    : QObject(parent), m_protocol(protocol), m_judge(judge), m_clock(clock)
{
}

CProtocolAttempt::~CProtocolAttempt()
{
    if (m_connecting >= 0)
        ::close(m_connecting);
}

void CProtocolAttempt::start()
{
    makeSocket();
    if (auto* secure = qobject_cast<QSslSocket*>(m_socket)) {
        connect(secure, &QSslSocket::encrypted, this, &CProtocolAttempt::onConnected);
        secure->connectToHostEncrypted(m_judge.url.host(), m_judge.port());
        return;
    }
    connect(m_socket, &QTcpSocket::connected, this, &CProtocolAttempt::onConnected);
    m_socket->connectToHost(m_judge.url.host(), m_judge.port());
}

void CProtocolAttempt::start(const ProxyEndpoint& proxy)
{
    m_user = proxy.user;
    m_password = proxy.password;
    m_credentials = proxy.hasCredentials();
    // Most proxies of a list refuse, so the connection is made here: QTcpSocket spends a second socket and
    // connect on each refusal, a fifth of a big check's time. It takes over once the connection stands.
    m_connecting = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_connecting < 0)
        return failConnect(errno);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(proxy.port);
    address.sin_addr.s_addr = htonl(proxy.address);
    if (::connect(m_connecting, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return takeConnection();
    if (errno != EINPROGRESS)
        return failConnect(errno);
    m_connectNotifier = new QSocketNotifier(m_connecting, QSocketNotifier::Write, this);
    connect(m_connectNotifier, &QSocketNotifier::activated, this, [this] {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_connecting, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error == 0)
            takeConnection();
        else
            failConnect(error);
    });
}

void CProtocolAttempt::makeSocket()
{
    if (m_judge.isSecure()) {
        auto* secure = new QSslSocket(this);
        // Through a tunnel the socket's peer is the proxy; the certificate must name the judge.
        secure->setPeerVerifyName(m_judge.url.host());
        if (m_judge.insecure)
            secure->setPeerVerifyMode(QSslSocket::VerifyNone);
        connect(secure, &QSslSocket::sslErrors, this, [this] { m_certificateRejected = true; });
        m_socket = secure;
    } else {
        m_socket = new QTcpSocket(this);
    }
    m_socket->setReadBufferSize(socketBufferSize);
    connect(m_socket, &QTcpSocket::readyRead, this, &CProtocolAttempt::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &CProtocolAttempt::onClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &CProtocolAttempt::onError);
}

void CProtocolAttempt::takeConnection()
{
    delete m_connectNotifier;
    m_connectNotifier = nullptr;
    const int descriptor = std::exchange(m_connecting, -1);
    makeSocket();
    if (!m_socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        m_errorText = m_socket->errorString();
        return end(CheckResult::Unreachable);
    }
    onConnected();
}

void CProtocolAttempt::failConnect(int error)
{
    m_errorText = QString::fromLocal8Bit(std::strerror(error));
    switch (error) {
    case ECONNREFUSED:
        return end(CheckResult::Refused);
    case ETIMEDOUT:
        return end(CheckResult::TimedOut);
    default:
        return end(CheckResult::Unreachable);
    }
}

void CProtocolAttempt::end(CheckResult::Outcome outcome)
{
    if (!m_running)
        return;
    m_running = false;
    // A demand for credentials the list gave is a refusal of them.
    m_outcome = outcome == CheckResult::NeedsCredentials && m_credentials ? CheckResult::CredentialsRefused : outcome;
    delete m_connectNotifier;
    m_connectNotifier = nullptr;
    if (m_connecting >= 0)
        ::close(std::exchange(m_connecting, -1));
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        // Later: this may run inside one of the socket's own signals.
        std::exchange(m_socket, nullptr)->deleteLater();
    }
    // Only a working attempt's page is read again (for the address it shows and the proxy's headers).
    if (outcome != CheckResult::Working)
        m_buffer = QByteArray();
    emit finished();
}

void CProtocolAttempt::onConnected()
{
    m_peer = m_socket->peerAddress();
    m_local = m_socket->localAddress();
    switch (m_protocol) {
    case Direct:
        sendJudgeRequest(false);
        break;
    case Http:
        sendJudgeRequest(true);
        break;
    case Connect: {
        const QByteArray target =
            m_judge.url.host(QUrl::FullyEncoded).toLatin1() + ':' + QByteArray::number(m_judge.port());
        m_socket->write("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n" + authorizationLine() + "\r\n");
        m_stage = Tunnel;
        break;
    }
    case Socks5:
        // Version 5 and the methods: no authentication, and user name and password where the list gave them and
        // they fit the protocol's fields.
        m_socket->write(canSendPassword(m_user, m_password) && m_credentials ? QByteArray("\x05\x02\x00\x02", 4)
                                                                             : QByteArray("\x05\x01\x00", 3));
        m_stage = Greeting;
        break;
    case Socks4:
        // Version 4, CONNECT, port, address, the user name as the user id (as curl sends it), a null byte.
        m_socket->write(QByteArray("\x04\x01", 2) + portBytes(m_judge.port()) +
                        ipv4Bytes(m_judge.address.toIPv4Address()) + userId(m_user) + '\0');
        m_stage = Tunnel;
        break;
    }
    emit connected();
}

// Through an HTTP proxy the request line names the whole URL; straight or through a tunnel, only the path.
void CProtocolAttempt::sendJudgeRequest(bool absolute)
{
    const QByteArray target = absolute ? m_judge.url.toEncoded(QUrl::RemoveFragment) : m_judge.originPath();
    m_socket->write("GET " + target + " HTTP/1.0\r\nHost: " + m_judge.hostLine() + "\r\nUser-Agent: " + "Sievra/" +
                    AppInfo::version.toLatin1() + "\r\n" + (absolute ? authorizationLine() : QByteArray()) +
                    "Connection: close\r\n\r\n");
    m_stage = Reply;
}

// Basic, as curl sends a proxy's credentials; nothing when the list gave none.
QByteArray CProtocolAttempt::authorizationLine() const
{
    if (!m_credentials)
        return QByteArray();
    return "Proxy-Authorization: Basic " + QByteArray(m_user + ':' + m_password).toBase64() + "\r\n";
}

void CProtocolAttempt::onReadyRead()
{
    if (!m_running)
        return;
    if (m_stage == Reply && m_firstByteMs < 0)
        m_firstByteMs = m_clock.elapsed();
    if (!takeBytes(m_socket->read(replyLimit + 1 - m_buffer.size())))
        return;
    switch (m_stage) {
    case Connecting:
        break;
    case Greeting:
        readGreeting();
        break;
    case Authentication:
        readAuthentication();
        break;
    case Tunnel:
        readTunnel();
        break;
    case Handshake:
        // TLS bytes are the socket's own; nothing is read here until the judge's reply.
        break;
    case Reply:
        readReply();
        break;
    }
}

bool CProtocolAttempt::takeBytes(const QByteArray& bytes)
{
    m_buffer += bytes;
    if (m_buffer.size() <= replyLimit)
        return true;
    end(CheckResult::Liar);
    return false;
}

void CProtocolAttempt::readGreeting()
{
    const TunnelReply::Reading greeting =
        TunnelReply::socks5Greeting(m_buffer, m_credentials && canSendPassword(m_user, m_password));
    if (greeting.state == TunnelReply::Reading::NeedMore)
        return;
    if (greeting.state == TunnelReply::Reading::Failed)
        return end(greeting.failure);
    m_buffer.remove(0, greeting.length);
    if (!greeting.authenticate)
        return sendSocks5Request();
    // Version 1 of the user name and password exchange: each field after its length.
    m_socket->write('\x01' + QByteArray(1, char(m_user.size())) + m_user + char(m_password.size()) + m_password);
    m_stage = Authentication;
    readAuthentication();
}

void CProtocolAttempt::readAuthentication()
{
    const TunnelReply::Reading answer = TunnelReply::socks5Authentication(m_buffer);
    if (answer.state == TunnelReply::Reading::NeedMore)
        return;
    if (answer.state == TunnelReply::Reading::Failed)
        return end(answer.failure);
    m_buffer.remove(0, answer.length);
    sendSocks5Request();
}

void CProtocolAttempt::sendSocks5Request()
{
    QByteArray request("\x05\x01\x00", 3);
    if (m_judge.address.protocol() == QAbstractSocket::IPv4Protocol) {
        request += '\x01' + ipv4Bytes(m_judge.address.toIPv4Address());
    } else {
        const Q_IPV6ADDR address = m_judge.address.toIPv6Address();
        request += '\x04' + QByteArray(reinterpret_cast<const char*>(address.c), 16);
    }
    m_socket->write(request + portBytes(m_judge.port()));
    m_stage = Tunnel;
    readTunnel();
}

void CProtocolAttempt::readTunnel()
{
    const TunnelReply::Reading answer = m_protocol == Connect  ? TunnelReply::connect(m_buffer)
                                        : m_protocol == Socks5 ? TunnelReply::socks5(m_buffer)
                                                               : TunnelReply::socks4(m_buffer);
    if (answer.state == TunnelReply::Reading::NeedMore)
        return;
    if (answer.state == TunnelReply::Reading::Failed)
        return end(answer.failure);
    m_buffer.remove(0, answer.length);
    enterReply();
}

// The tunnel stands: the judge's request goes through it, and anything the proxy sent ahead counts as the reply.
// To an https:// judge TLS comes first, and the judge speaks only after our hello: a byte ahead of it is the
// proxy's.
void CProtocolAttempt::enterReply()
{
    if (auto* secure = qobject_cast<QSslSocket*>(m_socket)) {
        if (!m_buffer.isEmpty())
            return end(CheckResult::ProtocolError);
        m_stage = Handshake;
        connect(secure, &QSslSocket::encrypted, this, &CProtocolAttempt::onEncrypted);
        secure->startClientEncryption();
        return;
    }
    sendJudgeRequest(false);
    if (!m_buffer.isEmpty()) {
        m_firstByteMs = m_clock.elapsed();
        readReply();
    }
}

void CProtocolAttempt::onEncrypted()
{
    if (m_running)
        sendJudgeRequest(false);
}

// Judged once the whole reply is in: the length its head gives, or (onClosed) the proxy's close.
void CProtocolAttempt::readReply()
{
    if (JudgePage::isComplete(m_buffer))
        judgeReply();
}

void CProtocolAttempt::judgeReply()
{
    switch (JudgePage::judge(m_buffer, m_judge.marker)) {
    case JudgePage::IsJudge:
        return end(CheckResult::Working);
    case JudgePage::OtherPage:
        return end(CheckResult::Liar);
    case JudgePage::Login:
        return end(CheckResult::NeedsCredentials);
    case JudgePage::NotHttp:
        return end(CheckResult::ProtocolError);
    case JudgePage::Cut:
    case JudgePage::NothingCame:
        return end(CheckResult::Reset);
    }
}

void CProtocolAttempt::onClosed()
{
    if (!m_running)
        return;
    if (!takeBytes(m_socket->read(replyLimit + 1 - m_buffer.size())))
        return;
    // Only the judge's reply may end with the connection; a handshake cut off is a reset.
    if (m_stage == Reply)
        judgeReply();
    else
        end(CheckResult::Reset);
}

void CProtocolAttempt::onError()
{
    if (!m_running)
        return;
    m_errorText = m_socket->errorString();
    switch (m_socket->error()) {
    case QAbstractSocket::RemoteHostClosedError:
        return onClosed();
    case QAbstractSocket::ConnectionRefusedError:
        return end(CheckResult::Refused);
    // Through a proxy, a certificate that is not the judge's is the proxy's lie; any other failed handshake is
    // a tunnel that does not carry TLS.
    case QAbstractSocket::SslHandshakeFailedError:
        if (m_protocol == Direct)
            return end(CheckResult::Unreachable);
        return end(m_certificateRejected ? CheckResult::Liar : CheckResult::ProtocolError);
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::UnsupportedSocketOperationError:
    default:
        return end(m_stage == Connecting ? CheckResult::Unreachable : CheckResult::Reset);
    }
}

int CProtocolAttempt::protocolFlag(Protocol protocol)
{
    switch (protocol) {
    case Direct:
        return 0;
    case Http:
        return CheckResult::Http;
    case Connect:
        return CheckResult::Connect;
    case Socks5:
        return CheckResult::Socks5;
    case Socks4:
        return CheckResult::Socks4;
    }
    return 0;
}
