#pragma once

#include "harvest/harvestjob.h"
#include "harvest/pagefetching.h"
#include "leech/pagewriter.h"
#include "leech/weblinkcrawl.h"
#include "qtlib/web/curlmulti.h"
#include "qtlib/web/curlpages.h"
#include "util/bytebudget.h"

#include <QVector>

// The command line's fetching of today's web through libcurl: one multi handle for the whole list, `threads`
// pages in flight at once, connections kept and shared per host (HTTP/2 where the server speaks it), replies
// decompressed, redirects followed one hop at a time so a loop is caught; its --depth crawl on the same handle. Each
// page is stored as the page fetcher of its block of the list would have stored it, so the extraction reads the pages
// in the same order.
class WebFetching : public PageFetching
{
    Q_OBJECT

public:
    // Reads the job's certificate rule, memory budget and whether pages' structure is read.
    explicit WebFetching(const HarvestJob& job, QObject* parent = nullptr);
    ~WebFetching() override;

    int prepare(quint32 runStamp) override;
    void fetch(const QStringList& urls, int threads, int timeoutMs) override;
    void abort() override;
    QList<CCrawlResult> results() const override;
    QList<CCrawlResult> resultsSoFar() const override;
    void crawl(const QStringList& urls, int depth) override;
    void stopCrawl() override;
    bool crawling() const override;
    MemoryPages* memoryPages() override { return &m_memory; }
    void setPageRead(const PageRead& read) override { m_pageRead = read; }

signals:
    // From the writer's worker: the page of the list's URL `index` is stored, or failed with the reason.
    void pageWritten(int index, const QString& failure);

private:
    void startTransfers();
    void finish(int index, const CFetchOutcome& outcome, QByteArray page);
    void pageStored(int index, const QString& failure);
    void reportWhenDone();
    void endTransfers();
    // The result of the list's URL `index`, before its outcome is known.
    CCrawlResult resultOf(int index, int bytes) const;
    QString pageFile(int index) const;

    // What the pages being fetched, read and kept may hold at once; it outlives every one of them.
    ByteBudget m_budget;
    // One multi handle for the harvest's pages and its link crawl alike.
    TXL::QtLib::Web::CurlMulti m_multi;
    TXL::QtLib::Web::CurlPages m_pages;
    WebLinkCrawl m_crawl;
    MemoryPages m_memory;
    CPageWriter m_writer;
    PageRead m_pageRead;
    PageReading m_reading;
    quint32 m_runStamp = 0;
    QStringList m_urls;
    // The fetcher whose block holds each URL, and the URL's place in that block: its page file's name.
    QVector<int> m_block;
    QVector<int> m_page;
    QVector<CCrawlResult> m_results;
    QVector<bool> m_done;
    int m_threads = 1;
    int m_next = 0;
    int m_finished = 0;
    bool m_reported = false; // the list is done and told, or Stop has told it
};
