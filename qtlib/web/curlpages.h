#pragma once

#include "qtlib/web/curlmulti.h"
#include "qtlib/web/fetchoutcome.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <atomic>
#include <deque>
#include <memory>
#include <unordered_map>

class ByteBudget;

namespace TXL::QtLib::Web {

// Whole pages of today's web over a CurlMulti, each to its end: redirects followed one hop at a time from the
// Location libcurl resolves (so a loop is caught), the decoded page read up to the size limit, every encoding
// libcurl decodes asked for, and libcurl's result told as a CFetchOutcome. Several of these may share one
// multi handle, and so its connections.
class CurlPages : public QObject
{
    Q_OBJECT

public:
    explicit CurlPages(CurlMulti& multi, QObject* parent = nullptr);
    ~CurlPages() override;

    // Certificates that fail verification are accepted (--insecure).
    void setInsecure(bool insecure) { m_insecure = insecure; }
    // For each hop, from the start of its request to its last byte; 0 and less fail a page at once.
    void setTimeout(int msecs) { m_timeout = qMax(msecs, 1); }
    // The pages read so far count against the budget, and a fetch whose next bytes do not fit waits until some come
    // free; the oldest fetch goes on while the others hold no more than the budget, so some page always ends. Set
    // before the first fetch; the budget outlives these pages.
    void setBudget(ByteBudget* budget);
    // Fetches not ended yet, refused ones included until they are told.
    int running() const { return int(m_running.size() + m_refused.size()); }
    // Starts fetching the URL; `ticket` comes back with its page.
    void fetch(const QUrl& url, int ticket);
    // Ends every fetch under way; none of them reports.
    void cancelAll();

signals:
    // The page (empty where none came), as far as it came, and how its fetch ended.
    void pageFetched(int ticket, const CFetchOutcome& outcome, const QByteArray& page);
    // From whichever thread gave room back in the budget, while a fetch waits for it.
    void roomGiven();

private:
    struct Transfer;

    void request(Transfer& transfer, const QUrl& url);
    CURLcode setUp(Transfer& transfer, const QUrl& url);
    void refuse(Transfer& transfer, const QString& reason);
    void endRefused();
    void transferDone(Transfer& done, CURLcode result);
    void transferFailed(Transfer& failed, const QString& reason);
    void timedOut(quint64 serial);
    void finish(Transfer& ended, CURLcode result);
    bool followRedirect(Transfer& transfer);
    CFetchOutcome outcomeOf(const Transfer& transfer, CURLcode result) const;
    bool mayGrow(Transfer& transfer, qint64 bytes);
    void resumeWaiting();

    ByteBudget* m_budget = nullptr;
    quint64 m_started = 0; // fetches started so far: the oldest has the lowest number
    // Set on this thread when a fetch waits for room, read by whoever gives room back.
    std::atomic<bool> m_waiting{false};
    std::atomic<bool> m_resumeQueued{false};

    CurlMulti& m_multi;
    bool m_insecure = false;
    int m_timeout = 1;
    // By address: a transfer's end comes to the transfer itself (CurlMulti::Owner), which is then taken out here.
    std::unordered_map<const Transfer*, std::unique_ptr<Transfer>> m_running;
    // Refused by libcurl before they started, oldest first: each ends on a later turn of the event loop.
    std::deque<std::unique_ptr<Transfer>> m_refused;
};

} // namespace TXL::QtLib::Web
