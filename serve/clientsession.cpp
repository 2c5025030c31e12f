#include "serve/clientsession.h"

#include "check/checkresult.h"
#include "serve/proxyserver.h"
#include "serve/socksrequest.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 407:
        return "Proxy Authentication Required";
    case 431:
        return "Request Header Fields Too Large";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

// "host:port" of an authority, a bracketed IPv6 address without its brackets; false when it is none.
bool splitAuthority(const QByteArray& authority, quint16 defaultPort, QByteArray* host, quint16* port)
{
    QByteArray portText;
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        if (close < 0)
            return false;
        *host = authority.mid(1, close - 1);
        if (QHostAddress(QString::fromLatin1(*host)).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        const QByteArray rest = authority.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        portText = rest.mid(1);
    } else {
        const qsizetype colon = authority.lastIndexOf(':');
        *host = colon < 0 ? authority : authority.left(colon);
        portText = colon < 0 ? QByteArray() : authority.mid(colon + 1);
    }
    // A colon is an IPv6 address's only inside brackets.
    if (host->isEmpty() || host->contains('@') || host->contains(' ') ||
        (host->contains(':') && !authority.startsWith('[')))
        return false;
    bool ok = true;
    const uint value = portText.isEmpty() ? defaultPort : portText.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

} // namespace

CClientSession::CClientSession(QTcpSocket* client, CProxyServer* server) : m_server(server), m_client(client)
{
    m_client->setParent(this);
    m_client->setReadBufferSize(bufferSize);
    m_idle.setSingleShot(true);
    m_idle.setInterval(server->job().idleMs);
    connect(&m_idle, &QTimer::timeout, this, &CClientSession::finish);
    connect(m_client, &QTcpSocket::readyRead, this, &CClientSession::onClientRead);
    connect(m_client, &QTcpSocket::bytesWritten, this, &CClientSession::onClientWritten);
    connect(m_client, &QTcpSocket::disconnected, this, &CClientSession::finish);
    connect(m_client, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            finish();
    });
}

CClientSession::~CClientSession()
{
    // The sockets' last signals (a closing one says it closed) must not reach a session half gone.
    m_ended = true;
    m_client->disconnect(this);
    delete m_dial;
    m_dial = nullptr;
    delete m_upstream;
    m_upstream = nullptr;
}

void CClientSession::start()
{
    m_client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_idle.start();
    if (m_client->state() != QAbstractSocket::ConnectedState)
        return finish();
    onClientRead();
}

void CClientSession::finish()
{
    if (m_ended)
        return;
    m_ended = true;
    told();
    m_idle.stop();
    if (m_dial)
        m_dial->disconnect(this);
    if (m_upstream) {
        m_upstream->disconnect(this);
        m_upstream->abort();
    }
    m_client->disconnect(this);
    m_client->abort();
    emit ended();
}

// Once what is written has gone: the client's connection, and the upstream's.
void CClientSession::close()
{
    m_stage = Closing;
    told();
    if (m_upstream) {
        m_upstream->disconnect(this);
        m_upstream->abort();
        m_upstream->deleteLater();
        m_upstream = nullptr;
    }
    if (m_client->bytesToWrite() == 0)
        return finish();
    m_client->disconnectFromHost();
}

void CClientSession::onClientRead()
{
    if (m_ended)
        return;
    m_idle.start();
    switch (m_stage) {
    case First:
    case Socks5Greeting:
    case Socks5Login:
    case Socks5Request:
    case Socks4Request:
    case Head:
        // No message of these is longer than a head; the client waits for our answer before it sends more.
        m_in += m_client->read(HttpHead::maxSize + 1 - m_in.size());
        if (m_stage == First)
            return readFirst();
        if (m_stage == Socks5Greeting)
            return readSocks5Greeting();
        if (m_stage == Socks5Login)
            return readSocks5Login();
        if (m_stage == Socks5Request)
            return readSocks5Request();
        if (m_stage == Socks4Request)
            return readSocks4Request();
        return readHead();
    case Forwarding:
        return pumpRequestBody();
    case Tunnel:
        return pumpTunnel();
    case Dialing:
    case Closing:
        return;
    }
}

void CClientSession::readFirst()
{
    if (m_in.isEmpty())
        return;
    const char first = m_in.at(0);
    if (first == 0x05) {
        m_stage = Socks5Greeting;
        return readSocks5Greeting();
    }
    if (first == 0x04) {
        m_stage = Socks4Request;
        return readSocks4Request();
    }
    if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '\r' || first == '\n') {
        m_stage = Head;
        return readHead();
    }
    answer(400, QStringLiteral("not a request of HTTP, SOCKS 5 or SOCKS 4"));
}

void CClientSession::readSocks5Greeting()
{
    const SocksRequest::Greeting greeting = SocksRequest::greeting5(m_in);
    if (greeting.state == SocksRequest::Reading::NeedMore)
        return;
    if (greeting.state == SocksRequest::Reading::Malformed)
        return close();
    m_in.remove(0, greeting.length);
    const bool login = m_server->job().asksCredentials();
    if (!greeting.methods.contains(login ? '\x02' : '\x00')) {
        m_client->write(QByteArray("\x05\xff", 2));
        return close();
    }
    m_client->write(login ? QByteArray("\x05\x02", 2) : QByteArray("\x05\x00", 2));
    m_stage = login ? Socks5Login : Socks5Request;
    onClientRead();
}

void CClientSession::readSocks5Login()
{
    const SocksRequest::Login login = SocksRequest::login5(m_in);
    if (login.state == SocksRequest::Reading::NeedMore)
        return;
    if (login.state == SocksRequest::Reading::Malformed)
        return close();
    m_in.remove(0, login.length);
    const ServeJob& job = m_server->job();
    if (login.user != job.user || login.password != job.password) {
        m_client->write(QByteArray("\x01\x01", 2));
        return close();
    }
    m_client->write(QByteArray("\x01\x00", 2));
    m_stage = Socks5Request;
    onClientRead();
}

bool CClientSession::takeTarget(const SocksRequest::Target& target, Kind kind, const char* method)
{
    if (target.state == SocksRequest::Reading::NeedMore)
        return false;
    if (target.state == SocksRequest::Reading::Malformed) {
        close();
        return false;
    }
    m_in.remove(0, target.length);
    m_kind = kind;
    begin(method, target.host, target.port);
    return true;
}

void CClientSession::readSocks5Request()
{
    const SocksRequest::Target target = SocksRequest::request5(m_in);
    if (!takeTarget(target, Socks5Tunnel, "SOCKS5"))
        return;
    if (target.command != 1)
        return socksFailure(0x07);
    if (m_server->isOwnAddress(target.host, target.port))
        return socksFailure(0x02);
    m_host = target.host;
    m_port = target.port;
    startDial();
}

void CClientSession::readSocks4Request()
{
    const SocksRequest::Target target = SocksRequest::request4(m_in);
    if (!takeTarget(target, Socks4Tunnel, "SOCKS4"))
        return;
    // SOCKS 4 carries no password.
    if (target.command != 1 || m_server->job().asksCredentials() || m_server->isOwnAddress(target.host, target.port))
        return socksFailure(0x01);
    m_host = target.host;
    m_port = target.port;
    startDial();
}

void CClientSession::socksFailure(quint8 socks5Code)
{
    ++m_server->counters().failed;
    m_record.status = QString::number(m_kind == Socks5Tunnel ? socks5Code : 0x5b);
    if (m_kind == Socks5Tunnel)
        m_client->write(QByteArray("\x05", 1) + char(socks5Code) + QByteArray("\x00\x01\x00\x00\x00\x00\x00\x00", 8));
    else
        m_client->write(QByteArray("\x00\x5b\x00\x00\x00\x00\x00\x00", 8));
    close();
}

bool CClientSession::authorized(const HttpHead& head) const
{
    const ServeJob& job = m_server->job();
    if (!job.asksCredentials())
        return true;
    const QByteArray field = head.field("Proxy-Authorization");
    const qsizetype blank = field.indexOf(' ');
    if (blank < 0 || field.left(blank).compare("Basic", Qt::CaseInsensitive) != 0)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(field.mid(blank + 1).trimmed());
    return decoded && *decoded == job.user + ':' + job.password;
}

void CClientSession::readHead()
{
    const HttpHead head = HttpHead::readRequest(m_in);
    if (head.state == HttpHead::NeedMore)
        return;
    if (head.state == HttpHead::TooLarge)
        return answer(431, QStringLiteral("the request's head is longer than 64 kB"));
    if (head.state == HttpHead::Malformed)
        return answer(400, QStringLiteral("the request is malformed"));
    begin(head.first, QByteArray(), 0);
    if (!authorized(head))
        return answer(407, QStringLiteral("this proxy needs a user name and password"),
                      "Proxy-Authenticate: Basic realm=\"sievra\"\r\n");
    m_in.remove(0, head.length);
    m_request = head;
    m_tried.clear();
    m_lastFailure.clear();
    if (head.first == "CONNECT") {
        if (!splitAuthority(head.second, 443, &m_host, &m_port))
            return answer(400, QStringLiteral("CONNECT needs host:port"));
        m_kind = ConnectTunnel;
        begin(head.first, m_host, m_port);
        if (m_server->isOwnAddress(m_host, m_port))
            return answer(403, QStringLiteral("this proxy does not reach itself"));
        return startDial();
    }
    m_kind = Plain;
    const QByteArray& target = head.second;
    if (!target.startsWith("http://") && !target.startsWith("HTTP://"))
        return answer(400, target.contains("://") ? QStringLiteral("only http:// URLs are fetched; https:// goes "
                                                                   "through CONNECT")
                                                  : QStringLiteral("a proxy request needs an absolute http:// URL"));
    const qsizetype hostStart = 7;
    qsizetype pathStart = hostStart;
    while (pathStart < target.size() && target.at(pathStart) != '/' && target.at(pathStart) != '?')
        ++pathStart;
    if (!splitAuthority(target.mid(hostStart, pathStart - hostStart), 80, &m_host, &m_port))
        return answer(400, QStringLiteral("the URL names no host"));
    begin(head.first, m_host, m_port);
    if (m_server->isOwnAddress(m_host, m_port))
        return answer(403, QStringLiteral("this proxy does not reach itself"));
    m_path = target.mid(pathStart);
    if (m_path.isEmpty() || m_path.startsWith('?'))
        m_path.prepend('/');
    if (!BodyStream::framing(head.field("Transfer-Encoding"), {}, false, &m_requestBody))
        return answer(400, QStringLiteral("the request's body has no length that can be told"));
    QList<QByteArray> lengths;
    for (const auto& field : head.fields)
        if (field.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
            lengths << field.second;
    if (head.field("Transfer-Encoding").isEmpty() && !BodyStream::framing(QByteArray(), lengths, false, &m_requestBody))
        return answer(400, QStringLiteral("the request's Content-Length is not one number"));
    const bool http11 = head.third == "HTTP/1.1";
    const bool closes = head.hasToken("Connection", "close") || head.hasToken("Proxy-Connection", "close");
    const bool keeps = head.hasToken("Connection", "keep-alive") || head.hasToken("Proxy-Connection", "keep-alive");
    m_keepAlive = http11 ? !closes : keeps;
    // An idempotent request is sent again through another upstream, while its body is held.
    m_retryable = head.first == "GET" || head.first == "HEAD" || head.first == "OPTIONS";
    m_held.clear();
    startDial();
}

void CClientSession::startDial()
{
    m_stage = Dialing;
    const int tunnels = CheckResult::Connect | CheckResult::Socks5 | CheckResult::Socks4;
    if (!m_server->pick(m_kind == Plain ? tunnels | CheckResult::Http : tunnels, m_tried, &m_current)) {
        if (m_tried.isEmpty())
            return giveUp(503, QStringLiteral("no upstream proxy is healthy now"));
        return giveUp(
            502, QStringLiteral("%1 upstream proxies failed, the last: %2").arg(m_tried.size()).arg(m_lastFailure));
    }
    if (!m_tried.isEmpty())
        ++m_server->counters().rerouted;
    m_tried.insert(m_current.proxy.key());
    const Upstream& upstream = m_current;
    m_record.upstream = upstream.proxy.addressText() + QLatin1Char(':') + QString::number(upstream.proxy.port);
    const int protocols = upstream.protocols;
    if (m_kind == Plain && (protocols & CheckResult::Http))
        m_way = CUpstreamDial::Forward;
    else if (protocols & CheckResult::Connect)
        m_way = CUpstreamDial::Connect;
    else if (protocols & CheckResult::Socks5)
        m_way = CUpstreamDial::Socks5;
    else
        m_way = CUpstreamDial::Socks4;
    m_record.protocol = CUpstreamDial::wayName(m_way);
    delete m_dial;
    m_dial = new CUpstreamDial(upstream, m_way, m_host, m_port, m_server->job().upstreamTimeoutMs);
    connect(m_dial, &CUpstreamDial::opened, this, &CClientSession::dialOpened);
    connect(m_dial, &CUpstreamDial::failed, this, &CClientSession::dialFailed);
    m_dial->start();
}

void CClientSession::dialFailed(const QString& reason)
{
    m_lastFailure = reason;
    m_server->upstreamFailed(m_current.proxy, reason);
    m_dial->deleteLater();
    m_dial = nullptr;
    if (m_tried.size() < triesPerRequest)
        return startDial();
    giveUp(502, QStringLiteral("%1 upstream proxies failed, the last: %2").arg(m_tried.size()).arg(reason));
}

void CClientSession::giveUp(int status, const QString& reason)
{
    if (m_kind != Plain && m_kind != ConnectTunnel)
        return socksFailure(0x01);
    ++m_server->counters().failed;
    answer(status, reason);
}

void CClientSession::dialOpened()
{
    m_upstream = m_dial->takeSocket();
    const QByteArray early = m_dial->leftover();
    m_dial->deleteLater();
    m_dial = nullptr;
    m_upstream->setParent(this);
    m_upstream->setReadBufferSize(bufferSize);
    connect(m_upstream, &QTcpSocket::readyRead, this, &CClientSession::onUpstreamRead);
    connect(m_upstream, &QTcpSocket::bytesWritten, this, &CClientSession::onUpstreamWritten);
    connect(m_upstream, &QTcpSocket::disconnected, this, &CClientSession::onUpstreamClosed);
    connect(m_upstream, &QTcpSocket::errorOccurred, this, &CClientSession::onUpstreamClosed);
    m_server->upstreamWorked(m_current.proxy);
    ++m_server->counters().requests;
    if (m_kind == Plain) {
        m_replyHead = early;
        sendPlainRequest();
        return;
    }
    m_record.status = m_kind == ConnectTunnel  ? QStringLiteral("200")
                      : m_kind == Socks5Tunnel ? QStringLiteral("0")
                                               : QString::number(0x5a);
    if (m_kind == ConnectTunnel)
        m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
    else if (m_kind == Socks5Tunnel)
        m_client->write(QByteArray("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10));
    else
        m_client->write(QByteArray("\x00\x5a\x00\x00\x00\x00\x00\x00", 8));
    m_client->write(early);
    countDown(early.size());
    m_stage = Tunnel;
    m_upstream->write(m_in);
    countUp(m_in.size());
    m_in.clear();
    pumpTunnel();
}

void CClientSession::sendPlainRequest()
{
    const HttpHead& head = m_request;
    const QByteArray authority = (m_host.contains(':') ? '[' + m_host + ']' : m_host) +
                                 (m_port == 80 ? QByteArray() : ':' + QByteArray::number(m_port));
    QByteArray text = head.first + ' ' + (m_way == CUpstreamDial::Forward ? head.second : m_path) + " HTTP/1.1\r\n";
    if (!head.has("Host"))
        text += "Host: " + authority + "\r\n";
    text += head.endToEndFields();
    // One request per upstream connection: the next takes the next upstream anyway.
    text += "Connection: close\r\n";
    const ProxyEndpoint& proxy = m_current.proxy;
    if (m_way == CUpstreamDial::Forward && proxy.hasCredentials())
        text += "Proxy-Authorization: Basic " + QByteArray(proxy.user + ':' + proxy.password).toBase64() + "\r\n";
    text += "\r\n";
    m_upstream->write(text);
    m_upstream->write(m_held);
    countUp(text.size() + m_held.size());
    m_replyStarted = false;
    m_closeAfter = !m_keepAlive;
    m_stage = Forwarding;
    pumpRequestBody();
    readReply();
}

void CClientSession::pumpRequestBody()
{
    if (!m_upstream || m_stage != Forwarding)
        return;
    while (!m_requestBody.done() && !m_requestBody.malformed() && m_upstream->bytesToWrite() < bufferSize) {
        if (m_in.isEmpty())
            m_in = m_client->read(bufferSize - m_upstream->bytesToWrite());
        if (m_in.isEmpty())
            break;
        const qsizetype taken = m_requestBody.take(m_in.constData(), m_in.size());
        const QByteArray body = m_in.left(taken);
        m_in.remove(0, taken);
        m_upstream->write(body);
        countUp(body.size());
        if (m_retryable && m_held.size() + body.size() <= bufferSize)
            m_held += body;
        else
            m_retryable = false;
    }
    if (m_requestBody.malformed()) {
        if (m_replyStarted)
            return finish();
        return answer(400, QStringLiteral("the request's chunks are malformed"));
    }
}

void CClientSession::onUpstreamRead()
{
    if (m_ended || !m_upstream)
        return;
    m_idle.start();
    if (m_stage == Tunnel)
        return pumpTunnel();
    if (m_stage != Forwarding)
        return;
    if (!m_replyStarted)
        return readReply();
    pumpReplyBody();
}

void CClientSession::readReply()
{
    if (m_replyStarted || !m_upstream)
        return;
    m_replyHead += m_upstream->read(HttpHead::maxSize + 1 - m_replyHead.size());
    for (;;) {
        const HttpHead head = HttpHead::readReply(m_replyHead);
        if (head.state == HttpHead::NeedMore)
            return;
        if (head.state != HttpHead::Complete) {
            // The site's answer, not the upstream's failure: the client is told, nothing is retried.
            ++m_server->counters().failed;
            return answer(502, QStringLiteral("the site's reply is not HTTP"));
        }
        m_replyHead.remove(0, head.length);
        const int status = head.status();
        const QByteArray statusLine = "HTTP/1.1 " + head.second + ' ' + head.third + "\r\n";
        // An interim answer goes on as it came; the final one follows.
        if (status / 100 == 1 && status != 101) {
            m_client->write(statusLine + head.endToEndFields() + "\r\n");
            continue;
        }
        const bool noBody = m_request.first == "HEAD" || status == 204 || status == 304 || status == 101;
        QList<QByteArray> lengths;
        for (const auto& field : head.fields)
            if (field.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                lengths << field.second;
        if (noBody)
            m_replyBody = BodyStream(BodyStream::Empty);
        else if (!BodyStream::framing(head.field("Transfer-Encoding"), lengths, true, &m_replyBody)) {
            ++m_server->counters().failed;
            return answer(502, QStringLiteral("the site's reply has no length that can be told"));
        }
        if (m_replyBody.kind() == BodyStream::UntilClose || status == 101)
            m_closeAfter = true;
        const QByteArray replyHead = statusLine + head.endToEndFields() +
                                     (m_closeAfter ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n");
        m_client->write(replyHead);
        countDown(replyHead.size());
        m_replyStarted = true;
        m_record.status = QString::number(status);
        const QByteArray early = m_replyHead;
        m_replyHead.clear();
        const qsizetype taken = m_replyBody.take(early.constData(), early.size());
        m_client->write(early.left(taken));
        countDown(taken);
        pumpReplyBody();
        return;
    }
}

void CClientSession::pumpReplyBody()
{
    while (m_upstream && !m_replyBody.done() && !m_replyBody.malformed() && m_client->bytesToWrite() < bufferSize) {
        const QByteArray bytes = m_upstream->read(bufferSize - m_client->bytesToWrite());
        if (bytes.isEmpty())
            break;
        const qsizetype taken = m_replyBody.take(bytes.constData(), bytes.size());
        m_client->write(bytes.left(taken));
        countDown(taken);
    }
    if (m_replyBody.malformed())
        return finish();
    if (m_replyBody.done())
        requestDone();
}

void CClientSession::requestDone()
{
    told();
    if (m_upstream) {
        m_upstream->disconnect(this);
        m_upstream->abort();
        m_upstream->deleteLater();
        m_upstream = nullptr;
    }
    // A reply that came before its request's whole body leaves the connection in no state to go on.
    if (m_closeAfter || !m_requestBody.done())
        return close();
    m_stage = Head;
    m_replyStarted = false;
    if (!m_in.isEmpty() || m_client->bytesAvailable() > 0)
        onClientRead();
}

void CClientSession::onUpstreamClosed()
{
    if (m_ended || !m_upstream)
        return;
    if (m_stage == Tunnel) {
        pumpTunnel();
        // What the client has not read yet still goes; then both close.
        if (m_upstream->bytesAvailable() == 0)
            return close();
        return;
    }
    if (m_stage != Forwarding)
        return;
    if (!m_replyStarted) {
        readReply();
        if (m_replyStarted || m_stage != Forwarding)
            return;
        // Closed before the reply's head: the upstream's failure.
        const QString reason = QStringLiteral("closed before the reply (%1)").arg(m_upstream->errorString());
        m_lastFailure = reason;
        m_server->upstreamFailed(m_current.proxy, reason);
        m_upstream->disconnect(this);
        m_upstream->deleteLater();
        m_upstream = nullptr;
        if (m_retryable && m_requestBody.done() && m_tried.size() < triesPerRequest)
            return startDial();
        ++m_server->counters().failed;
        return answer(502, QStringLiteral("the upstream proxy closed before the reply: %1").arg(reason));
    }
    pumpReplyBody();
    if (m_stage == Forwarding && m_upstream && m_upstream->bytesAvailable() == 0 && !m_replyBody.done()) {
        if (m_replyBody.kind() == BodyStream::UntilClose)
            return requestDone();
        // Cut short: the client must not take it for the whole reply.
        finish();
    }
}

void CClientSession::pumpTunnel()
{
    if (!m_upstream)
        return;
    qint64 moved = 0;
    while (m_client->bytesAvailable() > 0 && m_upstream->bytesToWrite() < bufferSize) {
        const QByteArray bytes = m_client->read(bufferSize - m_upstream->bytesToWrite());
        m_upstream->write(bytes);
        countUp(bytes.size());
        moved += bytes.size();
    }
    while (m_upstream->bytesAvailable() > 0 && m_client->bytesToWrite() < bufferSize) {
        const QByteArray bytes = m_upstream->read(bufferSize - m_client->bytesToWrite());
        m_client->write(bytes);
        countDown(bytes.size());
        moved += bytes.size();
    }
    if (moved > 0)
        m_idle.start();
    if (m_upstream->state() != QAbstractSocket::ConnectedState && m_upstream->bytesAvailable() == 0)
        close();
}

void CClientSession::onClientWritten()
{
    if (m_ended)
        return;
    if (m_stage == Closing) {
        if (m_client->bytesToWrite() == 0)
            finish();
        return;
    }
    if (m_stage == Tunnel)
        return pumpTunnel();
    if (m_stage == Forwarding && m_replyStarted)
        pumpReplyBody();
}

void CClientSession::onUpstreamWritten()
{
    if (m_ended)
        return;
    if (m_stage == Tunnel)
        return pumpTunnel();
    if (m_stage == Forwarding)
        pumpRequestBody();
}

void CClientSession::answer(int status, const QString& line, const QByteArray& extraFields)
{
    if (!m_recording)
        begin("-", QByteArray(), 0);
    m_record.status = QString::number(status);
    const QByteArray body = line.toUtf8() + '\n';
    m_client->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                    "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
                    "\r\nConnection: close\r\n" + extraFields + "\r\n" + body);
    close();
}

void CClientSession::begin(const QByteArray& method, const QByteArray& host, quint16 port)
{
    m_record = ServedRequest();
    m_record.startedAt = QDateTime::currentMSecsSinceEpoch();
    m_record.client = m_client->peerAddress().toString() + QLatin1Char(':') + QString::number(m_client->peerPort());
    m_record.method = method;
    m_record.target = host.isEmpty() ? QByteArray("-")
                                     : (host.contains(':') ? '[' + host + ']' : host) + ':' + QByteArray::number(port);
    m_record.upstream = QStringLiteral("-");
    m_record.protocol = QStringLiteral("-");
    m_record.status = QStringLiteral("-");
    m_recording = true;
    m_requestClock.start();
}

void CClientSession::told()
{
    if (!m_recording)
        return;
    m_recording = false;
    m_record.ms = m_requestClock.elapsed();
    m_server->tell(m_record);
}

void CClientSession::countUp(qint64 bytes)
{
    m_server->counters().bytesUp += bytes;
    m_record.bytesUp += bytes;
}

void CClientSession::countDown(qint64 bytes)
{
    m_server->counters().bytesDown += bytes;
    m_record.bytesDown += bytes;
}
