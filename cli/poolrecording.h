#pragma once

#include "pool/pooljob.h"
#include "pool/poolstore.h"

#include <memory>

class CCheckRun;
class CHarvestRun;

// What the command line keeps of its runs in the pool: a harvest's pages with the proxies each gave, a check's
// results, and the proxies a checked list named. A write that fails costs the pool its rows, never the run: one line
// says what the pool missed, and the run ends as it would have.
class PoolRecording
{
public:
    PoolRecording(std::unique_ptr<PoolStore> store, const PoolJob& job);

    PoolStore& store() { return *m_store; }
    qint64 now() const { return m_job.clock.now(); }
    void harvestStarted() { m_harvestStarted = now(); }
    void recordHarvest(const CHarvestRun& run);
    // The finished checks; with `sighted`, every proxy of the checked list is seen now, finished or not.
    void recordCheck(const CCheckRun& run, const QString& judge, bool sighted);

private:
    void missed(const QString& what);

    std::unique_ptr<PoolStore> m_store;
    PoolJob m_job;
    qint64 m_harvestStarted = 0;
};
