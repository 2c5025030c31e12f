#pragma once

#include "pool/poolharvest.h"
#include "pool/poolstore.h"
#include "pool/poolthread.h"
#include "pool/runclock.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <vector>

// A harvest written to the pool while it goes, on the pool's own thread: each page as soon as it has been read
// (while the harvest fetches, or by the extraction), pages gathered, and large ones cut, into writes of batchProxies.
// Pages are held until flushProxies of their proxies wait, flushEveryMs has passed, or the owner flushes them as the
// extraction starts: the pool's writes then fill the core the extraction leaves idle rather than take time from the
// page readers while both cores fetch and read, and a slow harvest's pages are in the pool within seconds. No proxy
// of the harvest is held to its end: a page waits for the writer while more than maxWaiting proxies are waiting for
// it.
class PoolHarvestRecorder : public QObject
{
    Q_OBJECT

public:
    // The harvest's row is written at once, started at `started`.
    PoolHarvestRecorder(const QString& path, const RunClock& clock, quint32 runStamp, qint64 started,
                        QObject* parent = nullptr);
    ~PoolHarvestRecorder() override;

    // From any thread: a page and the texts of the proxies it gave, page.proxies of them one a line (read when the
    // pool takes the page in).
    void addPage(PoolHarvest::Page page, const QByteArray& texts);
    // From any thread: the pages held so far go to the writer now.
    void flush();
    // The pages that gave nothing, then the harvest's end, on the asking thread; returns once written or missed.
    void finish(std::vector<PoolHarvest::Page> rest);

    static constexpr size_t batchProxies = PoolStore::harvestBatchSize;
    // About 20 MB of texts at most; a harvest of 100 pages of 1 MB (750,000 proxies) is held whole.
    static constexpr size_t maxWaiting = size_t(1) << 20;
    static constexpr size_t flushProxies = maxWaiting / 4 * 3;
    static constexpr int flushEveryMs = 1000;

signals:
    // Told once: `what` the pool missed, and why.
    void missed(const QString& what, const QString& failure);
    void openFailed(const QString& line);

private:
    struct WaitingPage
    {
        PoolHarvest::Page page;
        QByteArray texts;
    };
    // With m_lock held: the pages gathered so far asked of the pool's thread.
    void flushLocked();
    void write(PoolStore* store, std::vector<WaitingPage>& pages, size_t proxies);
    void tellMissed(const QString& failure);

    RunClock m_clock;
    qint64 m_started;
    bool m_missed = false; // on the asking thread

    std::mutex m_lock; // guards the batch and the count of what waits
    std::condition_variable m_written;
    std::vector<WaitingPage> m_batch;
    size_t m_batchProxies = 0;
    size_t m_waiting = 0; // proxies given and not written yet

    QTimer m_timer;          // on the owner's thread
    qint64 m_harvestId = -1; // on the pool's thread: -1 when its row could not be written
    PoolThread m_thread;
};
