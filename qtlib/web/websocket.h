#pragma once

#include "qtlib/web/fetchoutcome.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QThread>
#include <QTimer>

class QTcpSocket;

namespace TXL::QtLib::Web {

// HTTP/1.0 client for one page at a time. A QThread whose own loop stays idle: the socket, the timer and
// every slot live on the thread that created the instance and are driven by its event loop. The thread is
// started and stopped as the program has always done, but no work runs on it: sockets that never block need
// no thread of their own.
// It fetches http:// pages on the given port, takes the first reply as it comes and reads it up to replyLimit
// bytes and no further. (The command line fetches today's web through libcurl: CurlPages.)
class CWebSocket : public QThread
{
    Q_OBJECT

public:
    // A reply is cut here: one endless page must not take the machine's memory.
    static constexpr qint64 replyLimit = qint64(64) * 1024 * 1024;
    // Redirects the command line follows for one page; the window follows none.
    static constexpr int redirectLimit = 10;
    // The browser the page fetchers say they are, on the command line too.
    static constexpr const char* userAgent = "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.1.2) "
                                             "Gecko/20090729 Firefox/3.5.2 (.NET CLR 3.5.30729)";

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
    // No socket of the system's: the fetcher's number in its harvest, which names its page files
    // ("<number>-<page>.dat") and tells the engine which fetcher reported.
    int socketDescriptor() const { return m_socketDescriptor; }
    void setSocketDescriptor(int iSocketDescriptor) { m_socketDescriptor = iSocketDescriptor; }
    // The reply as text, one character per byte; kept as those bytes, half the size of the text.
    QString data() const { return QString::fromLatin1(m_result); }
    qint64 bytesRetrieved() const { return m_bytesRetrieved; }
    // How the last fetch ended; its final URL is left for the owner to fill in.
    CFetchOutcome outcome() const { return m_outcome; }

    // Values above 25000 ms are ignored; values below 0 count as 0, a time-out as soon as the connection is up.
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

    // startFetch() on another port than the port field's.
    void startFetchOnPort(int port);
    // Ends the fetch in progress without an outcome: no signal, result and bytes retrieved unchanged.
    void cancelFetch();
    // Hands the last reply over and keeps an empty result, for owners that keep nothing of a finished page.
    QByteArray takeResult();

private slots:
    void openPendingConnection();

private:
    QByteArray request() const;
    void readAvailable();
    void sizeBuffer(qsizetype newFrom);
    void finishReply();
    void fail(CFetchOutcome::Kind kind, const QString& detail = QString());
    void closeOwnConnection();
    void dropPartialReply();

    QString m_host;
    QString m_path;
    QString m_cookie;
    QString m_referrer;
    QByteArray m_buffer;
    int m_port = 80;
    qint64 m_bytesRetrieved = 0;
    QTimer m_timer;
    QTcpSocket* m_socket = nullptr;
    QByteArray m_result;
    int m_socketDescriptor = 0;

    // True from the start of a fetch until its outcome or cancellation; a disconnection, error or time-out
    // outside that span (as when we close the connection ourselves) completes nothing.
    bool m_fetching = false;
    bool m_connectPending = false;
    int m_connectPort = 80;

    QElapsedTimer m_clock;
    CFetchOutcome m_outcome;
    qint64 m_received = 0; // bytes of this reply read so far, zero bytes included
    bool m_truncated = false;
    bool m_sized = false; // room for the whole reply taken, or not to be known
};

} // namespace TXL::QtLib::Web
