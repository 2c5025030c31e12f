#pragma once

#include <QAbstractSocket>
#include <QString>
#include <QThread>
#include <QTimer>

class QTcpSocket;

namespace TXL::QtLib::Web {

// HTTP/1.0 client for one page at a time. A QThread whose own loop stays idle: the socket, the timer and
// every slot live on the thread that created the instance and are driven by its event loop.
class CWebSocket : public QThread
{
    Q_OBJECT

public:
    explicit CWebSocket(QObject* parent = nullptr, int iSocketDescriptor = 0);
    ~CWebSocket() override;

    QString host() const { return m_host; }
    void setHost(const QString& host) { m_host = host; }
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    QString cookie() const { return m_cookie; }
    void setCookie(const QString& cookie) { m_cookie = cookie; }
    QString referrer() const { return m_referrer; }
    void setReferrer(const QString& referrer) { m_referrer = referrer; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }
    int socketDescriptor() const { return m_socketDescriptor; }
    void setSocketDescriptor(int iSocketDescriptor) { m_socketDescriptor = iSocketDescriptor; }
    QString data() const { return m_result; }
    int bytesRetrieved() const { return m_bytesRetrieved; }

    // Values above 25000 ms are ignored.
    void setTimeout(int msecs);
    void reset();
    void startFetch();

signals:
    void dataRetrieved();
    void dataRetrievalError();

protected slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();
    void onError(QAbstractSocket::SocketError error);
    void onTimeout();

protected:
    void run() override;
    QTcpSocket* socket() const { return m_socket; }
    QTimer& timer() { return m_timer; }

private:
    QString m_host;
    QString m_path;
    QString m_cookie;
    QString m_referrer;
    QString m_buffer;
    int m_port = 80;
    int m_bytesRetrieved = 0;
    QTimer m_timer;
    QTcpSocket* m_socket = nullptr;
    QString m_result;
    int m_socketDescriptor = 0;
};

} // namespace TXL::QtLib::Web
