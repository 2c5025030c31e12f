#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

class QTcpSocket;

// One scripted answer of the fake web server.
struct FakeReply
{
    enum class Ending {
        Close,    // close the connection once the last part is out
        KeepOpen, // leave it open: the client has to give up by itself
        Reset,    // reset the connection a moment after the last part
        Endless   // the last part again and again, as fast as the client reads, never a close
    };

    QList<QByteArray> parts; // written one after another, each in its own write
    int pauseMs = 0;         // pause before every part after the first
    Ending ending = Ending::Close;

    // The bytes in one write, then close.
    static FakeReply whole(const QByteArray& bytes) { return {{bytes}}; }
    // A 200 reply with a short header in front of the body.
    static FakeReply page(const QByteArray& body, const QByteArray& type = "text/html")
    {
        return whole("HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body);
    }
    // Several writes with a pause between them, then close.
    static FakeReply inParts(const QList<QByteArray>& parts, int pauseMs) { return {parts, pauseMs}; }
    // Close as soon as the request is in, without a byte of reply.
    static FakeReply closeWithoutSending() { return {}; }
    // Send the bytes and keep the connection open: a stall, or a reply never ended by a close.
    static FakeReply keepOpenAfter(const QByteArray& bytes) { return {{bytes}, 0, Ending::KeepOpen}; }
    // The head, then the body over and over for as long as the client takes it.
    static FakeReply endless(const QByteArray& head, const QByteArray& body)
    {
        return {{head, body}, 0, Ending::Endless};
    }
};

// What one connection sent.
struct FakeRequest
{
    QByteArray bytes; // exactly as received, everything the connection sent
    QString path;     // from the request line, once the head is complete
    QString host;     // the "Host: " line's value
    QString peer;     // the address the connection came from
    bool complete = false;
};

// A scriptable HTTP server on 127.0.0.1 at a free port. It waits for each request's head (up to the empty
// line), records it and answers by host and path, by path alone, or with the default reply.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit FakeHttpServer(QObject* parent = nullptr);
    ~FakeHttpServer() override;

    bool listen(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0)
    {
        return m_server.listen(address, port);
    }
    quint16 port() const { return m_server.serverPort(); }
    QString errorText() const { return m_server.errorString(); }

    void setDefaultReply(const FakeReply& reply) { m_defaultReply = reply; }
    void setReply(const QString& path, const FakeReply& reply) { setReply(QString(), path, reply); }
    void setReply(const QString& host, const QString& path, const FakeReply& reply)
    {
        m_routes.insert(routeKey(host, path), reply);
    }

    // One record per accepted connection, in the order they were accepted.
    QList<FakeRequest> requests() const { return m_requests; }
    int openConnections() const;

    // A loopback port nothing listens on (just freed), for refused connections.
    static quint16 unusedPort();

private slots:
    void acceptConnections();

protected:
    virtual FakeReply replyFor(const FakeRequest& request);

private:
    void readRequest(QTcpSocket* socket, qsizetype index);
    void sendPart(QTcpSocket* socket, const FakeReply& reply, int part);
    void sendForever(QTcpSocket* socket, const QByteArray& bytes);
    static QString routeKey(const QString& host, const QString& path);

    QTcpServer m_server;
    FakeReply m_defaultReply;
    QHash<QString, FakeReply> m_routes;
    QList<FakeRequest> m_requests;
};
