#pragma once

#include "serve/upstream.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;
class QHostInfo;

// One connection through an upstream: to the proxy itself for HTTP forwarding, or a tunnel to host:port opened by
// CONNECT, SOCKS 5 or SOCKS 4, with the credentials the pool holds for it. Ends once: opened() with the socket to
// take, or failed() with the reason. The whole of it is bounded by the time-out.
class CUpstreamDial : public QObject
{
    Q_OBJECT

public:
    enum Way { Forward, Connect, Socks5, Socks4 };

    CUpstreamDial(const Upstream& upstream, Way way, const QByteArray& host, quint16 port, int timeoutMs,
                  QObject* parent = nullptr);
    ~CUpstreamDial() override;

    void start();
    // After opened(): the connection, now the caller's, with what came after the handshake in its read buffer.
    QTcpSocket* takeSocket();
    // What came after the handshake's answer: the site's first bytes.
    QByteArray leftover() const { return m_buffer; }

    // "connect", "socks5"...: the protocol's name as the check's results give it.
    static QString wayName(Way way);

signals:
    void opened();
    void failed(const QString& reason);

private:
    enum Stage { Resolving, Connecting, Greeting, Login, Reply };

    void connectToUpstream();
    void resolved(const QHostInfo& info);
    void onConnected();
    void onReadyRead();
    void sendRequest();
    void fail(const QString& reason);

    Upstream m_upstream;
    Way m_way;
    QByteArray m_host;
    quint16 m_port;
    QByteArray m_address4; // SOCKS 4: the target's IPv4 address, 4 bytes
    QTcpSocket* m_socket = nullptr;
    QTimer m_timer;
    Stage m_stage = Connecting;
    QByteArray m_buffer;
    int m_lookup = -1;
    bool m_ended = false;
};
