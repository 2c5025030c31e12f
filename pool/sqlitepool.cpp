#include "pool/sqlitepool.h"

#include "check/proxylist.h"
#include "pool/poolschedule.h"
#include "pool/sqliterows.h"
#include "pool/waitingtexts.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <tuple>

namespace {

// Each migration takes the schema from the version of its index to the next; the first makes a pool from nothing.
// docs/pool.md describes the tables.
const char* const migrations[] = {
    R"(
CREATE TABLE sources (
    id INTEGER PRIMARY KEY,
    url TEXT NOT NULL UNIQUE
);
CREATE TABLE harvests (
    id INTEGER PRIMARY KEY,
    run_stamp INTEGER NOT NULL,
    started INTEGER NOT NULL,
    ended INTEGER NOT NULL
);
CREATE TABLE fetches (
    id INTEGER PRIMARY KEY,
    harvest_id INTEGER NOT NULL REFERENCES harvests (id),
    source_id INTEGER NOT NULL REFERENCES sources (id),
    outcome TEXT NOT NULL,
    status INTEGER,
    bytes INTEGER NOT NULL,
    ms INTEGER NOT NULL,
    proxies INTEGER NOT NULL,
    proxy_set INTEGER
);
CREATE INDEX fetches_of_source ON fetches (source_id, id);
CREATE TABLE proxies (
    id INTEGER PRIMARY KEY,
    address INTEGER NOT NULL,
    port INTEGER NOT NULL,
    user BLOB NOT NULL,
    password BLOB NOT NULL,
    stated_scheme TEXT,
    first_seen INTEGER NOT NULL,
    last_seen INTEGER NOT NULL,
    last_check_id INTEGER REFERENCES checks (id),
    last_checked INTEGER,
    last_worked INTEGER,
    streak INTEGER NOT NULL DEFAULT 0,
    failing_since INTEGER,
    due INTEGER NOT NULL,
    retired INTEGER NOT NULL DEFAULT 0,
    UNIQUE (address, port, user, password)
);
CREATE INDEX proxies_due ON proxies (due) WHERE retired = 0;
CREATE INDEX proxies_alive ON proxies (last_checked) WHERE streak > 0;
CREATE TABLE sightings (
    fetch_id INTEGER NOT NULL REFERENCES fetches (id),
    proxy_id INTEGER NOT NULL REFERENCES proxies (id),
    PRIMARY KEY (fetch_id, proxy_id)
) WITHOUT ROWID;
CREATE TABLE source_proxies (
    source_id INTEGER NOT NULL REFERENCES sources (id),
    proxy_id INTEGER NOT NULL REFERENCES proxies (id),
    PRIMARY KEY (source_id, proxy_id)
) WITHOUT ROWID;
CREATE INDEX source_proxies_of_proxy ON source_proxies (proxy_id, source_id);
CREATE TABLE judges (
    id INTEGER PRIMARY KEY,
    url TEXT NOT NULL UNIQUE
);
CREATE TABLE places (
    id INTEGER PRIMARY KEY,
    country TEXT NOT NULL,
    asn INTEGER NOT NULL,
    organization TEXT NOT NULL,
    UNIQUE (country, asn, organization)
);
CREATE TABLE checks (
    id INTEGER PRIMARY KEY,
    proxy_id INTEGER NOT NULL REFERENCES proxies (id),
    checked_at INTEGER NOT NULL,
    judge_id INTEGER NOT NULL REFERENCES judges (id),
    outcome TEXT NOT NULL,
    protocols INTEGER NOT NULL,
    first_byte_ms INTEGER,
    anonymity TEXT,
    seen_address TEXT,
    place_id INTEGER REFERENCES places (id),
    exit_place_id INTEGER REFERENCES places (id)
);
CREATE INDEX checks_of_proxy ON checks (proxy_id, checked_at);
)",
    // Each check carries its proxy's running totals in time order, so that a proxy's last 7 days read from a few
    // rows, whatever the number of checks in them: checks so far, worked so far, and the up-time so far in half
    // seconds (a stretch between two checks counts twice its length when both worked, once when one did).
    R"(
ALTER TABLE checks ADD COLUMN checks_so_far INTEGER NOT NULL DEFAULT 0;
ALTER TABLE checks ADD COLUMN worked_so_far INTEGER NOT NULL DEFAULT 0;
ALTER TABLE checks ADD COLUMN up_so_far INTEGER NOT NULL DEFAULT 0;
UPDATE checks SET checks_so_far = totals.n, worked_so_far = totals.w, up_so_far = totals.u
FROM (SELECT id, row_number() OVER running AS n, sum(worked) OVER running AS w, sum(stretch) OVER running AS u
      FROM (SELECT id, proxy_id, checked_at, worked,
                   coalesce((checked_at - lag(checked_at) OVER byTime) * (worked + lag(worked) OVER byTime), 0)
                       AS stretch
            FROM (SELECT id, proxy_id, checked_at, outcome = 'working' AS worked FROM checks)
            WINDOW byTime AS (PARTITION BY proxy_id ORDER BY checked_at, id))
      WINDOW running AS (PARTITION BY proxy_id ORDER BY checked_at, id ROWS UNBOUNDED PRECEDING)) AS totals
WHERE checks.id = totals.id;
)",
    // The local proxy records an upstream that failed it as a check by the judge "serve": it makes the proxy due,
    // but only the judge's checks (by_judge) count toward its history and its retirement.
    R"(
ALTER TABLE checks ADD COLUMN by_judge INTEGER NOT NULL DEFAULT 1;
)",
    // A page's sightings are one value of its fetch, its proxies' ids (moveSightings() fills it from the rows a
    // sighting each), and a proxy enters the index of what is due once it has been checked: a harvest wrote three
    // rows a new proxy in those two. Proxies never checked are found by reading them all.
    R"(
ALTER TABLE fetches ADD COLUMN proxy_ids BLOB;
CREATE TEMP TABLE old_sightings AS SELECT fetch_id, proxy_id FROM sightings;
DROP TABLE sightings;
DROP INDEX proxies_due;
CREATE INDEX proxies_due ON proxies (due) WHERE retired = 0 AND last_checked IS NOT NULL;
)",
    // A harvest leaves each page's proxies as their texts in a row, a piece of a large page each, and the
    // first run that reads or writes proxies takes them in (takeInWaitingPages()): a harvest writes a row a page
    // rather than four index entries a proxy. A piece taken in before its page's last one keeps its proxies' ids until
    // then.
    R"(
CREATE TABLE pages_waiting (
    id INTEGER PRIMARY KEY,
    fetch_id INTEGER NOT NULL REFERENCES fetches (id),
    seen_at INTEGER NOT NULL,
    texts BLOB,
    ids BLOB,
    last INTEGER NOT NULL,
    failed INTEGER NOT NULL
);
CREATE INDEX pages_waiting_of_fetch ON pages_waiting (fetch_id);
)",
};
constexpr int migrationCount = int(sizeof migrations / sizeof migrations[0]);
// The migration after which the sightings are moved into their fetches.
constexpr int sightingsInFetches = 3;
static_assert(migrationCount == SqlitePool::schemaVersion, "one migration per version");

} // namespace

// One prepared statement, finalized when it goes; columns and parameters counted from 0 and 1 as SQLite does.
class SqlitePool::Statement
{
public:
    Statement(sqlite3* db, const char* sql) { m_code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr); }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_code == SQLITE_OK; }
    Statement& bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    Statement& bind(int index, const QByteArray& bytes)
    {
        sqlite3_bind_blob(m_statement, index, bytes.isNull() ? "" : bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.isNull() ? "" : utf8.constData(), int(utf8.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, const SqliteRows& rows)
    {
        SqliteRows::bind(m_statement, index, &rows);
        return *this;
    }
    Statement& bindNull(int index)
    {
        sqlite3_bind_null(m_statement, index);
        return *this;
    }
    // A row: true; done or failed: false, and ok() tells which.
    bool step()
    {
        m_code = sqlite3_step(m_statement);
        return m_code == SQLITE_ROW;
    }
    // Runs a statement that returns no row, then readies it for its next parameters.
    bool run()
    {
        step();
        sqlite3_reset(m_statement);
        return m_code == SQLITE_DONE;
    }
    bool ok() const { return m_code == SQLITE_DONE || m_code == SQLITE_ROW || m_code == SQLITE_OK; }
    void reset() { sqlite3_reset(m_statement); }
    // Ready for its next use: no row pending, no value bound.
    void clear()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        m_code = m_statement ? SQLITE_OK : m_code;
    }

    bool isNull(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }
    qint64 integer(int column, qint64 null = 0) const
    {
        return isNull(column) ? null : sqlite3_column_int64(m_statement, column);
    }
    QByteArray bytes(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        return QByteArray(data, sqlite3_column_bytes(m_statement, column));
    }
    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_code = SQLITE_OK;
};

// A check's running totals of its proxy, in time order (checked_at, then id), up to and with it.
struct SqlitePool::Totals
{
    qint64 at = -1; // negative: no check
    bool lastWorked = false;
    qint64 checks = 0;
    qint64 worked = 0;
    qint64 up = 0; // half seconds

    bool found() const { return at >= 0; }
    // The totals of the next check, at `time`.
    Totals then(qint64 time, bool working) const
    {
        Totals next;
        next.at = time;
        next.lastWorked = working;
        next.checks = checks + 1;
        next.worked = worked + int(working);
        next.up = up + (found() ? (time - at) * (int(lastWorked) + int(working)) : 0);
        return next;
    }
};

namespace {

using Statement = SqlitePool::Statement;

// A proxy's columns: address, port, user, password.
void bindProxy(Statement& statement, const ProxyEndpoint& proxy)
{
    statement.bind(1, qint64(proxy.address)).bind(2, qint64(proxy.port)).bind(3, proxy.user).bind(4, proxy.password);
}

ProxyEndpoint proxyOf(const Statement& row, int first)
{
    ProxyEndpoint proxy;
    proxy.address = quint32(row.integer(first));
    proxy.port = quint16(row.integer(first + 1));
    proxy.user = row.bytes(first + 2);
    proxy.password = row.bytes(first + 3);
    proxy.statedScheme = row.text(first + 4).toLatin1();
    return proxy;
}

// The outcome and anonymity as their texts name them, which is how the pool stores them.
CheckResult::Outcome outcomeOf(const QString& text)
{
    for (int outcome = CheckResult::Stopped; outcome <= CheckResult::Refused; ++outcome)
        if (CheckResult::outcomeText(CheckResult::Outcome(outcome)) == text)
            return CheckResult::Outcome(outcome);
    return CheckResult::Stopped;
}

CheckResult::Anonymity anonymityOf(const QString& text)
{
    for (int level = CheckResult::Transparent; level <= CheckResult::Elite; ++level)
        if (CheckResult::anonymityText(CheckResult::Anonymity(level)) == text)
            return CheckResult::Anonymity(level);
    return CheckResult::Unknown;
}

// A page's proxies as its fetch keeps them: their ids, sorted and each once, 8 bytes each, least significant first.
QByteArray packedIds(const std::vector<qint64>& ids)
{
    QByteArray packed(qsizetype(ids.size() * sizeof(qint64)), Qt::Uninitialized);
    for (size_t i = 0; i < ids.size(); ++i)
        qToLittleEndian<qint64>(ids[i], packed.data() + i * sizeof(qint64));
    return packed;
}

std::vector<qint64> unpackedIds(const QByteArray& packed)
{
    std::vector<qint64> ids(size_t(packed.size()) / sizeof(qint64));
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = qFromLittleEndian<qint64>(packed.constData() + i * sizeof(qint64));
    return ids;
}

void sortOnce(std::vector<qint64>* ids)
{
    std::sort(ids->begin(), ids->end());
    ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
}

// The proxies of a page's texts, each once: "a.b.c.d:port" as a harvest writes them, or with credentials and a
// scheme as a list may give them.
std::vector<ProxyEndpoint> proxiesIn(const QByteArray& texts)
{
    ProxyList list;
    list.addText(texts);
    return list.proxies();
}

// FNV-1a over the sorted proxy ids, each once: the same set gives the same number in any order, on any build.
qint64 setHash(const std::vector<qint64>& ids)
{
    quint64 hash = 14695981039346656037ULL;
    for (const qint64 id : ids)
        for (int shift = 0; shift < 64; shift += 8) {
            hash ^= (quint64(id) >> shift) & 0xff;
            hash *= 1099511628211ULL;
        }
    return qint64(hash);
}

using Totals = SqlitePool::Totals;

const char* const largeCache = "PRAGMA cache_size = -16384";
// A log the next run would take 2 ms to read as it opens the pool.
constexpr qint64 longLogBytes = qint64(4) << 20;

// A macro, so that each statement that reads them stays one literal: statement() keeps statements by the text's
// address.
#define totalsColumns "c.checked_at, c.outcome = 'working', c.checks_so_far, c.worked_so_far, c.up_so_far"

Totals totalsOf(const Statement& row, int first)
{
    Totals totals;
    if (row.isNull(first))
        return totals;
    totals.at = row.integer(first);
    totals.lastWorked = row.integer(first + 1) != 0;
    totals.checks = row.integer(first + 2);
    totals.worked = row.integer(first + 3);
    totals.up = row.integer(first + 4);
    return totals;
}

// A page's proxies as the table page_proxies reads them.
class PageProxies : public SqliteRows
{
public:
    explicit PageProxies(const std::vector<const ProxyEndpoint*>& proxies) : m_proxies(proxies) {}
    size_t count() const override { return m_proxies.size(); }
    void column(sqlite3_context* context, size_t row, int column) const override
    {
        const ProxyEndpoint& proxy = *m_proxies[row];
        const auto blob = [context](const QByteArray& bytes) {
            sqlite3_result_blob(context, bytes.isNull() ? "" : bytes.constData(), int(bytes.size()), SQLITE_STATIC);
        };
        switch (column) {
        case 0:
            return sqlite3_result_int64(context, proxy.address);
        case 1:
            return sqlite3_result_int64(context, proxy.port);
        case 2:
            return blob(proxy.user);
        case 3:
            return blob(proxy.password);
        default:
            if (proxy.statedScheme.isEmpty())
                return sqlite3_result_null(context);
            return sqlite3_result_text(context, proxy.statedScheme.constData(), int(proxy.statedScheme.size()),
                                       SQLITE_STATIC);
        }
    }

private:
    const std::vector<const ProxyEndpoint*>& m_proxies;
};

// Row ids as the table id_list reads them.
class IdList : public SqliteRows
{
public:
    explicit IdList(const std::vector<qint64>& ids) : m_ids(ids) {}
    size_t count() const override { return m_ids.size(); }
    void column(sqlite3_context* context, size_t row, int) const override { sqlite3_result_int64(context, m_ids[row]); }

private:
    const std::vector<qint64>& m_ids;
};

} // namespace

std::unique_ptr<SqlitePool> SqlitePool::open(const QString& path, Access access, QString* failure)
{
    const QFileInfo file(path);
    if (access != Access::Write && !file.exists()) {
        *failure = QStringLiteral("there is no pool at %1; a harvest or a check makes one.").arg(path);
        return nullptr;
    }
    if (!file.dir().exists()) {
        *failure = QStringLiteral("cannot open the pool %1: its folder does not exist.").arg(path);
        return nullptr;
    }
    if (file.exists() && !file.isFile()) {
        *failure = QStringLiteral("cannot open the pool %1: it is no file.").arg(path);
        return nullptr;
    }
    if (file.isSymLink() && !file.exists()) {
        *failure = QStringLiteral("cannot open the pool %1: it is a link to nothing.").arg(path);
        return nullptr;
    }
    if (!file.exists() && !QFileInfo(file.absolutePath()).isWritable()) {
        *failure = QStringLiteral("cannot make the pool %1: its folder cannot be written.").arg(path);
        return nullptr;
    }
    sqlite3* db = nullptr;
    // A reader opens for writing too: it takes in the pages a harvest left waiting, and as the last connection to
    // close it takes the WAL's side files away, where a read-only one would leave them beside the pool. Where
    // nothing can be written (the file or its folder, on read-only media too) it opens to read alone; and where
    // the WAL's side files are not there and cannot be made, as a file nothing changes meanwhile, which is how
    // SQLite reads it then.
    const bool folderReadOnly = !QFileInfo(file.absolutePath()).isWritable();
    const bool readOnly = access == Access::Read && (!file.isWritable() || folderReadOnly);
    QByteArray name = path.toUtf8();
    int flags = access == Access::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                : readOnly              ? SQLITE_OPEN_READONLY
                                        : SQLITE_OPEN_READWRITE;
    if (readOnly && folderReadOnly && !QFileInfo::exists(path + QStringLiteral("-wal"))) {
        name = QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded() + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    const int code = sqlite3_open_v2(name.constData(), &db, flags, nullptr);
    std::unique_ptr<SqlitePool> pool(new SqlitePool(db));
    if (code != SQLITE_OK)
        *failure = QStringLiteral("cannot open the pool %1: %2.").arg(path, QString::fromUtf8(sqlite3_errstr(code)));
    else if (access != Access::Read && sqlite3_db_readonly(db, "main") == 1)
        *failure = QStringLiteral("cannot write the pool %1: it is read-only.").arg(path);
    else if (pool->prepare(access, path, failure))
        return pool;
    return nullptr;
}

const char* SqlitePool::migration(int from)
{
    return from >= 0 && from < migrationCount ? migrations[from] : nullptr;
}

bool SqlitePool::canMake(const QString& path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    return !file.exists() && !file.isSymLink() && folder.isDir() && folder.isWritable();
}

SqlitePool::SqlitePool(sqlite3* db) : m_db(db) {}

SqlitePool::~SqlitePool()
{
    m_statements.clear();
    sqlite3_close_v2(m_db);
}

// Prepared once per connection: a harvest sights each of its proxies through the same few statements.
SqlitePool::Statement& SqlitePool::statement(const char* sql)
{
    std::unique_ptr<Statement>& kept = m_statements[sql];
    if (!kept)
        kept = std::make_unique<Statement>(m_db, sql);
    kept->clear();
    return *kept;
}

bool SqlitePool::prepare(Access access, const QString& path, QString* failure)
{
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, lockWaitMs);
    // One line naming the file: why given, or what SQLite said.
    const auto refuse = [&](const QString& why) {
        const int code = m_code & 0xff;
        if (!why.isEmpty())
            *failure = why;
        else if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            *failure = QStringLiteral("cannot open the pool %1: another program held it locked for %2 s.")
                           .arg(path)
                           .arg(lockWaitMs / 1000);
        else if (code == SQLITE_READONLY)
            *failure = QStringLiteral("cannot write the pool %1: it is read-only.").arg(path);
        else
            *failure = QStringLiteral("cannot open the pool %1: %2.").arg(path, m_failure);
        rollback();
        return false;
    };
    // 16 MB of pages kept in memory, eight times SQLite's own: a pool kept for months is large, and its indexes are
    // read at random. 64 MB recorded harvests no faster (1.10 s against 1.01 s in bench_pool) and held 40 MB more in
    // one.
    if (!execute("PRAGMA foreign_keys = ON") || !execute(largeCache) || !execute("PRAGMA temp_store = MEMORY"))
        return refuse(QString());
    if (!SqliteRows::install(m_db, "page_proxies", "address, port, user, password, stated_scheme") ||
        !SqliteRows::install(m_db, "id_list", "id"))
        return fail(), refuse(QString());
    // First only read, so that a file that is no pool of ours is left exactly as it was.
    int found = 0;
    if (!readVersion(&found))
        return refuse(QString());
    if (found > schemaVersion)
        return refuse(QStringLiteral("the pool %1 is of version %2, later than this program knows (%3); it is left "
                                     "as it is.")
                          .arg(path)
                          .arg(found)
                          .arg(schemaVersion));
    if (found < 0)
        return refuse(QStringLiteral("cannot open the pool %1: it is a database, but not a pool.").arg(path));
    if (access != Access::Write && found == 0)
        return refuse(QStringLiteral("there is no pool at %1; a harvest or a check makes one.").arg(path));
    // The log is copied into the file every 64 MB rather than every 4: a harvest's pages each change a few hundred
    // pages of the file, and each copy waits for the disk. A reader too writes, when it takes waiting pages in.
    if (!execute("PRAGMA wal_autocheckpoint = 16384") || !execute("PRAGMA synchronous = NORMAL"))
        return refuse(QString());
    if (access == Access::Read) {
        if (found < schemaVersion)
            return refuse(QStringLiteral("the pool %1 is of version %2; a harvest or a check brings it up to "
                                         "version %3 first.")
                              .arg(path)
                              .arg(found)
                              .arg(schemaVersion));
        sqlite3_busy_timeout(m_db, writeWaitMs);
        return true;
    }
    // The journal mode is the file's own: set once, by the first run that writes. A run that writes takes the
    // write lock now, so a pool locked past the wait stops it before it starts.
    if (!execute("PRAGMA journal_mode = WAL") || !begin() || !readVersion(&found))
        return refuse(QString());
    for (int step = found; step < schemaVersion; ++step)
        if (!execute(migrations[step]) || (step == sightingsInFetches && !moveSightings()))
            return refuse(QString());
    if (found < schemaVersion &&
        !execute(QByteArray("PRAGMA user_version = " + QByteArray::number(schemaVersion)).constData()))
        return refuse(QString());
    if (!execute("COMMIT"))
        return refuse(QString());
    // From here on a busy pool is waited for; a run never fails on it.
    sqlite3_busy_timeout(m_db, writeWaitMs);
    // A run that writes leaves its log beside the pool as it closes, for the log's own copy every 64 MB or a reader's
    // as it closes: the copy waits for the disk twice, at the end of the run. A pool refused above is closed as
    // opened, its side files gone.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    return true;
}

bool SqlitePool::moveSightings()
{
    Statement select(m_db, "SELECT fetch_id, proxy_id FROM temp.old_sightings ORDER BY fetch_id, proxy_id");
    Statement update(m_db, "UPDATE fetches SET proxy_ids = ?2 WHERE id = ?1");
    qint64 fetchId = -1;
    std::vector<qint64> ids;
    const auto store = [&] {
        if (fetchId < 0)
            return true;
        update.clear();
        const bool stored = update.bind(1, fetchId).bind(2, packedIds(ids)).run();
        ids.clear();
        return stored;
    };
    while (select.step()) {
        if (select.integer(0) != fetchId && !store())
            return fail();
        fetchId = select.integer(0);
        ids.push_back(select.integer(1));
    }
    return (select.ok() && store() && execute("DROP TABLE temp.old_sightings")) || fail();
}

bool SqlitePool::readVersion(int* version)
{
    Statement user(m_db, "PRAGMA user_version");
    Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
    if (!user.prepared() || !user.step() || !tables.prepared() || !tables.step())
        return fail();
    *version = int(user.integer(0));
    if (*version == 0 && tables.integer(0) > 0)
        *version = -1;
    return true;
}

bool SqlitePool::execute(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail();
}

bool SqlitePool::fail()
{
    m_code = sqlite3_extended_errcode(m_db);
    m_failure = QString::fromUtf8(sqlite3_errmsg(m_db));
    return false;
}

bool SqlitePool::begin()
{
    return execute("BEGIN IMMEDIATE");
}

bool SqlitePool::commit()
{
    if (execute("COMMIT"))
        return true;
    rollback();
    return false;
}

qint64 SqlitePool::sourceId(const QString& url)
{
    const auto known = m_sourceIds.find(url);
    if (known != m_sourceIds.end())
        return known->second;
    const qint64 id =
        idOf("INSERT OR IGNORE INTO sources (url) VALUES (?1)", "SELECT id FROM sources WHERE url = ?1", url);
    if (id >= 0)
        m_sourceIds.emplace(url, id);
    return id;
}

void SqlitePool::rollback()
{
    // A source made in the transaction is gone with it.
    m_sourceIds.clear();
    if (sqlite3_get_autocommit(m_db) == 0)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

qint64 SqlitePool::sight(const ProxyEndpoint& proxy, qint64 at)
{
    // A retired proxy seen again is back, and due at once.
    Statement& upsert =
        statement("INSERT INTO proxies (address, port, user, password, stated_scheme, first_seen, last_seen, "
                  "due) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6, ?6) "
                  "ON CONFLICT (address, port, user, password) DO UPDATE SET "
                  "first_seen = min(first_seen, excluded.first_seen), "
                  "last_seen = max(last_seen, excluded.last_seen), "
                  "stated_scheme = coalesce(excluded.stated_scheme, stated_scheme), "
                  "due = CASE WHEN retired THEN min(due, excluded.due) ELSE due END, retired = 0 "
                  "RETURNING id");
    bindProxy(upsert, proxy);
    if (proxy.statedScheme.isEmpty())
        upsert.bindNull(5);
    else
        upsert.bind(5, QString::fromLatin1(proxy.statedScheme));
    upsert.bind(6, at);
    if (!upsert.step())
        return fail(), -1;
    const qint64 id = upsert.integer(0);
    upsert.step(); // to the end, where the statement is done
    return id;
}

qint64 SqlitePool::idOf(const char* insert, const char* select, const QString& text)
{
    Statement& add = statement(insert);
    if (!add.bind(1, text).run())
        return fail(), -1;
    Statement& find = statement(select);
    if (!find.bind(1, text).step())
        return fail(), -1;
    // A kept statement left on its row would hold a read of the file open past the commit.
    const qint64 id = find.integer(0);
    find.reset();
    return id;
}

qint64 SqlitePool::placeId(const GeoLookup::Place& place)
{
    if (place.country.isEmpty() && place.asn == 0 && place.organization.isEmpty())
        return 0;
    const QString key =
        place.country + QLatin1Char('\t') + QString::number(place.asn) + QLatin1Char('\t') + place.organization;
    const auto known = m_places.constFind(key);
    if (known != m_places.constEnd())
        return *known;
    Statement& add = statement("INSERT OR IGNORE INTO places (country, asn, organization) VALUES (?1, ?2, ?3)");
    if (!add.bind(1, place.country).bind(2, qint64(place.asn)).bind(3, place.organization).run())
        return fail(), -1;
    Statement& find = statement("SELECT id FROM places WHERE country = ?1 AND asn = ?2 AND organization = ?3");
    if (!find.bind(1, place.country).bind(2, qint64(place.asn)).bind(3, place.organization).step())
        return fail(), -1;
    const qint64 id = find.integer(0);
    find.reset();
    m_places.insert(key, id);
    return id;
}

bool SqlitePool::beginHarvest(const PoolHarvest& harvest, qint64* harvestId)
{
    if (!begin())
        return false;
    Statement& add = statement("INSERT INTO harvests (run_stamp, started, ended) VALUES (?1, ?2, ?3)");
    if (!add.bind(1, qint64(harvest.runStamp)).bind(2, harvest.started).bind(3, harvest.ended).run())
        return fail(), rollback(), false;
    *harvestId = sqlite3_last_insert_rowid(m_db);
    return commit();
}

bool SqlitePool::endHarvest(qint64 harvestId, qint64 ended)
{
    if (!begin())
        return false;
    Statement& end = statement("UPDATE harvests SET ended = ?2 WHERE id = ?1");
    if (!end.bind(1, harvestId).bind(2, ended).run())
        return fail(), rollback(), false;
    return commit();
}

qint64 SqlitePool::addFetch(qint64 harvestId, qint64 sourceId, const PoolHarvest::Page& page)
{
    Statement& fetch = statement("INSERT INTO fetches (harvest_id, source_id, outcome, status, bytes, ms, proxies, "
                                 "proxy_set) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, NULL)");
    fetch.bind(1, harvestId).bind(2, sourceId).bind(3, page.outcome).bind(5, page.bytes).bind(6, page.ms);
    fetch.bind(7, qint64(page.proxies));
    if (page.status > 0)
        fetch.bind(4, qint64(page.status));
    else
        fetch.bindNull(4);
    if (!fetch.run())
        return fail(), -1;
    return sqlite3_last_insert_rowid(m_db);
}

bool SqlitePool::recordPages(qint64 harvestId, qint64 started, const std::vector<PoolHarvest::Page>& pages)
{
    // A page's proxies wait as their texts in a row of their own until a run that reads proxies takes them in: a
    // harvest writes a row a page, where taking its proxies in costs a few index entries each. Pages go in transactions
    // of about a batch of proxies each, so that runs that share the pool take turns.
    qsizetype batched = 0;
    for (const PoolHarvest::Page& page : pages) {
        if (batched == 0 && !begin())
            return false;
        // The fetch with the first piece of its page.
        PageInPieces& written = m_pageInPieces;
        if (written.fetchId < 0) {
            written.sourceId = sourceId(page.url);
            if (written.sourceId < 0 || (written.fetchId = addFetch(harvestId, written.sourceId, page)) < 0)
                return written = {}, rollback(), false;
        }
        Statement& wait = statement("INSERT INTO pages_waiting (fetch_id, seen_at, texts, last, failed) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5)");
        wait.bind(1, written.fetchId).bind(2, started).bind(3, WaitingTexts::packed(page.texts));
        if (!wait.bind(4, qint64(!page.more)).bind(5, qint64(page.failed)).run())
            return fail(), written = {}, rollback(), false;
        if (!page.more)
            written = {};
        batched += page.texts.size() + 1;
        if (batched >= qsizetype(harvestBatchSize) * averageTextBytes) {
            batched = 0;
            if (!commit())
                return false;
        }
    }
    return batched == 0 || commit();
}

bool SqlitePool::takeInWaitingPages()
{
    Statement& any = statement("SELECT EXISTS (SELECT 1 FROM pages_waiting WHERE texts IS NOT NULL)");
    const bool waiting = any.step() && any.integer(0) != 0;
    any.reset();
    if (!any.ok())
        return fail();
    if (!waiting)
        return true;
    // A pool this run cannot write is read as it stands: its reader says what it left out.
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        Statement& pages = statement("SELECT count(DISTINCT fetch_id) FROM pages_waiting WHERE texts IS NOT NULL");
        m_pagesLeftOut = pages.step() ? pages.integer(0) : 0;
        pages.reset();
        return pages.ok() || fail();
    }
    // A batch of pieces a transaction, read in first: they are changed and deleted as they are taken in.
    for (;;) {
        if (!begin())
            return false;
        std::vector<WaitingPiece> pieces;
        size_t proxies = 0;
        Statement& next = statement("SELECT w.id, w.fetch_id, f.source_id, w.seen_at, w.texts, w.last, w.failed "
                                    "FROM pages_waiting w JOIN fetches f ON f.id = w.fetch_id "
                                    "WHERE w.texts IS NOT NULL ORDER BY w.id");
        while (proxies < size_t(harvestBatchSize) && next.step()) {
            pieces.push_back({next.integer(0), next.integer(1), next.integer(2), next.integer(3),
                              proxiesIn(WaitingTexts::unpacked(next.bytes(4))), next.integer(5) != 0,
                              next.integer(6) != 0});
            proxies += pieces.back().proxies.size() + 1;
        }
        next.reset();
        if (!next.ok())
            return fail(), rollback(), false;
        if (pieces.empty())
            return commit();
        for (const WaitingPiece& piece : pieces)
            if (!takeIn(piece))
                return rollback(), false;
        if (!commit())
            return false;
    }
}

void SqlitePool::copyLogIn()
{
    // The first connection to open the pool reads the whole log to rebuild its index (26 ms for a log of 63 MB), and
    // runs that write leave it behind as they close. Emptied, as long as no other run reads it; none is waited for.
    // A short log is left: the copy waits for the disk twice, 1.5 % of a harvest of a new pool.
    const char* const file = sqlite3_db_filename(m_db, "main");
    if (!file || QFileInfo(QString::fromUtf8(file) + QStringLiteral("-wal")).size() < longLogBytes)
        return;
    sqlite3_busy_timeout(m_db, 0);
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(m_db, writeWaitMs);
}

bool SqlitePool::takeIn(const WaitingPiece& piece)
{
    std::vector<qint64> ids;
    if (!writePage(piece.proxies, piece.sourceId, piece.seenAt, &ids))
        return false;
    if (!piece.last) {
        Statement& keep = statement("UPDATE pages_waiting SET texts = NULL, ids = ?2 WHERE id = ?1");
        return keep.bind(1, piece.id).bind(2, packedIds(ids)).run() || fail();
    }
    // The page's sightings, once its last piece is in: its proxies' ids as one value, and the hash of that set.
    Statement& before = statement("SELECT ids FROM pages_waiting WHERE fetch_id = ?1 AND texts IS NULL");
    before.bind(1, piece.fetchId);
    while (before.step()) {
        const std::vector<qint64> earlier = unpackedIds(before.bytes(0));
        ids.insert(ids.end(), earlier.cbegin(), earlier.cend());
    }
    before.reset();
    if (!before.ok())
        return fail();
    sortOnce(&ids);
    Statement& set = statement("UPDATE fetches SET proxy_ids = ?2, proxy_set = ?3 WHERE id = ?1");
    set.bind(1, piece.fetchId).bind(2, packedIds(ids));
    if (piece.failed)
        set.bindNull(3);
    else
        set.bind(3, setHash(ids));
    Statement& done = statement("DELETE FROM pages_waiting WHERE fetch_id = ?1");
    return (set.run() && done.bind(1, piece.fetchId).run()) || fail();
}

bool SqlitePool::writePage(const std::vector<ProxyEndpoint>& proxies, qint64 sourceId, qint64 at,
                           std::vector<qint64>* ids)
{
    // In key order; a proxy named twice keeps its order, so that the scheme named last stays.
    std::vector<const ProxyEndpoint*> sorted;
    sorted.reserve(proxies.size());
    for (const ProxyEndpoint& proxy : proxies)
        sorted.push_back(&proxy);
    std::stable_sort(sorted.begin(), sorted.end(), [](const ProxyEndpoint* a, const ProxyEndpoint* b) {
        return a->key() != b->key() ? a->key() < b->key()
                                    : std::tie(a->user, a->password) < std::tie(b->user, b->password);
    });
    const PageProxies rows(sorted);
    // As sight() does it, for the whole page at once; but a page seen before the check that retired a proxy, and
    // taken in after it, does not bring it back.
    Statement& upsert =
        statement("INSERT INTO proxies (address, port, user, password, stated_scheme, first_seen, last_seen, due) "
                  "SELECT address, port, user, password, stated_scheme, ?2, ?2, ?2 FROM page_proxies(?1) "
                  "WHERE true ON CONFLICT (address, port, user, password) DO UPDATE SET "
                  "first_seen = min(first_seen, excluded.first_seen), "
                  "last_seen = max(last_seen, excluded.last_seen), "
                  "stated_scheme = coalesce(excluded.stated_scheme, stated_scheme), "
                  "due = CASE WHEN retired AND ?2 >= coalesce(last_checked, ?2) THEN min(due, excluded.due) "
                  "ELSE due END, retired = retired AND ?2 < coalesce(last_checked, ?2)");
    if (!upsert.bind(1, rows).bind(2, at).run())
        return fail();
    Statement& find = statement("SELECT p.id FROM page_proxies(?1) t JOIN proxies p ON p.address = t.address AND "
                                "p.port = t.port AND p.user = t.user AND p.password = t.password");
    std::vector<qint64> found;
    found.reserve(sorted.size());
    find.bind(1, rows);
    while (find.step())
        found.push_back(find.integer(0));
    find.reset();
    if (!find.ok())
        return fail();
    sortOnce(&found);
    Statement& given =
        statement("INSERT OR IGNORE INTO source_proxies (source_id, proxy_id) SELECT ?2, id FROM id_list(?1)");
    if (!given.bind(1, IdList(found)).bind(2, sourceId).run())
        return fail();
    ids->insert(ids->end(), found.cbegin(), found.cend());
    return true;
}

bool SqlitePool::recordSightings(const std::vector<ProxyEndpoint>& proxies, qint64 at)
{
    if (!takeInWaitingPages())
        return false;
    for (size_t first = 0; first < proxies.size(); first += batchSize) {
        if (!begin())
            return false;
        for (size_t i = first; i < std::min(proxies.size(), first + batchSize); ++i)
            if (sight(proxies[i], at) < 0)
                return rollback(), false;
        if (!commit())
            return false;
    }
    return true;
}

bool SqlitePool::recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, qint64 at)
{
    if (!takeInWaitingPages())
        return false;
    std::vector<const ProxyRecord*> finished;
    for (const ProxyRecord& record : records)
        if (record.result.outcome != CheckResult::Stopped)
            finished.push_back(&record);
    m_places.clear();
    for (size_t first = 0; first < finished.size(); first += batchSize) {
        if (!begin())
            return false;
        const qint64 judgeId =
            idOf("INSERT OR IGNORE INTO judges (url) VALUES (?1)", "SELECT id FROM judges WHERE url = ?1", judge);
        if (judgeId < 0)
            return rollback(), false;
        Statement& find =
            statement("SELECT p.id, p.last_checked, p.streak, p.failing_since, " totalsColumns " FROM proxies p "
                      "LEFT JOIN checks c ON c.id = p.last_check_id WHERE address = ?1 AND port = ?2 AND user = ?3 AND "
                      "password = ?4");
        Statement& add =
            statement("INSERT INTO checks (proxy_id, checked_at, judge_id, outcome, protocols, first_byte_ms, "
                      "anonymity, seen_address, place_id, exit_place_id, checks_so_far, worked_so_far, up_so_far) "
                      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        Statement& update =
            statement("UPDATE proxies SET last_check_id = ?1, last_checked = ?2, "
                      "last_worked = coalesce(?3, last_worked), streak = ?4, failing_since = ?5, due = ?6, "
                      "retired = ?7 WHERE id = ?8");
        for (size_t i = first; i < std::min(finished.size(), first + batchSize); ++i) {
            const ProxyRecord& record = *finished[i];
            const CheckResult& result = record.result;
            bindProxy(find, record.proxy);
            qint64 proxyId = -1;
            qint64 lastChecked = -1;
            int streak = 0;
            qint64 failingSince = -1;
            Totals last;
            if (find.step()) {
                proxyId = find.integer(0);
                lastChecked = find.integer(1, -1);
                streak = int(find.integer(2));
                failingSince = find.integer(3, -1);
                last = totalsOf(find, 4);
            }
            find.reset();
            const bool worked = result.outcome == CheckResult::Working;
            // A check older than the last one known (runs that overlap) is history, not the proxy's state; the
            // totals of the checks after it are counted again once it is in.
            const bool late = at < lastChecked;
            const Totals totals = late ? Totals() : last.then(at, worked);
            if (proxyId < 0 && (proxyId = sight(record.proxy, at)) < 0)
                return rollback(), false;
            const qint64 place = placeId(record.place);
            const qint64 exit = placeId(record.exit);
            if (place < 0 || exit < 0)
                return rollback(), false;
            add.bind(1, proxyId).bind(2, at).bind(3, judgeId).bind(4, CheckResult::outcomeText(result.outcome));
            add.bind(5, qint64(result.protocols));
            const auto bindOrNull = [&add](int index, bool given, const auto& value) {
                if (given)
                    add.bind(index, value);
                else
                    add.bindNull(index);
            };
            bindOrNull(6, result.firstByteMs >= 0, qint64(result.firstByteMs));
            bindOrNull(7, result.anonymity != CheckResult::Unknown, CheckResult::anonymityText(result.anonymity));
            bindOrNull(8, !result.seenAddress.isEmpty(), result.seenAddress);
            bindOrNull(9, place > 0, place);
            bindOrNull(10, exit > 0, exit);
            add.bind(11, totals.checks).bind(12, totals.worked).bind(13, totals.up);
            if (!add.run())
                return fail(), rollback(), false;
            if (late) {
                if (!retotal(proxyId, at))
                    return rollback(), false;
                continue;
            }
            streak = worked ? std::max(streak, 0) + 1 : std::min(streak, 0) - 1;
            if (worked)
                failingSince = -1;
            else if (streak == -1)
                failingSince = at;
            update.bind(1, sqlite3_last_insert_rowid(m_db)).bind(2, at);
            if (worked)
                update.bind(3, at);
            else
                update.bindNull(3);
            update.bind(4, qint64(streak));
            if (failingSince >= 0)
                update.bind(5, failingSince);
            else
                update.bindNull(5);
            update.bind(6, at + PoolSchedule::recheckAfter(streak));
            update.bind(7, qint64(!worked && PoolSchedule::retires(streak, failingSince, at))).bind(8, proxyId);
            if (!update.run())
                return fail(), rollback(), false;
        }
        if (!commit())
            return false;
    }
    return true;
}

bool SqlitePool::recordServeFailure(const ProxyEndpoint& proxy, const QString& reason, qint64 at)
{
    if (!takeInWaitingPages())
        return false;
    if (!begin())
        return false;
    const qint64 judgeId = idOf("INSERT OR IGNORE INTO judges (url) VALUES (?1)",
                                "SELECT id FROM judges WHERE url = ?1", QStringLiteral("serve"));
    if (judgeId < 0)
        return rollback(), false;
    Statement& find = statement("SELECT id FROM proxies WHERE address = ?1 AND port = ?2 AND user = ?3 AND "
                                "password = ?4");
    bindProxy(find, proxy);
    const qint64 proxyId = find.step() ? find.integer(0) : -1;
    find.reset();
    if (!find.ok())
        return fail(), rollback(), false;
    if (proxyId >= 0) {
        Statement& add = statement("INSERT INTO checks (proxy_id, checked_at, judge_id, outcome, protocols, by_judge) "
                                   "VALUES (?1, ?2, ?3, ?4, 0, 0)");
        Statement& due = statement("UPDATE proxies SET due = min(due, ?2) WHERE id = ?1");
        if (!add.bind(1, proxyId).bind(2, at).bind(3, judgeId).bind(4, reason).run() ||
            !due.bind(1, proxyId).bind(2, at).run())
            return fail(), rollback(), false;
    }
    return commit();
}

bool SqlitePool::due(qint64 now, bool all, std::vector<ProxyEndpoint>* proxies)
{
    if (!takeInWaitingPages())
        return false;
    // Those checked before through their index; those never checked, which it leaves out, by reading them all.
    Statement select(m_db, all ? "SELECT address, port, user, password, stated_scheme FROM proxies "
                                 "WHERE retired = 0 ORDER BY id"
                               : "SELECT address, port, user, password, stated_scheme, due, id FROM proxies "
                                 "WHERE retired = 0 AND last_checked IS NOT NULL AND due <= ?1 "
                                 "UNION ALL "
                                 "SELECT address, port, user, password, stated_scheme, due, id FROM proxies "
                                 "WHERE retired = 0 AND last_checked IS NULL AND due <= ?1 "
                                 "ORDER BY 6, 7");
    if (!all)
        select.bind(1, now);
    while (select.step())
        proxies->push_back(proxyOf(select, 0));
    return select.ok() || fail();
}

bool SqlitePool::retotal(qint64 proxyId, qint64 from)
{
    Statement& before = statement("SELECT " totalsColumns " FROM checks c WHERE proxy_id = ?1 AND checked_at < ?2 "
                                  "AND by_judge ORDER BY checked_at DESC, id DESC LIMIT 1");
    if (!before.bind(1, proxyId).bind(2, from).step() && !before.ok())
        return fail();
    Totals totals = totalsOf(before, 0);
    before.reset();
    Statement& after = statement("SELECT id, checked_at, outcome = 'working' FROM checks WHERE proxy_id = ?1 AND "
                                 "checked_at >= ?2 AND by_judge ORDER BY checked_at, id");
    std::vector<std::tuple<qint64, qint64, bool>> rows;
    after.bind(1, proxyId).bind(2, from);
    while (after.step())
        rows.emplace_back(after.integer(0), after.integer(1), after.integer(2) != 0);
    if (!after.ok())
        return fail();
    Statement& update =
        statement("UPDATE checks SET checks_so_far = ?1, worked_so_far = ?2, up_so_far = ?3 WHERE id = ?4");
    for (const auto& [id, at, worked] : rows) {
        totals = totals.then(at, worked);
        if (!update.bind(1, totals.checks).bind(2, totals.worked).bind(3, totals.up).bind(4, id).run())
            return fail();
    }
    return true;
}

bool SqlitePool::totalsAt(qint64 proxyId, qint64 at, bool before, Totals* totals)
{
    // The last check at `at` or before it (or strictly before), by the index of a proxy's checks.
    Statement& last = statement(before ? "SELECT " totalsColumns " FROM checks c WHERE proxy_id = ?1 AND "
                                         "checked_at < ?2 AND by_judge ORDER BY checked_at DESC, id DESC LIMIT 1"
                                       : "SELECT " totalsColumns " FROM checks c WHERE proxy_id = ?1 AND "
                                         "checked_at <= ?2 AND by_judge ORDER BY checked_at DESC, id DESC LIMIT 1");
    *totals = last.bind(1, proxyId).bind(2, at).step() ? totalsOf(last, 0) : Totals();
    last.reset();
    return last.ok() || fail();
}

bool SqlitePool::addHistory(qint64 proxyId, qint64 now, const Totals& latest, ProxyRecord::History* history)
{
    // From the totals of a few checks: the last up to now, the one that starts the first stretch (the last at the
    // start of the 7 days or before), the one after it, and the last before the 7 days for the counts.
    const qint64 windowStart = now - 7 * PoolSchedule::day;
    Totals last = latest;
    if (last.at > now && !totalsAt(proxyId, now, false, &last))
        return false;
    if (!last.found())
        return true;
    Totals first;
    if (!totalsAt(proxyId, windowStart, false, &first))
        return false;
    qint64 start = windowStart;
    qint64 up = last.up;
    Totals counted; // the last check before the 7 days, not counted in them
    if (first.found()) {
        if (first.at < windowStart)
            counted = first;
        else if (!totalsAt(proxyId, windowStart, true, &counted))
            return false;
        Statement& next = statement("SELECT " totalsColumns " FROM checks c WHERE proxy_id = ?1 AND "
                                    "checked_at > ?2 AND by_judge ORDER BY checked_at, id LIMIT 1");
        const Totals second = next.bind(1, proxyId).bind(2, windowStart).step() ? totalsOf(next, 0) : Totals();
        next.reset();
        if (!next.ok())
            return fail();
        // The stretch across the start counts from the start on.
        up = second.found() && second.at <= now
                 ? last.up - second.up + (second.at - windowStart) * (int(first.lastWorked) + int(second.lastWorked))
                 : 0;
    } else {
        // Every check is within the 7 days: the first starts the time counted, and the totals are the proxy's own.
        Statement& earliest = statement("SELECT min(checked_at) FROM checks WHERE proxy_id = ?1 AND by_judge");
        if (!earliest.bind(1, proxyId).step())
            return fail();
        start = earliest.integer(0);
        earliest.reset();
    }
    history->checks7d = int(last.checks - counted.checks);
    history->worked7d = int(last.worked - counted.worked);
    history->uptime7d = PoolSchedule::uptime(up, start, now, last.at, last.lastWorked);
    return true;
}

bool SqlitePool::proxies(const PoolFilter& filter, qint64 now, std::vector<ProxyRecord>* records)
{
    if (!takeInWaitingPages())
        return false;
    // The alive ones through their index; the condition must stand as the index's own (streak > 0).
    const QByteArray sql =
        "SELECT p.id, p.address, p.port, p.user, p.password, p.stated_scheme, p.first_seen, p.last_seen, "
        "p.last_checked, p.last_worked, p.streak, c.outcome, c.protocols, c.first_byte_ms, c.anonymity, "
        "c.seen_address, pl.country, pl.asn, pl.organization, ex.country, ex.asn, ex.organization, " totalsColumns " "
        "FROM proxies p LEFT JOIN checks c ON c.id = p.last_check_id LEFT JOIN places pl ON pl.id = c.place_id "
        "LEFT JOIN places ex ON ex.id = c.exit_place_id WHERE p.retired = 0" +
        QByteArray(filter.aliveOnly ? " AND p.streak > 0 AND p.last_checked >= ?1" : "");
    // An export reads each page once: a large cache would only cost its allocations (1.3 s of time on the processor
    // for 30,000 alive proxies of a million, against 1.0 s with SQLite's 2 MB).
    // It reads through a map of the file: the history's index entries and rows are read at random, and each page
    // read by a system call cost 0.35 s of 0.85 s for those 30,000. The pool is never shortened (no VACUUM), which
    // is what a map cannot bear.
    if (!execute("PRAGMA cache_size = -2000") || !execute("PRAGMA mmap_size = 4294967296"))
        return false;
    const auto restore = qScopeGuard([this] {
        execute(largeCache);
        execute("PRAGMA mmap_size = 0");
    });
    Statement select(m_db, sql.constData());
    if (!select.prepared())
        return fail();
    if (filter.aliveOnly)
        select.bind(1, now - PoolFilter::aliveHours * PoolSchedule::hour);
    Statement sourcesOf(m_db, "SELECT s.url FROM source_proxies sp JOIN sources s ON s.id = sp.source_id "
                              "WHERE sp.proxy_id = ?1 ORDER BY s.id");
    // Every condition but the uptime first, which is the one that costs a look at the history.
    PoolFilter cheap = filter;
    cheap.minUptime = -1;
    while (select.step()) {
        ProxyRecord record;
        record.proxy = proxyOf(select, 1);
        ProxyRecord::History history;
        history.firstSeen = select.integer(6);
        history.lastSeen = select.integer(7);
        history.lastChecked = select.integer(8, -1);
        history.lastWorked = select.integer(9, -1);
        history.streak = int(select.integer(10));
        CheckResult& result = record.result;
        if (history.lastChecked >= 0) {
            result.outcome = outcomeOf(select.text(11));
            result.protocols = int(select.integer(12));
            result.firstByteMs = int(select.integer(13, -1));
            result.anonymity = anonymityOf(select.text(14));
            result.seenAddress = select.text(15);
            record.place = {select.text(16), quint32(select.integer(17)), select.text(18)};
            record.exit = {select.text(19), quint32(select.integer(20)), select.text(21)};
        }
        if (!cheap.matches(record))
            continue;
        const qint64 proxyId = select.integer(0);
        if (history.lastChecked >= 0 && !addHistory(proxyId, now, totalsOf(select, 22), &history))
            return false;
        record.history = history;
        if (!filter.matches(record))
            continue;
        sourcesOf.bind(1, proxyId);
        while (sourcesOf.step())
            record.sources << sourcesOf.text(0);
        sourcesOf.reset();
        records->push_back(std::move(record));
    }
    if (!select.ok())
        return fail();
    // Best first: uptime, then first-byte time; then by address. Never checked last.
    std::sort(records->begin(), records->end(), [](const ProxyRecord& a, const ProxyRecord& b) {
        const double upA = a.history->uptime7d;
        const double upB = b.history->uptime7d;
        if (upA != upB)
            return upA > upB;
        const int msA = a.result.firstByteMs < 0 ? INT_MAX : a.result.firstByteMs;
        const int msB = b.result.firstByteMs < 0 ? INT_MAX : b.result.firstByteMs;
        if (msA != msB)
            return msA < msB;
        if (a.proxy.key() != b.proxy.key())
            return a.proxy.key() < b.proxy.key();
        return std::tie(a.proxy.user, a.proxy.password) < std::tie(b.proxy.user, b.proxy.password);
    });
    return true;
}

bool SqlitePool::sources(qint64 now, std::vector<PoolSource>* sources)
{
    if (!takeInWaitingPages())
        return false;
    QHash<qint64, size_t> indexOf;
    std::vector<qint64> lastFetch;
    Statement all(m_db, "SELECT s.id, s.url, count(DISTINCT f.harvest_id), max(f.id) FROM sources s "
                        "JOIN fetches f ON f.source_id = s.id GROUP BY s.id");
    while (all.step()) {
        PoolSource source;
        source.url = all.text(1);
        source.harvests = int(all.integer(2));
        indexOf.insert(all.integer(0), sources->size());
        sources->push_back(source);
        lastFetch.push_back(all.integer(3));
    }
    if (!all.ok())
        return fail();

    Statement last(m_db, "SELECT h.started, f.outcome, f.proxies, f.proxy_ids "
                         "FROM fetches f JOIN harvests h ON h.id = f.harvest_id WHERE f.id = ?1");
    // New to the pool: first seen in that harvest or later, as no earlier run saw it.
    Statement firstSeen(m_db, "SELECT first_seen FROM proxies WHERE id = ?1");
    for (size_t i = 0; i < sources->size(); ++i) {
        PoolSource& source = (*sources)[i];
        if (!last.bind(1, lastFetch[i]).step())
            return fail();
        source.lastFetched = last.integer(0);
        source.lastOutcome = last.text(1);
        source.proxiesLast = int(last.integer(2));
        for (const qint64 id : unpackedIds(last.bytes(3))) {
            if (firstSeen.bind(1, id).step() && firstSeen.integer(0) >= source.lastFetched)
                ++source.newToPoolLast;
            if (!firstSeen.ok())
                return fail();
            firstSeen.reset();
        }
        last.reset();
    }

    Statement distinct(m_db, "SELECT source_id, count(*) FROM source_proxies GROUP BY source_id");
    while (distinct.step())
        if (indexOf.contains(distinct.integer(0)))
            (*sources)[indexOf.value(distinct.integer(0))].distinctEver = int(distinct.integer(1));
    Statement alive(m_db, "SELECT sp.source_id, count(*), sum((SELECT count(*) FROM source_proxies o "
                          "WHERE o.proxy_id = sp.proxy_id) = 1) FROM proxies p JOIN source_proxies sp "
                          "ON sp.proxy_id = p.id WHERE p.streak > 0 AND p.last_checked >= ?1 AND p.retired = 0 "
                          "GROUP BY sp.source_id");
    alive.bind(1, now - PoolFilter::aliveHours * PoolSchedule::hour);
    while (alive.step())
        if (indexOf.contains(alive.integer(0))) {
            PoolSource& source = (*sources)[indexOf.value(alive.integer(0))];
            source.aliveNow = int(alive.integer(1));
            source.uniqueAlive = int(alive.integer(2));
        }
    // A page that failed tells nothing of the source's set; the first page that came is a change from nothing.
    Statement changed(m_db, "SELECT source_id, max(started) FROM (SELECT f.source_id, h.started, f.proxy_set, "
                            "lag(f.proxy_set) OVER (PARTITION BY f.source_id ORDER BY f.id) AS before "
                            "FROM fetches f JOIN harvests h ON h.id = f.harvest_id WHERE f.proxy_set IS NOT NULL) "
                            "WHERE before IS NULL OR before != proxy_set GROUP BY source_id");
    while (changed.step())
        if (indexOf.contains(changed.integer(0)))
            (*sources)[indexOf.value(changed.integer(0))].lastChanged = changed.integer(1);
    return (distinct.ok() && alive.ok() && changed.ok()) || fail();
}

bool SqlitePool::worthySources(qint64 since, QStringList* urls)
{
    if (!takeInWaitingPages())
        return false;
    Statement select(m_db, "SELECT s.url FROM sources s WHERE EXISTS (SELECT 1 FROM source_proxies sp JOIN proxies p "
                           "ON p.id = sp.proxy_id WHERE sp.source_id = s.id AND p.last_worked >= ?1) ORDER BY s.id");
    select.bind(1, since);
    while (select.step())
        *urls << select.text(0);
    return select.ok() || fail();
}
