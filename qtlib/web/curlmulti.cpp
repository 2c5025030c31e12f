#include "qtlib/web/curlmulti.h"

#include <QSocketNotifier>

namespace TXL::QtLib::Web {

// The notifiers of one socket. A notifier that libcurl is done with may be the one whose signal is running, so
// it is switched off and deleted later rather than at once.
struct CurlMulti::Watch
{
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;

    ~Watch()
    {
        for (QSocketNotifier* notifier : {read, write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
    }
};

namespace {

constexpr long idleConnections = 1000;

// libcurl wants its global set-up before any handle and before other threads run; the first multi handle of the
// program does it, on the main thread, and it stays for the program's life.
void initialiseOnce()
{
    static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(done)
}

} // namespace

CurlMulti::CurlMulti(QObject* parent) : QObject(parent)
{
    initialiseOnce();
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::socketCallback);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::timerCallback);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    // libcurl keeps four idle connections for each transfer under way; a list that cycles through more hosts than
    // that would close every connection before its host came round again.
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, idleConnections);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    m_timer.stop();
    curl_multi_cleanup(m_multi);
    curl_share_cleanup(m_share);
    m_watches.clear();
}

void CurlMulti::setHostConnections(long connections)
{
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections);
}

void CurlMulti::add(CURL* easy, Owner& owner)
{
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(&owner));
    curl_multi_add_handle(m_multi, easy);
}

void CurlMulti::remove(CURL* easy)
{
    curl_multi_remove_handle(m_multi, easy);
}

int CurlMulti::socketCallback(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    static_cast<CurlMulti*>(self)->watch(socket, what);
    return 0;
}

int CurlMulti::timerCallback(CURLM*, long milliseconds, void* self)
{
    // libcurl must not be called back into from here: the timer's own turn of the loop does it.
    auto* multi = static_cast<CurlMulti*>(self);
    if (milliseconds < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(qMin<long>(milliseconds, 24L * 3600 * 1000)));
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        m_watches.erase(socket);
        return;
    }
    std::unique_ptr<Watch>& watch = m_watches[socket];
    if (!watch)
        watch = std::make_unique<Watch>();
    const auto notifier = [this, socket](QSocketNotifier*& slot, QSocketNotifier::Type type, bool wanted, int event) {
        if (!wanted) {
            if (slot)
                slot->setEnabled(false);
            return;
        }
        if (!slot) {
            slot = new QSocketNotifier(socket, type, this);
            connect(slot, &QSocketNotifier::activated, this, [this, socket, event] { act(socket, event); });
        }
        slot->setEnabled(true);
    };
    notifier(watch->read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT, CURL_CSELECT_IN);
    notifier(watch->write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT, CURL_CSELECT_OUT);
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    reportDone();
}

void CurlMulti::reportDone()
{
    int left = 0;
    // An owner may take other transfers out while it is told; libcurl drops their messages from the queue then.
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        void* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        static_cast<Owner*>(owner)->transferDone(message->data.result);
    }
}

} // namespace TXL::QtLib::Web
