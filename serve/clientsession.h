#pragma once

#include "serve/bodystream.h"
#include "serve/httphead.h"
#include "serve/servedrequest.h"
#include "serve/socksrequest.h"
#include "serve/upstreamdial.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

class CProxyServer;
class QTcpSocket;

// One client of the serve: its protocol told by the first byte, then HTTP requests one after the other (each
// through the next upstream), or one tunnel by CONNECT, SOCKS 5 or SOCKS 4. Each direction holds at most
// bufferSize and reads no more until the other side drains it.
class CClientSession : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 bufferSize = qint64{256} * 1024;
    static constexpr int triesPerRequest = 3;

    CClientSession(QTcpSocket* client, CProxyServer* server);
    ~CClientSession() override;

    void start();

signals:
    void ended();

private:
    enum Stage {
        First,
        Socks5Greeting,
        Socks5Login,
        Socks5Request,
        Socks4Request,
        Head,
        Dialing,
        Forwarding,
        Tunnel,
        Closing
    };
    enum Kind { Plain, ConnectTunnel, Socks5Tunnel, Socks4Tunnel };

    void onClientRead();
    void onUpstreamRead();
    void onClientWritten();
    void onUpstreamWritten();
    void onUpstreamClosed();
    void readFirst();
    void readSocks5Greeting();
    void readSocks5Login();
    // A SOCKS request read whole: taken out of what came, and the request begun; false while more must come, or
    // when it was malformed and the client is closed.
    bool takeTarget(const SocksRequest::Target& target, Kind kind, const char* method);
    void readSocks5Request();
    void readSocks4Request();
    void readHead();
    bool authorized(const HttpHead& head) const;
    void startDial();
    void dialOpened();
    void dialFailed(const QString& reason);
    void giveUp(int status, const QString& reason);
    void sendPlainRequest();
    void pumpRequestBody();
    void readReply();
    void pumpReplyBody();
    void requestDone();
    void pumpTunnel();
    // An HTTP answer of the serve's own, one line of text, and the connection closed.
    void answer(int status, const QString& line, const QByteArray& extraFields = QByteArray());
    void socksFailure(quint8 socks5Code);
    void close();
    void finish();
    // The log's record of the request or tunnel: begun when it is read, told once when it ends.
    void begin(const QByteArray& method, const QByteArray& host, quint16 port);
    void told();
    void countUp(qint64 bytes);
    void countDown(qint64 bytes);

    CProxyServer* m_server;
    QTcpSocket* m_client;
    QTcpSocket* m_upstream = nullptr;
    CUpstreamDial* m_dial = nullptr;
    QTimer m_idle;
    Stage m_stage = First;
    Kind m_kind = Plain;
    QByteArray m_in; // the client's bytes not yet used

    // The request or tunnel under way.
    QByteArray m_host;
    quint16 m_port = 0;
    HttpHead m_request;
    QByteArray m_path; // origin-form, for a site reached through a tunnel
    bool m_keepAlive = false;
    BodyStream m_requestBody;
    QByteArray m_held; // the request's body sent so far, while it may be sent again
    bool m_retryable = false;
    QByteArray m_replyHead;
    bool m_replyStarted = false; // something of the reply went to the client
    BodyStream m_replyBody;
    bool m_closeAfter = false;
    QSet<quint64> m_tried; // ProxyEndpoint keys of the upstreams this request has tried
    Upstream m_current;
    CUpstreamDial::Way m_way = CUpstreamDial::Forward;
    QString m_lastFailure;
    bool m_ended = false;
    ServedRequest m_record;
    bool m_recording = false;
    QElapsedTimer m_requestClock;
};
