#pragma once

#include "pool/poolfilter.h"
#include "pool/poolstore.h"
#include "pool/runclock.h"

#include <QString>

// How a command-line run uses the pool, built once from its options: it records the run, or the run is about the
// pool itself (a recheck, an export, the sources, a serve of its alive proxies).
struct PoolJob
{
    enum class Task { Record, Recheck, Export, Sources, Serve };

    Task task = Task::Record;
    QString path;                // the pool file; empty: the run neither reads nor writes one (--no-pool)
    bool recordsHarvest = false; // the harvest's pages and proxies are recorded (not --classic)
    bool all = false;            // --recheck --all: every proxy not retired, due or not
    PoolFilter filter;           // of --export and --serve
    QString reportPath;          // --sources --report FILE; empty: standard output
    int pruneDays = -1;          // --sources --prune DAYS; negative: no source list
    RunClock clock;

    // How the run opens the pool: a harvest or a check makes one; a recheck and a serve write to the one there is;
    // --export and --sources only read it.
    PoolStore::Access access() const
    {
        return task == Task::Record                           ? PoolStore::Access::Write
               : task == Task::Recheck || task == Task::Serve ? PoolStore::Access::Update
                                                              : PoolStore::Access::Read;
    }
    // ~/.tarnix/sievra/pool.sqlite
    static QString defaultPath();
};
