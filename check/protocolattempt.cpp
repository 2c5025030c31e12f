#include "check/protocolattempt.h"

#include "check/judgepage.h"
#include "check/tunnelreply.h"
#include "qtlib/web/httpreply.h"
#include "util/appinfo.h"

#include <QSocketNotifier>
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

void CProtocolAttempt::start(const QHostAddress& proxy, quint16 port)
{
    if (m_protocol == Direct) {
        makeSocket();
        connect(m_socket, &QTcpSocket::connected, this, &CProtocolAttempt::onConnected);
        m_socket->connectToHost(m_judge.url.host(), m_judge.port());
        return;
    }
    // Most proxies of a list refuse, so the connection is made here: QTcpSocket spends a second socket and
    // connect on each refusal, a fifth of a big check's time. It takes over once the connection stands.
    m_connecting = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_connecting < 0)
        return failConnect(errno);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(proxy.toIPv4Address());
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
    m_socket = new QTcpSocket(this);
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
    m_outcome = outcome;
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
        m_socket->write("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n");
        m_stage = Tunnel;
        break;
    }
    case Socks5:
        // Version 5, one method: no authentication.
        m_socket->write(QByteArray("\x05\x01\x00", 3));
        m_stage = Greeting;
        break;
    case Socks4:
        // Version 4, CONNECT, port, address, an empty user id.
        m_socket->write(QByteArray("\x04\x01", 2) + portBytes(m_judge.port()) +
                        ipv4Bytes(m_judge.address.toIPv4Address()) + '\0');
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
                    AppInfo::version.toLatin1() + "\r\nConnection: close\r\n\r\n");
    m_stage = Reply;
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
    case Tunnel:
        readTunnel();
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
    const TunnelReply::Reading greeting = TunnelReply::socks5Greeting(m_buffer);
    if (greeting.state == TunnelReply::Reading::NeedMore)
        return;
    if (greeting.state == TunnelReply::Reading::Failed)
        return end(greeting.failure);
    m_buffer.remove(0, greeting.length);
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
void CProtocolAttempt::enterReply()
{
    sendJudgeRequest(false);
    if (!m_buffer.isEmpty()) {
        m_firstByteMs = m_clock.elapsed();
        readReply();
    }
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
