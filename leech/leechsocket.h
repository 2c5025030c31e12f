#pragma once

#include "leech/crawlresult.h"
#include "leech/leechurl.h"
#include "leech/pagewriter.h"
#include "qtlib/web/websocket.h"

#include <QList>
#include <QString>

// A page fetcher of a harvest: works through its queue of URLs, stores every reply, reduced to the
// characters an address can be made of, as one page file of the run folder, and records each page's size.
class CLeechSocket : public TXL::QtLib::Web::CWebSocket
{
    Q_OBJECT

public:
    explicit CLeechSocket(QObject* parent = nullptr);
    ~CLeechSocket() override;

    // Makes the run's page folder if it is not there yet; false when it could not be made.
    bool setDataFolder(uint runStamp);
    void clearQueue();
    void addUrl(const CLeechUrl& url);
    void fetchQueue();
    void abort();
    QList<CCrawlResult> results() const { return m_results; }
    // The URLs not done yet, the one under way first.
    QList<CLeechUrl> queue() const { return m_queue; }
    // Pairs of the pages' structure are stored beside their proxy texts (today's rules); off by default.
    void setReadsStructure(bool reads) { m_readsStructure = reads; }

signals:
    void urlListProcessed(int iSocketDescriptor);
    // One URL of the queue is done, fetched or not.
    void urlFinished();
    // A page could not be stored (a full or read-only page store); its proxies are missing from the harvest.
    void pageNotStored(const QString& strPath, const QString& strReason);
    // From the writer's worker thread: a page is on disk, or failed with the reason.
    void pageWritten(const QString& path, const QString& failure);

private slots:
    void processData();
    void processError();
    void pageStored(const QString& path, const QString& failure);

private:
    QString pageName(int page) const;
    QString pageFile(int page) const;
    void finishUrl(bool retrieved, const QString& storedAs = QString());
    void fetch(const CLeechUrl& url);
    // The next fetch overlaps the write of the page before it, but not of two: a run of large pages would
    // otherwise pile up in memory faster than it reaches the disk.
    bool writerFree() const { return m_writer.pending() < 2; }

    QList<CLeechUrl> m_queue;
    CLeechUrl m_current;
    CLeechUrl m_next;
    int m_pageCounter = 0;
    uint m_runStamp = 0;
    qint64 m_previousTotal = 0;
    QList<CCrawlResult> m_results;
    CPageWriter m_writer;
    // The queue's first record waits for a page write before its fetch starts.
    bool m_fetchWaiting = false;
    // The queue ran empty; the report waits until every page of the list is on disk.
    bool m_reportWaiting = false;
    bool m_readsStructure = false;
};
