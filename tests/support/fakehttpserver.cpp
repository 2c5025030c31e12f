#include "tests/support/fakehttpserver.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

FakeReply FakeReply::whole(const QByteArray& bytes)
{
    FakeReply reply;
    reply.parts = {bytes};
    return reply;
}

FakeReply FakeReply::page(const QByteArray& body)
{
    return whole("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body);
}

FakeReply FakeReply::redirect(const QByteArray& location)
{
    return whole("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n");
}

FakeReply FakeReply::inParts(const QList<QByteArray>& parts, int pauseMs)
{
    FakeReply reply;
    reply.parts = parts;
    reply.pauseMs = pauseMs;
    return reply;
}

FakeReply FakeReply::closeWithoutSending()
{
    return FakeReply();
}

FakeReply FakeReply::keepOpenAfter(const QByteArray& bytes)
{
    FakeReply reply = whole(bytes);
    reply.ending = Ending::KeepOpen;
    return reply;
}

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent)
{
    m_defaultReply = FakeReply::whole("HTTP/1.0 404 Not Found\r\n\r\n");
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::acceptConnections);
}

FakeHttpServer::~FakeHttpServer()
{
    m_server.close();
    // Connections still open (kept open on purpose) go with the server; their timers go with them.
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool FakeHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void FakeHttpServer::setReply(const QString& path, const FakeReply& reply)
{
    m_routes.insert(routeKey(QString(), path), reply);
}

void FakeHttpServer::setReply(const QString& host, const QString& path, const FakeReply& reply)
{
    m_routes.insert(routeKey(host, path), reply);
}

int FakeHttpServer::requestCount(const QString& host, const QString& path) const
{
    int count = 0;
    for (const FakeRequest& request : m_requests) {
        if (request.complete && request.path == path && request.host.compare(host, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

int FakeHttpServer::openConnections() const
{
    int count = 0;
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            ++count;
    }
    return count;
}

quint16 FakeHttpServer::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void FakeHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // Small writes must leave at once, so that pauses between parts really split the reads.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int index = m_requests.size();
        m_requests.append(FakeRequest());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] { readRequest(socket, index); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeHttpServer::readRequest(QTcpSocket* socket, int index)
{
    const QByteArray bytes = socket->readAll();
    // A test may have cleared the records while this connection was open.
    if (index >= m_requests.size())
        return;
    FakeRequest& request = m_requests[index];
    request.bytes += bytes;
    if (request.complete || !request.bytes.contains("\r\n\r\n"))
        return;

    request.complete = true;
    const QList<QByteArray> lines = request.bytes.left(request.bytes.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
    request.path = QString::fromLatin1(words.value(1));
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("host:"))
            request.host = QString::fromLatin1(line.mid(5).trimmed());
    }
    emit requestReceived(request.path);
    sendPart(socket, replyFor(request), 0);
}

void FakeHttpServer::sendPart(QTcpSocket* socket, const FakeReply& reply, int part)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (part < reply.parts.size()) {
        socket->write(reply.parts.at(part));
        socket->flush();
        if (part + 1 < reply.parts.size()) {
            QTimer::singleShot(reply.pauseMs, socket,
                               [this, socket, reply, part] { sendPart(socket, reply, part + 1); });
            return;
        }
    }
    if (reply.ending == FakeReply::Ending::Close)
        socket->disconnectFromHost();
}

FakeReply FakeHttpServer::replyFor(const FakeRequest& request) const
{
    const auto forHost = m_routes.constFind(routeKey(request.host, request.path));
    if (forHost != m_routes.constEnd())
        return forHost.value();
    const auto forPath = m_routes.constFind(routeKey(QString(), request.path));
    if (forPath != m_routes.constEnd())
        return forPath.value();
    return m_defaultReply;
}

QString FakeHttpServer::routeKey(const QString& host, const QString& path)
{
    return host.toLower() + QLatin1Char(' ') + path;
}
