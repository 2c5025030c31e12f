#pragma once

#include "check/checkresult.h"
#include "check/judge.h"
#include "check/proxyendpoint.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>

class QSocketNotifier;
class QTcpSocket;

// One way of fetching the judge's page: straight from the judge, or through a proxy by one protocol, on a
// connection of its own, with the proxy's credentials where the list gave them. An https:// judge is spoken to in
// TLS, through the tunnel of CONNECT and SOCKS, its certificate verified for its own name. Ends once with a result;
// the owner bounds the time.
class CProtocolAttempt : public QObject
{
    Q_OBJECT

public:
    enum Protocol { Direct, Http, Connect, Socks5, Socks4 };

    // `clock` is the check's: the judge's first byte is timed from its start.
    CProtocolAttempt(Protocol protocol, const Judge& judge, const QElapsedTimer& clock, QObject* parent = nullptr);
    ~CProtocolAttempt() override;

    // A direct attempt connects to the judge's host.
    void start();
    // The others connect to the proxy.
    void start(const ProxyEndpoint& proxy);
    // Ends a running attempt with that outcome and closes its connection.
    void end(CheckResult::Outcome outcome);

    Protocol protocol() const { return m_protocol; }
    bool isRunning() const { return m_running; }
    // What the attempt met, in the proxy's terms: Working when the judge's page came; read once it has ended.
    CheckResult::Outcome outcome() const { return m_outcome; }
    QString errorText() const { return m_errorText; }
    const QByteArray& reply() const { return m_buffer; } // the judge's reply as it came
    qint64 firstByteMs() const { return m_firstByteMs; }
    QHostAddress peerAddress() const { return m_peer; }
    QHostAddress localAddress() const { return m_local; }

    // The protocol's flag in CheckResult's terms.
    static int protocolFlag(Protocol protocol);

signals:
    void connected();
    void finished();

private:
    enum Stage { Connecting, Greeting, Authentication, Tunnel, Handshake, Reply };

    void makeSocket();
    void takeConnection();
    void failConnect(int error);
    void onConnected();
    void onReadyRead();
    // False when the bytes took the attempt past its limit, which ended it.
    bool takeBytes(const QByteArray& bytes);
    void onClosed();
    void onError();
    void sendJudgeRequest(bool absolute);
    QByteArray authorizationLine() const;
    void readGreeting();
    void readAuthentication();
    void sendSocks5Request();
    void readTunnel();
    void readReply();
    void enterReply();
    void onEncrypted();
    void judgeReply();

    Protocol m_protocol;
    Judge m_judge;
    const QElapsedTimer& m_clock;
    QByteArray m_user;
    QByteArray m_password;
    bool m_credentials = false;         // the list gave some
    bool m_certificateRejected = false; // an https:// judge's, as the attempt met it
    QTcpSocket* m_socket = nullptr;
    int m_connecting = -1; // the descriptor while a proxy connection is under way
    QSocketNotifier* m_connectNotifier = nullptr;
    Stage m_stage = Connecting;
    bool m_running = true;
    CheckResult::Outcome m_outcome = CheckResult::Stopped;
    QString m_errorText;
    QByteArray m_buffer;
    qint64 m_firstByteMs = -1;
    QHostAddress m_peer;
    QHostAddress m_local;
};
