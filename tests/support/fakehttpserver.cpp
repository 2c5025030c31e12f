#include "tests/support/fakehttpserver.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

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

int FakeHttpServer::openConnections() const
{
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>();
    return int(std::count_if(sockets.begin(), sockets.end(),
                             [](QTcpSocket* socket) { return socket->state() == QAbstractSocket::ConnectedState; }));
}

quint16 FakeHttpServer::unusedPort()
{
    QTcpServer probe; // closed again as it goes
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

void FakeHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // Small writes must leave at once, so that pauses between parts really split the reads.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const qsizetype index = m_requests.size();
        m_requests.append(FakeRequest());
        m_requests.last().peer = socket->peerAddress().toString();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] { readRequest(socket, index); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeHttpServer::readRequest(QTcpSocket* socket, qsizetype index)
{
    FakeRequest& request = m_requests[index];
    request.bytes += socket->readAll();
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
    else if (reply.ending == FakeReply::Ending::Reset)
        QTimer::singleShot(100, socket, [socket] { socket->abort(); });
    else if (reply.ending == FakeReply::Ending::Endless && !reply.parts.isEmpty())
        sendForever(socket, reply.parts.last());
}

void FakeHttpServer::sendForever(QTcpSocket* socket, const QByteArray& bytes)
{
    // Topped up only as the client reads, so a client that stops reading cannot make this process grow.
    const qint64 limit = std::max<qint64>(bytes.size(), qint64(1024) * 1024);
    const auto topUp = [socket, bytes, limit] {
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < limit)
            socket->write(bytes);
    };
    connect(socket, &QTcpSocket::bytesWritten, this, topUp);
    // The last flush may have emptied the buffer already, with no bytesWritten still to come.
    topUp();
}

FakeReply FakeHttpServer::replyFor(const FakeRequest& request)
{
    return m_routes.value(routeKey(request.host, request.path),
                          m_routes.value(routeKey(QString(), request.path), m_defaultReply));
}

QString FakeHttpServer::routeKey(const QString& host, const QString& path)
{
    return host.toLower() + QLatin1Char(' ') + path;
}
