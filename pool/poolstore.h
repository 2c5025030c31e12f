#pragma once

#include "check/proxyendpoint.h"
#include "check/proxyrecord.h"
#include "pool/poolfilter.h"
#include "pool/poolharvest.h"
#include "pool/poolsource.h"

#include <QString>

#include <memory>
#include <vector>

// The pool: every proxy, source, harvest and check that the command line's runs recorded, in one store that many
// runs read and write at once. Each write is a batch of its own, so a run that fails half-way keeps what went
// before; a store that is busy is waited for. Times are seconds since the epoch. This interface is all the rest of
// the program sees of it, so that another database can stand behind it.
class PoolStore
{
public:
    // Write makes a pool that is not there; Update writes to one that is; Read writes nothing.
    enum class Access { Read, Update, Write };

    virtual ~PoolStore() = default;

    // A harvest's pages are written in transactions of about this many sightings: a tenth of a second or so, so that
    // runs that share the pool still take turns.
    static constexpr int harvestBatchSize = 20000;

    // The pool at `path`, SQLite's. Write creates a pool that is not there (its folder must be); Read and Update
    // need one.
    // Nothing, with the one line that says why, when the file cannot be opened as a pool for that access: missing,
    // not a database, damaged, of a later version than this program knows, read-only for Write, or locked for
    // longer than lockWaitMs.
    static std::unique_ptr<PoolStore> open(const QString& path, Access access, QString* failure);
    // True when nothing is at `path` yet and a pool can be made there: a run that only records leaves the making to
    // its writers, on their own threads, rather than wait for it before its first page.
    static bool madeByWriters(const QString& path);
    static constexpr int lockWaitMs = 10000;

    // A harvest with its pages and the proxies each gave; those proxies are seen at its start. The three steps of
    // recordHarvest(), for a harvest written while it goes: its row (`pages` not read), its pages in any number of
    // calls, its end.
    bool recordHarvest(const PoolHarvest& harvest);
    virtual bool beginHarvest(const PoolHarvest& harvest, qint64* harvestId) = 0;
    virtual bool recordPages(qint64 harvestId, qint64 started, const std::vector<PoolHarvest::Page>& pages) = 0;
    virtual bool endHarvest(qint64 harvestId, qint64 ended) = 0;
    // Proxies a list named for a check, seen at `at`.
    virtual bool recordSightings(const std::vector<ProxyEndpoint>& proxies, qint64 at) = 0;
    // Finished checks (a stopped one is no check) by `judge` at `at`.
    virtual bool recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, qint64 at) = 0;

    // An upstream that failed the local proxy at `at`, for `reason`, kept as a check by the judge "serve": the proxy
    // is due for a recheck at once, while its history and its retirement stay the judge's. A proxy the pool does not
    // hold is passed over.
    virtual bool recordServeFailure(const ProxyEndpoint& proxy, const QString& reason, qint64 at) = 0;

    // What a recheck at `now` checks: the proxies due, or with `all` every one not retired; in the order they fell
    // due.
    virtual bool due(qint64 now, bool all, std::vector<ProxyEndpoint>* proxies) = 0;
    // The proxies an export at `now` lists, with their history and the sources that gave them, best first.
    virtual bool proxies(const PoolFilter& filter, qint64 now, std::vector<ProxyRecord>* records) = 0;
    // Every source with what it has been worth, in no order.
    virtual bool sources(qint64 now, std::vector<PoolSource>* sources) = 0;
    // The sources of which some proxy worked at a check since `since`, in the order first recorded.
    virtual bool worthySources(qint64 since, QStringList* urls) = 0;

    // A harvest's pages wait in the store until a run that reads or writes proxies takes them in, in the order they
    // were written; every call but those of a harvest does it first. A store this run cannot write is read as it
    // stands, and pagesLeftOut() tells how many pages that leaves out.
    virtual bool takeInWaitingPages() = 0;
    virtual qint64 pagesLeftOut() const = 0;

    // What this run wrote, copied from the store's log into its file where no other run still reads it, without
    // waiting for any: a run's writer does it once its large writes are done, so that the next run to open the store
    // does not read them all again before its first step. A copy that cannot be made now is left for later.
    virtual void copyLogIn() = 0;

    // Why the last call failed.
    virtual QString failure() const = 0;
};
