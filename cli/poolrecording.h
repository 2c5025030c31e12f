#pragma once

#include "pool/poolcheckrecorder.h"
#include "pool/poolharvestrecorder.h"
#include "pool/pooljob.h"
#include "pool/poolstore.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <mutex>

class CCheckRun;
class CHarvestRun;

// What the command line keeps of its runs in the pool: a harvest's pages with the proxies each gave, a check's
// results, and the proxies a checked list named. A write that fails costs the pool its rows, never the run: one line
// says what the pool missed, and the run ends as it would have.
class PoolRecording
{
public:
    // `store`: the pool opened at the start, or none where the writers make it (a run that only records).
    PoolRecording(std::unique_ptr<PoolStore> store, const PoolJob& job);
    ~PoolRecording();
    PoolRecording(const PoolRecording&) = delete;
    PoolRecording& operator=(const PoolRecording&) = delete;

    // The pool opened at the start: a run that reads, rechecks or serves.
    PoolStore& store()
    {
        Q_ASSERT(m_store);
        return *m_store;
    }
    qint64 now() const { return m_job.clock.now(); }
    // A harvest's pages are written as the extraction reads them (PoolHarvestRecorder); before run.start().
    void followHarvest(CHarvestRun& run);
    // The harvest's extraction over: the pages that gave nothing and its end written. Returns once it is written.
    void endHarvest(const CHarvestRun& run);

    // A check's results are written while it goes (PoolCheckRecorder). The proxies of `listed`, when there are any,
    // are seen by the check, finished or not.
    void followCheck(const CCheckRun& run, const QString& judge, const std::vector<ProxyEndpoint>& listed);
    // The check over: the rest written, unless its judge failed, which records nothing. Returns once it is written.
    void endCheck(bool judgeFailed);

private:
    void missed(const QString& what, const QString& failure);
    void startHarvestRecorder(quint32 runStamp);
    // Hands the page named `name` to the pool unless it was handed already; `given` proxies, one a line of `texts`.
    void tellPage(const QString& name, PoolHarvest::Page page, const QByteArray& texts, int given);

    std::unique_ptr<PoolStore> m_store;
    PoolJob m_job;
    qint64 m_harvestStarted = 0;
    // Of the harvest followed: each page as the pool keeps it, by page file name (written before the extraction
    // starts, read-only while it runs), and the pages the extraction told, under a lock as it tells them on its
    // thread.
    QHash<QString, PoolHarvest::Page> m_pages;
    std::mutex m_toldLock;
    QSet<QString> m_told;
    std::unique_ptr<PoolHarvestRecorder> m_harvestRecorder;

    std::unique_ptr<PoolCheckRecorder> m_checkRecorder; // of the check followed
};
