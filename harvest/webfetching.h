#pragma once

#include "harvest/pagefetching.h"
#include "leech/pagewriter.h"
#include "qtlib/web/curlmulti.h"

#include <QVector>

#include <memory>
#include <vector>

// The command line's fetching of today's web through libcurl: one multi handle for the whole list, `threads`
// pages in flight at once, connections kept and shared per host (HTTP/2 where the server speaks it), replies
// decompressed, redirects followed one hop at a time so a loop is caught. Each page is stored as the page
// fetcher of its block of the list would have stored it, so the extraction reads the pages in the same order.
class WebFetching : public PageFetching
{
    Q_OBJECT

public:
    explicit WebFetching(bool insecure, QObject* parent = nullptr);
    ~WebFetching() override;

    int prepare(quint32 runStamp) override;
    void fetch(const QStringList& urls, int threads, int timeoutMs) override;
    void abort() override;
    QList<CCrawlResult> results() const override;
    QList<CCrawlResult> resultsSoFar() const override;

signals:
    // From the writer's worker: the page of the list's URL `index` is stored, or failed with the reason.
    void pageWritten(int index, const QString& failure);

private:
    struct Transfer;

    void startTransfers();
    void request(Transfer& transfer, const QUrl& url);
    void transferDone(CURL* easy, int result);
    bool followRedirect(Transfer& transfer);
    CFetchOutcome outcomeOf(const Transfer& transfer, int result) const;
    void finish(std::unique_ptr<Transfer> transfer, const CFetchOutcome& outcome);
    void pageStored(int index, const QString& failure);
    void reportWhenDone();
    void endTransfers();
    QString pageFile(int index) const;

    TXL::QtLib::Web::CurlMulti m_multi;
    CPageWriter m_writer;
    bool m_insecure = false;
    quint32 m_runStamp = 0;
    QStringList m_urls;
    // The fetcher whose block holds each URL, and the URL's place in that block: its page file's name.
    QVector<int> m_block;
    QVector<int> m_page;
    QVector<CCrawlResult> m_results;
    QVector<bool> m_done;
    std::vector<std::unique_ptr<Transfer>> m_running;
    int m_threads = 1;
    int m_timeout = 0;
    int m_next = 0;
    int m_finished = 0;
    bool m_reported = false; // the list is done and told, or Stop has told it
};
