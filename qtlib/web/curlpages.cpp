#include "qtlib/web/curlpages.h"

#include "qtlib/web/websocket.h"
#include "util/httpport.h"
#include "util/weburl.h"

#include <QElapsedTimer>
#include <QSet>

#include <cerrno>
#include <utility>

namespace TXL::QtLib::Web {

namespace {

const char* const userAgent = "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.1.2) Gecko/20090729 "
                              "Firefox/3.5.2 (.NET CLR 3.5.30729)";

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
    char error[CURL_ERROR_SIZE] = {};

    ~Transfer()
    {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
    }

    void transferDone(CURLcode result) override { pages.transferDone(*this, result); }

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
        if (transfer->page.isEmpty()) {
            // Room for the whole page at once where its length is known; a compressed length is only a start.
            curl_off_t length = -1;
            curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            if (length > 0)
                transfer->page.reserve(qsizetype(qMin<qint64>(length, CWebSocket::replyLimit)));
        }
        transfer->page.append(data, qsizetype(qMin(bytes, room)));
        if (bytes <= room)
            return given;
        transfer->truncated = true;
        return 0;
    }
};

CurlPages::CurlPages(CurlMulti& multi, QObject* parent) : QObject(parent), m_multi(multi) {}

CurlPages::~CurlPages()
{
    cancelAll();
}

void CurlPages::fetch(const QUrl& url, int ticket)
{
    auto transfer = std::make_unique<Transfer>(*this);
    transfer->ticket = ticket;
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
    for (const auto& [key, transfer] : m_running)
        m_multi.remove(transfer->easy);
    m_running.clear();
}

void CurlPages::request(Transfer& transfer, const QUrl& url)
{
    CURL* easy = transfer.easy;
    transfer.url = url;
    transfer.visited.insert(url.toEncoded());
    transfer.page.clear();
    transfer.truncated = false;
    transfer.headEnded = false;
    transfer.status = 0;
    transfer.error[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::headLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(m_timeout));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    // Every encoding this libcurl decodes; the size limit counts the decoded page.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    // Pages are fetched directly, whatever proxy the environment names.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    // Many pages of one host: wait for its first connection to tell whether they can share it.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    if (m_insecure) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    // Tests that serve named sites from loopback; the request keeps the real host name and port.
    const QString connectHost = HttpPort::connectHost(url.host());
    if (connectHost != url.host() || HttpPort::port() != 80) {
        const QByteArray target = "::" + connectHost.toLatin1() + ':' + QByteArray::number(HttpPort::port());
        curl_slist* connectTo = curl_slist_append(nullptr, target.constData());
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
        curl_slist_free_all(std::exchange(transfer.connectTo, connectTo));
    }
    m_multi.add(easy, transfer);
}

void CurlPages::transferDone(Transfer& done, CURLcode result)
{
    m_multi.remove(done.easy);
    curl_easy_getinfo(done.easy, CURLINFO_RESPONSE_CODE, &done.status);
    if (result == CURLE_OK && done.headEnded && followRedirect(done))
        return;
    const auto at = m_running.find(&done);
    const std::unique_ptr<Transfer> transfer = std::move(at->second);
    m_running.erase(at);
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
    curl_easy_getinfo(transfer.easy, CURLINFO_REDIRECT_URL, &location);
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

CFetchOutcome CurlPages::outcomeOf(const Transfer& transfer, CURLcode result) const
{
    CFetchOutcome outcome;
    outcome.setStatus(int(transfer.status));
    outcome.setFinalUrl(QString::fromLatin1(transfer.url.toEncoded()));
    outcome.setMilliseconds(transfer.clock.elapsed());
    const QString detail = QString::fromLatin1(transfer.error[0] ? transfer.error : curl_easy_strerror(result));
    long osError = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_OS_ERRNO, &osError);
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
