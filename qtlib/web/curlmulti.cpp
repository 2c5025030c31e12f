#include "qtlib/web/curlmulti.h"

#include <QSocketNotifier>

#include <utility>
#include <vector>

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
CURLcode initialiseOnce()
{
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    return initialised;
}

// The shared caches only spare name lookups and TLS handshakes; the pages are the same without them, so a share
// libcurl cannot make whole is left out rather than failing the transfers.
CURLSH* sharedCaches()
{
    CURLSH* share = curl_share_init();
    if (!share)
        return nullptr;
    if (curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK &&
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK)
        return share;
    // No handle uses it yet, so libcurl frees it.
    curl_share_cleanup(share);
    return nullptr;
}

QString reasonOf(CURLMcode code)
{
    return QString::fromLatin1(curl_multi_strerror(code));
}

} // namespace

CurlMulti::CurlMulti(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    const CURLcode initialised = initialiseOnce();
    if (initialised != CURLE_OK) {
        m_failure = QString::fromLatin1(curl_easy_strerror(initialised));
        return;
    }
    m_multi = curl_multi_init();
    if (!m_multi) {
        // Memory is all it can run out of.
        m_failure = reasonOf(CURLM_OUT_OF_MEMORY);
        return;
    }
    check(curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::socketCallback));
    check(curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this));
    check(curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::timerCallback));
    check(curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this));
    // libcurl keeps four idle connections for each transfer under way; a list that cycles through more hosts than
    // that would close every connection before its host came round again.
    check(curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, idleConnections));
    m_share = sharedCaches();
}

CurlMulti::~CurlMulti()
{
    m_timer.stop();
    // The owners are made after the handle and freed before it, taking their transfers out, so neither cleanup can
    // be refused; libcurl would keep what it holds then, and a destructor could do no more.
    if (m_multi) {
        [[maybe_unused]] const CURLMcode cleaned = curl_multi_cleanup(m_multi);
        Q_ASSERT(cleaned == CURLM_OK);
    }
    if (m_share) {
        [[maybe_unused]] const CURLSHcode freed = curl_share_cleanup(m_share);
        Q_ASSERT(freed == CURLSHE_OK);
    }
    m_watches.clear();
}

// A handle that did not take an option is not the one its transfers are meant to run on (one that is not driven
// would never end them): the first failure is kept, and every transfer after it is refused with libcurl's reason.
void CurlMulti::check(CURLMcode code)
{
    if (code != CURLM_OK && m_failure.isNull())
        m_failure = reasonOf(code);
}

void CurlMulti::setHostConnections(long connections)
{
    check(curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections));
}

QString CurlMulti::add(CURL* easy, Owner& owner)
{
    if (!m_failure.isNull())
        return m_failure;
    CURLcode set = m_share ? curl_easy_setopt(easy, CURLOPT_SHARE, m_share) : CURLE_OK;
    if (set == CURLE_OK)
        set = curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(&owner));
    if (set != CURLE_OK)
        return QString::fromLatin1(curl_easy_strerror(set));
    const CURLMcode added = curl_multi_add_handle(m_multi, easy);
    if (added != CURLM_OK)
        return reasonOf(added);
    m_transfers[easy] = ++m_added;
    return QString();
}

QString CurlMulti::remove(CURL* easy)
{
    // Never added, or taken out when the handle failed.
    if (m_transfers.erase(easy) == 0)
        return QString();
    const CURLMcode removed = curl_multi_remove_handle(m_multi, easy);
    return removed == CURLM_OK ? QString() : reasonOf(removed);
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
    const CURLMcode acted = curl_multi_socket_action(m_multi, socket, events, &running);
    reportDone();
    if (acted == CURLM_OK)
        return;
    // Its notifier would fire again at once, and the action fail again.
    if (socket != CURL_SOCKET_TIMEOUT)
        m_watches.erase(socket);
    failAll(reasonOf(acted));
}

void CurlMulti::reportDone()
{
    int left = 0;
    // An owner may take other transfers out while it is told; libcurl drops their messages from the queue then.
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        const CURLcode result = message->data.result;
        void* owner = nullptr;
        // add() set it on every handle in here; only a handle that is none would be refused.
        if (curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner) == CURLE_OK && owner)
            static_cast<Owner*>(owner)->transferDone(result);
    }
}

// After a failed action the state of the handle's transfers is unknown, and libcurl may tell nothing more of them.
// Which transfers the socket served it does not say: every transfer in the handle is ended with libcurl's reason
// rather than left to hang. Transfers added later start afresh.
void CurlMulti::failAll(const QString& reason)
{
    const std::vector<std::pair<CURL*, quint64>> failing(m_transfers.begin(), m_transfers.end());
    for (const auto& [easy, added] : failing) {
        // An owner told before may have taken this one out, or even freed it and added another at its address.
        const auto at = m_transfers.find(easy);
        if (at == m_transfers.end() || at->second != added)
            continue;
        void* owner = nullptr;
        const bool known = curl_easy_getinfo(easy, CURLINFO_PRIVATE, &owner) == CURLE_OK && owner;
        // Out of the handle whether or not libcurl agrees: the owner frees the handle, which takes it out then.
        remove(easy);
        if (known)
            static_cast<Owner*>(owner)->transferFailed(reason);
    }
}

} // namespace TXL::QtLib::Web
