#include "qtlib/web/curlpages.h"

#include "qtlib/web/websocket.h"
#include "util/bytebudget.h"
#include "util/httpport.h"
#include "util/weburl.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace TXL::QtLib::Web {

namespace {

bool isRedirectStatus(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The outcomes that bring a page, whole or not; the others leave nothing of one.
bool bringsPage(CFetchOutcome::Kind kind)
{
    return kind == CFetchOutcome::Ok || kind == CFetchOutcome::HttpStatus || kind == CFetchOutcome::Truncated ||
           kind == CFetchOutcome::Cut;
}

} // namespace

// One page on its way: the hop under way, the hops before it and the page read so far. It owns its easy handle
// in the multi handle, and takes its end to the pages it belongs to.
struct CurlPages::Transfer final : CurlMulti::Owner
{
    explicit Transfer(CurlPages& owner) : pages(owner) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CurlPages& pages;
    int ticket = 0;
    quint64 serial = 0;
    qint64 charged = 0;   // of the pages' budget, for the page read so far
    bool waiting = false; // paused until the budget has room
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* connectTo = nullptr;
    QUrl url;
    QSet<QByteArray> visited; // as requested: QUrl can hold one URL two ways that compare unequal
    int redirects = 0;
    CFetchOutcome::Kind redirectFailure = CFetchOutcome::Pending; // a loop or a hop too many, once met
    long status = 0;
    QByteArray page;
    bool headEnded = false; // the empty line that ends the reply's head has come
    bool truncated = false;
    QElapsedTimer clock;
    // The hop's time-out: a stop-watch of our own rather than libcurl's, since time spent waiting for room in the
    // budget is ours and must not fail the page.
    QTimer deadline;
    int timeLeft = 0; // while waiting
    char error[CURL_ERROR_SIZE] = {};
    QString refusal; // libcurl's reason the hop could not start or go on, null while it can

    ~Transfer()
    {
        release();
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
    }

    void release()
    {
        if (pages.m_budget)
            pages.m_budget->give(std::exchange(charged, 0));
    }

    void transferDone(CURLcode result) override { pages.transferDone(*this, result); }
    void transferFailed(const QString& reason) override { pages.transferFailed(*this, reason); }

    static size_t headLine(char* data, size_t size, size_t count, void* self)
    {
        const QByteArrayView line(data, qsizetype(size * count));
        if (line == "\r\n" || line == "\n")
            static_cast<Transfer*>(self)->headEnded = true;
        return size * count;
    }

    // The decoded page, up to the size limit: past it the transfer is ended, as if the server had closed.
    static size_t receive(char* data, size_t size, size_t count, void* self)
    {
        auto* transfer = static_cast<Transfer*>(self);
        const size_t given = size * count; // libcurl hands at most CURL_MAX_WRITE_SIZE at a time
        const auto bytes = static_cast<qint64>(given);
        const qint64 room = CWebSocket::replyLimit - transfer->page.size();
        const qint64 kept = qMin(bytes, room);
        if (!transfer->pages.mayGrow(*transfer, kept))
            return CURL_WRITEFUNC_PAUSE; // libcurl holds these bytes and gives them again on resuming
        if (transfer->page.isEmpty()) {
            // Room for the whole page at once where its length is known; a compressed length is only a start.
            curl_off_t length = -1;
            if (curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
                length > 0)
                transfer->page.reserve(qsizetype(qMin<qint64>(length, CWebSocket::replyLimit)));
        }
        transfer->page.append(data, qsizetype(kept));
        if (bytes <= room)
            return given;
        transfer->truncated = true;
        return 0;
    }
};

CurlPages::CurlPages(CurlMulti& multi, QObject* parent) : QObject(parent), m_multi(multi)
{
    connect(this, &CurlPages::roomGiven, this, &CurlPages::resumeWaiting, Qt::QueuedConnection);
}

CurlPages::~CurlPages()
{
    cancelAll();
}

void CurlPages::fetch(const QUrl& url, int ticket)
{
    auto transfer = std::make_unique<Transfer>(*this);
    transfer->ticket = ticket;
    transfer->serial = ++m_started;
    transfer->deadline.setSingleShot(true);
    // A coarse timer may fire 5 % early: a time-out is never shorter than the one asked for.
    transfer->deadline.setTimerType(Qt::PreciseTimer);
    // Ended on a later turn of the event loop, not inside its own timer's signal; by then it may have ended anyway.
    connect(&transfer->deadline, &QTimer::timeout, this, [this, serial = transfer->serial] {
        QMetaObject::invokeMethod(
            this, [this, serial] { timedOut(serial); }, Qt::QueuedConnection);
    });
    transfer->clock.start();
    transfer->easy = curl_easy_init();
    // The page fetchers' own line, empty as theirs is; curl's Accept line stays.
    transfer->headers = curl_slist_append(nullptr, "Referrer;");
    Transfer& started = *transfer;
    m_running.emplace(&started, std::move(transfer));
    request(started, url);
}

void CurlPages::cancelAll()
{
    // A handle libcurl would not let go of leaves the multi handle when it is freed, just after.
    for (const auto& [key, transfer] : m_running)
        m_multi.remove(transfer->easy);
    m_running.clear();
    m_refused.clear();
}

void CurlPages::request(Transfer& transfer, const QUrl& url)
{
    transfer.url = url;
    transfer.visited.insert(url.toEncoded());
    transfer.page.clear();
    transfer.release();
    transfer.truncated = false;
    transfer.headEnded = false;
    transfer.status = 0;
    transfer.error[0] = '\0';
    transfer.deadline.start(m_timeout);
    const CURLcode options = setUp(transfer, url);
    const QString refusal =
        options == CURLE_OK ? m_multi.add(transfer.easy, transfer) : QString::fromLatin1(curl_easy_strerror(options));
    if (!refusal.isNull())
        refuse(transfer, refusal);
}

// libcurl's first refusal of the hop's options, or CURLE_OK when it took them all.
CURLcode CurlPages::setUp(Transfer& transfer, const QUrl& url)
{
    CURL* easy = transfer.easy;
    // What curl_easy_init() and curl_slist_append() fail on.
    if (!easy || !transfer.headers)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    const auto set = [easy, &result](CURLoption option, auto value) {
        if (result == CURLE_OK)
            result = curl_easy_setopt(easy, option, value);
    };
    // libcurl takes no URL longer than its input limit (8 MB), which a list line can be.
    set(CURLOPT_URL, url.toEncoded().constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_WRITEFUNCTION, &Transfer::receive);
    set(CURLOPT_WRITEDATA, &transfer);
    set(CURLOPT_HEADERFUNCTION, &Transfer::headLine);
    set(CURLOPT_HEADERDATA, &transfer);
    set(CURLOPT_ERRORBUFFER, transfer.error);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, CWebSocket::userAgent);
    set(CURLOPT_HTTPHEADER, transfer.headers);
    // Every encoding this libcurl decodes; the size limit counts the decoded page.
    set(CURLOPT_ACCEPT_ENCODING, "");
    // Pages are fetched directly, whatever proxy the environment names.
    set(CURLOPT_PROXY, "");
    // Many pages of one host: wait for its first connection to tell whether they can share it.
    set(CURLOPT_PIPEWAIT, 1L);
    if (m_insecure) {
        set(CURLOPT_SSL_VERIFYPEER, 0L);
        set(CURLOPT_SSL_VERIFYHOST, 0L);
    }
    // Tests that serve named sites from loopback; the request keeps the real host name and port.
    const QString connectHost = HttpPort::connectHost(url.host());
    if (connectHost != url.host() || HttpPort::port() != 80) {
        const QByteArray target = "::" + connectHost.toLatin1() + ':' + QByteArray::number(HttpPort::port());
        curl_slist* connectTo = curl_slist_append(nullptr, target.constData());
        if (!connectTo)
            return result != CURLE_OK ? result : CURLE_OUT_OF_MEMORY;
        set(CURLOPT_CONNECT_TO, connectTo);
        curl_slist_free_all(std::exchange(transfer.connectTo, connectTo));
    }
    return result;
}

// A hop libcurl would not set up or add never starts, so nothing would end it: it ends on the next turn of the event
// loop, as every other end comes, never inside the fetch() that started it.
void CurlPages::refuse(Transfer& transfer, const QString& reason)
{
    transfer.refusal = reason;
    transfer.deadline.stop();
    auto node = m_running.extract(&transfer);
    m_refused.push_back(std::move(node.mapped()));
    QMetaObject::invokeMethod(this, &CurlPages::endRefused, Qt::QueuedConnection);
}

// One call for each refusal; those that cancelAll() dropped leave calls that find nothing.
void CurlPages::endRefused()
{
    if (m_refused.empty())
        return;
    const std::unique_ptr<Transfer> transfer = std::move(m_refused.front());
    m_refused.pop_front();
    emit pageFetched(transfer->ticket, outcomeOf(*transfer, CURLE_OK), QByteArray());
}

void CurlPages::transferDone(Transfer& done, CURLcode result)
{
    // A handle libcurl will not let go of cannot take another hop: the page ends with libcurl's reason.
    done.refusal = m_multi.remove(done.easy);
    if (curl_easy_getinfo(done.easy, CURLINFO_RESPONSE_CODE, &done.status) != CURLE_OK)
        done.status = 0;
    if (done.refusal.isNull() && result == CURLE_OK && done.headEnded && followRedirect(done))
        return;
    finish(done, result);
}

void CurlPages::timedOut(quint64 serial)
{
    const auto late = std::find_if(m_running.cbegin(), m_running.cend(),
                                   [serial](const auto& running) { return running.second->serial == serial; });
    if (late == m_running.cend())
        return;
    Transfer& transfer = *late->second;
    transfer.refusal = m_multi.remove(transfer.easy);
    finish(transfer, CURLE_OPERATION_TIMEDOUT);
}

void CurlPages::transferFailed(Transfer& failed, const QString& reason)
{
    failed.refusal = reason;
    finish(failed, CURLE_OK);
}

void CurlPages::finish(Transfer& ended, CURLcode result)
{
    const std::unique_ptr<Transfer> transfer = std::move(m_running.extract(&ended).mapped());
    const CFetchOutcome outcome = outcomeOf(*transfer, result);
    emit pageFetched(transfer->ticket, outcome, bringsPage(outcome.kind()) ? transfer->page : QByteArray());
}

// True when the reply sends us on to another page, which is then being fetched. A loop or a hop too many is
// noted for the outcome.
bool CurlPages::followRedirect(Transfer& transfer)
{
    if (!isRedirectStatus(transfer.status))
        return false;
    char* location = nullptr;
    if (curl_easy_getinfo(transfer.easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK)
        location = nullptr;
    const QUrl next = location ? QUrl::fromEncoded(QByteArray(location)) : QUrl();
    // A redirect to nowhere we can go is the page itself, as curl -L takes it.
    if (!WebUrl::isFetchable(next))
        return false;
    if (transfer.visited.contains(next.toEncoded())) {
        transfer.redirectFailure = CFetchOutcome::RedirectLoop;
        return false;
    }
    if (transfer.redirects >= CWebSocket::redirectLimit) {
        transfer.redirectFailure = CFetchOutcome::TooManyRedirects;
        return false;
    }
    ++transfer.redirects;
    request(transfer, next);
    return true;
}

void CurlPages::setBudget(ByteBudget* budget)
{
    m_budget = budget;
    if (!budget)
        return;
    // Room is given back on any thread; the waiting fetches go on from this one, where their multi handle lives. A
    // signal rather than a queued call made here: Qt makes the call's event itself, where the thread sanitizer sees
    // no allocation of ours handed across its locks.
    budget->setReleased([this] {
        if (m_waiting.load() && !m_resumeQueued.exchange(true))
            emit roomGiven();
    });
}

// Whether the transfer may keep `bytes` more of its page now; they are charged when it may.
bool CurlPages::mayGrow(Transfer& transfer, qint64 bytes)
{
    if (!m_budget || bytes <= 0)
        return true;
    const auto fits = [&] {
        if (m_budget->tryTake(bytes))
            return true;
        if (m_budget->held() - transfer.charged > m_budget->limit())
            return false;
        // Past the budget only the oldest goes on, and only while the others fit: that bounds what is held to the
        // budget and one page, and lets a page end however the others stand.
        const bool oldest = std::none_of(m_running.cbegin(), m_running.cend(),
                                         [&](const auto& other) { return other.second->serial < transfer.serial; });
        if (oldest)
            m_budget->take(bytes);
        return oldest;
    };
    bool may = fits();
    if (!may) {
        // Room given back between the try and the flag told nobody, and the fetch would wait for ever: once the
        // flag is up, the giver tells, or the second try sees the room.
        m_waiting.store(true);
        may = fits();
    }
    if (!may) {
        transfer.waiting = true;
        transfer.timeLeft = qMax(transfer.deadline.remainingTime(), 0);
        transfer.deadline.stop();
        return false;
    }
    transfer.charged += bytes;
    return true;
}

// Oldest first, each waiting fetch tries again; one that still does not fit waits anew.
void CurlPages::resumeWaiting()
{
    m_resumeQueued.store(false);
    m_waiting.store(false);
    quint64 after = 0;
    for (;;) {
        Transfer* next = nullptr;
        for (const auto& [key, transfer] : m_running) {
            if (transfer->waiting && transfer->serial > after && (!next || transfer->serial < next->serial))
                next = transfer.get();
        }
        if (!next)
            return;
        after = next->serial;
        next->waiting = false;
        next->deadline.start(next->timeLeft);
        // libcurl hands the held bytes to receive() at once, which may pause the transfer again.
        const CURLcode resumed = curl_easy_pause(next->easy, CURLPAUSE_CONT);
        if (resumed != CURLE_OK) {
            const QString stuck = m_multi.remove(next->easy);
            transferFailed(*next, stuck.isNull() ? QString::fromLatin1(curl_easy_strerror(resumed)) : stuck);
        }
    }
}

CFetchOutcome CurlPages::outcomeOf(const Transfer& transfer, CURLcode result) const
{
    CFetchOutcome outcome;
    outcome.setStatus(int(transfer.status));
    outcome.setFinalUrl(QString::fromLatin1(transfer.url.toEncoded()));
    outcome.setMilliseconds(transfer.clock.elapsed());
    char* type = nullptr;
    if (transfer.easy && curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        outcome.setContentType(QByteArray(type));
    if (!transfer.refusal.isNull()) {
        outcome.setKind(CFetchOutcome::NetworkError, transfer.refusal);
        return outcome;
    }
    const QString detail = QString::fromLatin1(transfer.error[0] ? transfer.error : curl_easy_strerror(result));
    long osError = 0;
    if (curl_easy_getinfo(transfer.easy, CURLINFO_OS_ERRNO, &osError) != CURLE_OK)
        osError = 0;
    // An HTTP/1.0 reply that stops inside its head ends without an error from libcurl; it is cut all the same.
    const bool cutInHead = result == CURLE_OK && !transfer.headEnded;
    switch (cutInHead ? CURLE_PARTIAL_FILE : result) {
    case CURLE_OK:
        if (transfer.redirectFailure != CFetchOutcome::Pending)
            outcome.setKind(transfer.redirectFailure);
        else
            outcome.setKind(transfer.status >= 200 && transfer.status < 300 ? CFetchOutcome::Ok
                                                                            : CFetchOutcome::HttpStatus);
        break;
    case CURLE_WRITE_ERROR:
        outcome.setKind(transfer.truncated ? CFetchOutcome::Truncated : CFetchOutcome::NetworkError, detail);
        break;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        outcome.setKind(CFetchOutcome::Cut);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        outcome.setKind(CFetchOutcome::TimedOut);
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        outcome.setKind(CFetchOutcome::NotResolved);
        break;
    case CURLE_COULDNT_CONNECT:
        outcome.setKind(osError == ECONNREFUSED ? CFetchOutcome::Refused : CFetchOutcome::NetworkError, detail);
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        outcome.setKind(CFetchOutcome::Tls, detail);
        break;
    default:
        outcome.setKind(CFetchOutcome::NetworkError, detail);
        break;
    }
    return outcome;
}

} // namespace TXL::QtLib::Web
