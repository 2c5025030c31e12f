#pragma once

#include "pool/poolstore.h"

#include <QHash>

#include <map>
#include <unordered_map>
#include <vector>

struct sqlite3;

// The pool in one SQLite file (the C API, see the README): WAL mode so that runs read while another writes, a
// busy time-out so that writers wait for each other, foreign keys on, and the schema's version in
// PRAGMA user_version, brought up from any earlier version when a run that writes opens it. Every write is a short
// transaction of its own (BEGIN IMMEDIATE, so that it waits for the lock up front rather than failing half-way).
class SqlitePool : public PoolStore
{
public:
    static constexpr int schemaVersion = 5;
    // How long a write waits for the others before it gives up.
    static constexpr int writeWaitMs = 5 * 60 * 1000;
    // Checks and pages written per transaction, so that other runs get their turn between them.
    static constexpr int batchSize = 1000;
    // A waiting page's text a proxy, its line end with it ("a.b.c.d:port" is 9 to 21 bytes): a harvest's pages go in
    // transactions of about harvestBatchSize proxies, counted by their bytes.
    static constexpr int averageTextBytes = 16;

    // The SQL that takes a pool of version `from` to the next; the first makes one from nothing.
    static const char* migration(int from);

    static std::unique_ptr<SqlitePool> open(const QString& path, Access access, QString* failure);
    // Nothing is at `path`, not even a link, and its folder can be written: open() with Write would make a pool there.
    static bool canMake(const QString& path);
    ~SqlitePool() override;
    SqlitePool(const SqlitePool&) = delete;
    SqlitePool& operator=(const SqlitePool&) = delete;

    bool beginHarvest(const PoolHarvest& harvest, qint64* harvestId) override;
    bool recordPages(qint64 harvestId, qint64 started, const std::vector<PoolHarvest::Page>& pages) override;
    bool endHarvest(qint64 harvestId, qint64 ended) override;
    bool recordSightings(const std::vector<ProxyEndpoint>& proxies, qint64 at) override;
    bool recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, qint64 at) override;
    bool recordServeFailure(const ProxyEndpoint& proxy, const QString& reason, qint64 at) override;
    bool due(qint64 now, bool all, std::vector<ProxyEndpoint>* proxies) override;
    bool proxies(const PoolFilter& filter, qint64 now, std::vector<ProxyRecord>* records) override;
    bool sources(qint64 now, std::vector<PoolSource>* sources) override;
    bool worthySources(qint64 since, QStringList* urls) override;
    bool takeInWaitingPages() override;
    qint64 pagesLeftOut() const override { return m_pagesLeftOut; }
    void copyLogIn() override;
    QString failure() const override { return m_failure; }

    class Statement; // one prepared statement (sqlitepool.cpp)
    struct Totals;   // a check's running totals of its proxy (sqlitepool.cpp)

private:
    explicit SqlitePool(sqlite3* db);
    // The statement of this text, prepared at its first use and kept; ready for its values.
    Statement& statement(const char* sql);
    // Reads the version, creates or migrates the schema; false with the line that says why.
    bool prepare(Access access, const QString& path, QString* failure);
    // The schema's version; 0 for an empty file, -1 for a database that is no pool.
    bool readVersion(int* version);
    // Moves the sightings of a pool of version 3, a row each (temp.old_sightings, left by the migration), into
    // their fetches.
    bool moveSightings();
    bool execute(const char* sql);
    bool fail();
    bool begin();
    bool commit();
    void rollback();
    // The id of the proxy, made or updated as seen at `at`; -1 on failure.
    qint64 sight(const ProxyEndpoint& proxy, qint64 at);
    // The fetch of `page`, its set of proxies not known yet; its id, or -1.
    qint64 addFetch(qint64 harvestId, qint64 sourceId, const PoolHarvest::Page& page);
    // A piece of a page waiting to be taken in, as pages_waiting keeps it.
    struct WaitingPiece
    {
        qint64 id;
        qint64 fetchId;
        qint64 sourceId;
        qint64 seenAt;
        std::vector<ProxyEndpoint> proxies;
        bool last;
        bool failed;
    };
    // Its proxies into the pool; with the page's last piece, the page's sightings into its fetch.
    bool takeIn(const WaitingPiece& piece);
    // The proxies of a page, made or updated as seen at `at`, given by the source: their ids added to `ids`.
    bool writePage(const std::vector<ProxyEndpoint>& proxies, qint64 sourceId, qint64 at, std::vector<qint64>* ids);
    qint64 idOf(const char* insert, const char* select, const QString& text);
    // The source's id, made where new; kept for the connection, but for a rollback.
    qint64 sourceId(const QString& url);
    qint64 placeId(const GeoLookup::Place& place);
    // The uptime and counts of the last 7 days before `now`; `latest` the totals of the proxy's last check.
    bool addHistory(qint64 proxyId, qint64 now, const Totals& latest, ProxyRecord::History* history);
    // The totals of the last check at `at` or before (or strictly before); none found when there is none.
    bool totalsAt(qint64 proxyId, qint64 at, bool before, Totals* totals);
    // Counts the totals again for the checks from `from` on, after an older check came in late.
    bool retotal(qint64 proxyId, qint64 from);

    sqlite3* m_db;
    QString m_failure;
    int m_code = 0; // SQLite's extended result code of the last failure
    QHash<QString, qint64> m_places;
    // Not a QHash: Qt's string hash leaves the vector registers in a state that slows what SQLite runs after it
    // (VectorState), once a page.
    std::map<QString, qint64> m_sourceIds;
    qint64 m_pagesLeftOut = 0;
    // A page given in pieces (PoolHarvest::Page::more): its fetch.
    struct PageInPieces
    {
        qint64 fetchId = -1;
        qint64 sourceId = -1;
    };
    PageInPieces m_pageInPieces;
    std::unordered_map<const char*, std::unique_ptr<Statement>>
        m_statements; // by the text's address // place ids by "country\tasn\torganization", within one batch of checks
};
