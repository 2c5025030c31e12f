#include "qtlib/web/websocket.h"

#include "qtlib/web/httpreply.h"
#include "util/httpport.h"

#include <QNetworkProxy>
#include <QSignalBlocker>
#include <QTcpSocket>

#include <utility>

namespace TXL::QtLib::Web {

namespace {
constexpr int longestTimeout = 25000;
constexpr qint64 readChunk = qint64(256) * 1024;
} // namespace

CWebSocket::CWebSocket(QObject* parent, int iSocketDescriptor)
    : QThread(parent), m_socket(new QTcpSocket(this)), m_socketDescriptor(iSocketDescriptor)
{
    m_timer.setInterval(longestTimeout);
    m_timer.setTimerType(Qt::PreciseTimer); // the coarse default fires up to 5% early and fails a page in time
    // Pages are fetched directly; asking the system for a proxy would start a lookup thread for nothing.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    // Named here, the new thread takes this name instead of calling our metaObject() to name itself: no call
    // into this object from a thread that never otherwise touches it.
    setObjectName(QStringLiteral("web fetch"));
    // A loopback or fast peer can have tens of megabytes waiting; taken in one go, twenty such sockets hold
    // up the event loop they share for a long moment. Smaller reads let the loop turn in between.
    m_socket->setReadBufferSize(readChunk);
    connect(m_socket, &QTcpSocket::connected, this, &CWebSocket::onConnect);
    connect(m_socket, &QTcpSocket::disconnected, this, &CWebSocket::onDisconnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &CWebSocket::onDataArrival);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &CWebSocket::onError);
    connect(&m_timer, &QTimer::timeout, this, &CWebSocket::onTimeout);
}

CWebSocket::~CWebSocket()
{
    m_timer.stop();
    m_fetching = false;
    m_connectPending = false;
    closeOwnConnection();
    delete m_socket;
    m_socket = nullptr;

    // Owners end the idle loop themselves; this only spares a forgetful one the abort of a running QThread.
    if (isRunning()) {
        quit();
        if (!wait(2000)) {
            terminate();
            wait();
        }
    }
}

void CWebSocket::setTimeout(int msecs)
{
    if (msecs > longestTimeout)
        return;
    // A negative interval would never fire and leave a silent server waiting forever.
    m_timer.setInterval(qMax(msecs, 0));
}

void CWebSocket::reset()
{
    m_host = m_path = m_cookie = m_referrer = QLatin1String("");
    // Empty but set, like the text fields; assigning rather than clearing also gives the memory back.
    m_buffer = m_result = QByteArray("");
    m_bytesRetrieved = 0;
    m_port = 80;
}

void CWebSocket::startFetch()
{
    startFetchOnPort(m_port);
}

void CWebSocket::startFetchOnPort(int port)
{
    m_outcome = CFetchOutcome();
    m_clock.start();
    m_fetching = true;
    m_connectPending = true;
    m_connectPort = port;
    // Owners start their next fetch from inside our outcome signals, which run inside the socket's own
    // signals; the socket still tidies up after those return, so the new connection waits for the event loop.
    QMetaObject::invokeMethod(this, &CWebSocket::openPendingConnection, Qt::QueuedConnection);
}

QByteArray CWebSocket::takeResult()
{
    return std::exchange(m_result, QByteArray(""));
}

void CWebSocket::cancelFetch()
{
    m_timer.stop();
    m_fetching = false;
    m_connectPending = false;
    closeOwnConnection();
    dropPartialReply();
}

void CWebSocket::openPendingConnection()
{
    if (!m_connectPending)
        return;
    m_connectPending = false;
    closeOwnConnection();
    m_received = 0;
    m_truncated = false;
    m_sized = false;
    // The host name itself, except in tests that serve named sites from loopback.
    const QString connectHost = HttpPort::connectHost(m_host);
    const auto port = static_cast<quint16>(m_connectPort);
    m_socket->connectToHost(connectHost, port, QIODevice::ReadWrite);
}

void CWebSocket::onConnect()
{
    if (!m_fetching)
        return;
    m_buffer = QByteArray("");
    m_timer.start();
    m_socket->write(request());
}

void CWebSocket::onDisconnect()
{
    if (!m_fetching)
        return;
    readAvailable();
    if (m_socket->isOpen())
        m_socket->close();
    finishReply();
}

void CWebSocket::onDataArrival()
{
    if (!m_fetching)
        return;
    readAvailable();
    // The rest of the reply is left unread, as if the server had closed the connection here.
    if (m_truncated) {
        closeOwnConnection();
        finishReply();
    }
}

void CWebSocket::finishReply()
{
    m_timer.stop();
    m_fetching = false;
    // Moved, not copied: a large reply is held once, and the buffer keeps no capacity for the next fetch.
    QByteArray reply = std::exchange(m_buffer, QByteArray(""));
    const HttpReplyHead head = HttpReplyHead::parse(reply);

    m_outcome.setStatus(head.status);
    if (m_truncated)
        m_outcome.setKind(CFetchOutcome::Truncated);
    else if (head.isCut(reply.size()))
        m_outcome.setKind(CFetchOutcome::Cut);
    else
        m_outcome.setKind(head.status >= 200 && head.status < 300 ? CFetchOutcome::Ok : CFetchOutcome::HttpStatus);
    m_outcome.setMilliseconds(m_clock.elapsed());
    m_result = std::move(reply);
    m_bytesRetrieved += m_result.size();
    emit dataRetrieved();
}

void CWebSocket::onError(QAbstractSocket::SocketError error)
{
    if (!m_fetching)
        return;
    m_timer.stop();
    // The disconnection that follows completes the fetch.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        fail(CFetchOutcome::Refused);
        break;
    case QAbstractSocket::HostNotFoundError:
        fail(CFetchOutcome::NotResolved);
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail(CFetchOutcome::TimedOut);
        break;
    default:
        fail(CFetchOutcome::NetworkError, m_socket->errorString());
        break;
    }
}

void CWebSocket::onTimeout()
{
    if (m_fetching)
        fail(CFetchOutcome::TimedOut);
}

void CWebSocket::fail(CFetchOutcome::Kind kind, const QString& detail)
{
    if (!m_fetching)
        return;
    m_timer.stop();
    m_fetching = false;
    closeOwnConnection();
    dropPartialReply();
    m_outcome.setKind(kind, detail);
    m_outcome.setMilliseconds(m_clock.elapsed());
    emit dataRetrievalError();
}

void CWebSocket::run()
{
    exec();
}

QByteArray CWebSocket::request() const
{
    const QString crlf = QStringLiteral("\r\n");
    QString text = QStringLiteral("GET ") + m_path + QStringLiteral(" HTTP/1.0") + crlf;
    text += QStringLiteral("Host: ") + m_host + crlf;
    text += QStringLiteral("User-Agent: ") + QLatin1String(userAgent) + crlf;
    // Set-but-empty still sends the line; only an unset field leaves it out.
    if (!m_referrer.isNull())
        text += QStringLiteral("Referrer: ") + m_referrer + crlf;
    if (!m_cookie.isNull())
        text += QStringLiteral("Cookie: ") + m_cookie + crlf;
    text += QStringLiteral("Connection: close") + crlf + crlf;
    return text.toLatin1();
}

void CWebSocket::readAvailable()
{
    const qint64 available = qMin(m_socket->bytesAvailable(), replyLimit - m_received);
    if (available <= 0)
        return;
    // Read straight onto the end of the reply: the buffer grows in place, where appending a separate read
    // would copy the whole reply into a new block each time it outgrows its capacity.
    const qsizetype start = m_buffer.size();
    m_buffer.resize(start + available);
    const qsizetype got = qMax<qint64>(m_socket->read(m_buffer.data() + start, available), 0);
    m_received += got;
    m_truncated = m_received >= replyLimit;
    // The window's rule: a zero byte ends the text of this read, and the bytes behind it are dropped.
    const qsizetype end = QByteArrayView(m_buffer.constData() + start, got).indexOf('\0');
    m_buffer.truncate(start + (end >= 0 ? end : got));
    if (!m_sized)
        sizeBuffer(start);
}

// Once the head is in, room for the whole reply is taken at once: grown by doubling, a page of megabytes would
// be copied several times over and touch twice its memory. Each read's bytes are looked through once, and a
// head that has not ended in its first 64 kB is not waited for.
void CWebSocket::sizeBuffer(qsizetype newFrom)
{
    constexpr qsizetype longestHead = qsizetype(64) * 1024;
    qsizetype bodyStart = 0;
    const qsizetype end = HttpReplyHead::headEnd(m_buffer, qMax<qsizetype>(0, newFrom - 3), &bodyStart);
    if (end < 0) {
        m_sized = m_buffer.size() > longestHead;
        return;
    }
    m_sized = true;
    const qint64 length = HttpReplyHead::parse(m_buffer.left(bodyStart)).contentLength;
    if (length > 0)
        m_buffer.reserve(qsizetype(qMin(bodyStart + length, replyLimit)));
}

void CWebSocket::dropPartialReply()
{
    // The next fetch would discard it anyway; a large part of a page need not stay in memory until then.
    m_buffer = QByteArray("");
}

void CWebSocket::closeOwnConnection()
{
    if (!m_socket || (m_socket->state() == QAbstractSocket::UnconnectedState && !m_socket->isOpen()))
        return;
    // Our own close must not look like the peer's: its disconnected() never reaches onDisconnect().
    // abort(), not close(): a graceful close could leave the socket closing while the next fetch connects.
    const QSignalBlocker blocker(m_socket);
    m_socket->abort();
}

} // namespace TXL::QtLib::Web
