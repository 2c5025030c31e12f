#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <curl/curl.h>

#include <memory>
#include <unordered_map>

class QSocketNotifier;

namespace TXL::QtLib::Web {

// One libcurl multi handle driven by the event loop of the thread that made it: libcurl names the sockets it
// waits on and the time it waits for; socket notifiers and a timer tell it when either comes. Every transfer
// of the handle shares its connections, so pages of one host reuse one connection (HTTP/1.1) or share one
// (HTTP/2). TLS sessions and name lookups are shared too.
class CurlMulti : public QObject
{
    Q_OBJECT

public:
    // Whom a transfer ends to. add() stores it with the transfer (CURLOPT_PRIVATE), as libcurl's own examples do,
    // so an ended transfer goes straight to its owner.
    class Owner
    {
    public:
        // The transfer has ended with libcurl's result; it is still in the handle until remove().
        virtual void transferDone(CURLcode result) = 0;
        // The handle failed while it drove the transfer, which is out of the handle already: libcurl's reason.
        virtual void transferFailed(const QString& reason) = 0;

    protected:
        ~Owner() = default;
    };

    explicit CurlMulti(QObject* parent = nullptr);
    ~CurlMulti() override;
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    // Caps the connections open to one host; 0 leaves them uncapped.
    void setHostConnections(long connections);
    // The easy handle is given the shared caches and starts on the next turn of the event loop; its end goes to
    // the owner. Returns libcurl's reason when the transfer cannot be added, and then the owner hears nothing of it.
    [[nodiscard]] QString add(CURL* easy, Owner& owner);
    // Takes a transfer out, ended or not; its owner hears nothing more of it. Returns libcurl's reason when the
    // handle would not let it go.
    QString remove(CURL* easy);

private:
    struct Watch;
    static int socketCallback(CURL* easy, curl_socket_t socket, int what, void* self, void* watch);
    static int timerCallback(CURLM* multi, long milliseconds, void* self);
    void watch(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int events);
    void reportDone();
    void failAll(const QString& reason);
    void check(CURLMcode code);

    CURLM* m_multi = nullptr;
    CURLSH* m_share = nullptr;
    // Why the handle refuses every transfer: it could not be set up as its transfers need it. Null while it works.
    QString m_failure;
    QTimer m_timer;
    std::unordered_map<curl_socket_t, std::unique_ptr<Watch>> m_watches;
    // The transfers in the handle, each with the number it was added as: those to end when the handle fails.
    std::unordered_map<CURL*, quint64> m_transfers;
    quint64 m_added = 0;
};

} // namespace TXL::QtLib::Web
