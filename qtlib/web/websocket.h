#pragma once

#include "qtlib/web/fetchoutcome.h"
#include "qtlib/web/webrules.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QSslError>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QUrl>

class QSslSocket;
struct HttpReplyHead;

namespace TXL::QtLib::Web {

// HTTP/1.0 client for one page at a time. A QThread whose own loop stays idle: the socket, the timer and
// every slot live on the thread that created the instance and are driven by its event loop. The thread is
// started and stopped as the program has always done, but no work runs on it: sockets that never block need
// no thread of their own.
// Under the classic rules it fetches http:// pages on the given port and takes the first reply as it comes.
// Under today's rules (startWebFetch) it also fetches https:// pages, honours a URL's port and follows
// redirects. Under both, a reply is read up to replyLimit bytes and no further.
class CWebSocket : public QThread
{
    Q_OBJECT

public:
    // A reply is cut here: one endless page must not take the machine's memory.
    static constexpr qint64 replyLimit = qint64(64) * 1024 * 1024;
    static constexpr int redirectLimit = 10;

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
    // How the last fetch ended; its final URL is set by startWebFetch() fetches only.
    CFetchOutcome outcome() const { return m_outcome; }
    // Where the last reply under today's rules came from, after redirects.
    QUrl lastUrl() const { return m_target; }

    WebRules rules() const { return m_rules; }
    void setRules(const WebRules& rules) { m_rules = rules; }

    // Values above 25000 ms are ignored; values below 0 count as 0, a time-out as soon as the connection is up.
    void setTimeout(int msecs);
    void reset();
    void startFetch();
    // Fetches the URL under the rules set: http or https, its own port, redirects followed unless classic.
    void startWebFetch(const QUrl& url);

signals:
    void dataRetrieved();
    void dataRetrievalError();

protected slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();
    void onError(QAbstractSocket::SocketError error);
    void onTimeout();
    void onEncrypted();
    void onSslErrors(const QList<QSslError>& errors);

protected:
    void run() override;
    QSslSocket* socket() const { return m_socket; }
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
    void beginChain();
    void connectTo(const QUrl& url);
    void readAvailable();
    void sizeBuffer(qsizetype newFrom);
    void finishReply();
    bool followRedirect(const HttpReplyHead& head);
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
    QSslSocket* m_socket = nullptr;
    QByteArray m_result;
    int m_socketDescriptor = 0;

    // True from the start of a fetch until its outcome or cancellation; a disconnection, error or time-out
    // outside that span (as when we close the connection ourselves) completes nothing.
    bool m_fetching = false;
    bool m_connectPending = false;
    int m_connectPort = 80;

    WebRules m_rules;
    // The connection under way: TLS or not, and the Host line's value.
    bool m_secure = false;
    QString m_hostLine;
    QUrl m_target;
    // The redirects of one fetch, its clock and how it ended.
    int m_redirects = 0;
    QSet<QByteArray> m_visited; // as sent: QUrl can hold one URL two ways that compare unequal
    QElapsedTimer m_clock;
    CFetchOutcome m_outcome;
    qint64 m_received = 0; // bytes of this reply read so far, zero bytes included
    bool m_truncated = false;
    bool m_sized = false; // room for the whole reply taken, or not to be known
    QString m_tlsFailure;
};

} // namespace TXL::QtLib::Web
