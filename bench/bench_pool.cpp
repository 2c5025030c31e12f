// The pool at scale: makes a pool of 1,000,000 proxies and 10,000,000 checks, then times what the command line
// asks of it (an export of the alive ones and the sources' report, by the program itself; what a recheck picks),
// recording a check of 20,000 proxies and a harvest of 1,000 pages, and the bytes of file each check costs. Each
// figure stands beside a full scan of the checks in the same run, what a query that missed its index would cost.
//
//   bench_pool [--proxies N] [--checks N] [--folder DIR] [--keep] [--from FILE]
//
// --from FILE times a copy of FILE, made there by the first run that names it, so that runs compared need not wait
// for the pool to be made each time.
#include "pool/poolschedule.h"
#include "pool/poolstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// 2026-12-06T10:00:00Z: the pool's "now".
constexpr qint64 now = 1796551200;
constexpr int sourceCount = 500;
constexpr int harvestCount = 60; // every 12 hours for 30 days
constexpr int proxiesPerFetch = 100;

bool execute(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "bench_pool: %s: %s\n", sql, message);
    sqlite3_free(message);
    return false;
}

sqlite3_stmt* prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        qFatal("bench_pool: %s: %s", sql, sqlite3_errmsg(db));
    return statement;
}

void run(sqlite3_stmt* statement, std::initializer_list<qint64> values)
{
    int index = 1;
    for (const qint64 value : values)
        sqlite3_bind_int64(statement, index++, value);
    if (sqlite3_step(statement) != SQLITE_DONE)
        qFatal("bench_pool: %s", sqlite3_errmsg(sqlite3_db_handle(statement)));
    sqlite3_reset(statement);
}

qint64 single(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = prepare(db, sql);
    const qint64 value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
}

quint32 addressOf(int proxy)
{
    return (quint32(10 + proxy / 65536 % 200) << 24) | (quint32(proxy / 256 % 256) << 16) |
           (quint32(proxy % 256) << 8) | 7;
}

// What a pool kept for months looks like: 500 sources harvested every 12 hours for 30 days, each giving 100 of
// its own 2,000 proxies a time; 3 % of the proxies work and are checked every 30 minutes for their last 3 days,
// the rest fail and are checked ever more rarely, as the schedule has it, until the checks are all made.
void generate(const QString& path, int proxies, qint64 checks)
{
    QString failure;
    if (!PoolStore::open(path, PoolStore::Access::Write, &failure))
        qFatal("bench_pool: %s", qPrintable(failure));
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    execute(db, "PRAGMA synchronous = OFF");
    execute(db, "BEGIN");
    execute(db, "INSERT INTO judges (url) VALUES ('http://judge.example/')");
    execute(db, "INSERT INTO places (country, asn, organization) VALUES ('DE', 64501, 'Rheinnetz GmbH')");
    sqlite3_stmt* source = prepare(db, "INSERT INTO sources (id, url) VALUES (?1, 'http://source' || ?1 || "
                                       "'.example/list.html')");
    for (int s = 1; s <= sourceCount; ++s)
        run(source, {s});
    const qint64 start = now - 30 * PoolSchedule::day;
    sqlite3_stmt* proxy = prepare(db, "INSERT INTO proxies (id, address, port, user, password, first_seen, last_seen, "
                                      "due) VALUES (?1, ?2, ?3, x'', x'', ?4, ?5, ?4)");
    const int perSource = proxies / sourceCount;
    for (int p = 0; p < proxies; ++p) {
        // A proxy is first given by the harvest whose window reaches it, then by a few more.
        const int harvest = (p % perSource) * harvestCount / perSource;
        run(proxy, {p + 1, addressOf(p), 1000 + p % 60000, start + qint64(harvest) * 12 * PoolSchedule::hour,
                    start + qint64(std::min(harvestCount - 1, harvest + 1)) * 12 * PoolSchedule::hour});
    }
    sqlite3_stmt* harvest = prepare(db, "INSERT INTO harvests (id, run_stamp, started, ended) VALUES (?1, ?2, ?2, ?2)");
    sqlite3_stmt* fetch =
        prepare(db, "INSERT INTO fetches (id, harvest_id, source_id, outcome, status, bytes, ms, "
                    "proxies, proxy_set, proxy_ids) VALUES (?1, ?2, ?3, 'ok', 200, 20000, 150, ?4, ?1, "
                    "?5)");
    sqlite3_stmt* given = prepare(db, "INSERT OR IGNORE INTO source_proxies (source_id, proxy_id) VALUES (?1, ?2)");
    qint64 fetchId = 0;
    for (int h = 0; h < harvestCount; ++h) {
        run(harvest, {h + 1, start + qint64(h) * 12 * PoolSchedule::hour});
        for (int s = 0; s < sourceCount; ++s) {
            const int first = h * perSource / harvestCount;
            std::vector<qint64> ids;
            for (int i = 0; i < proxiesPerFetch; ++i) {
                const int p = (first + i) % perSource * sourceCount + s;
                ids.push_back(p + 1);
                run(given, {s + 1, p + 1});
            }
            // The fetch's sightings: its proxies' ids, sorted, 8 bytes each, least significant first.
            std::sort(ids.begin(), ids.end());
            QByteArray packed(qsizetype(ids.size() * sizeof(qint64)), Qt::Uninitialized);
            for (size_t i = 0; i < ids.size(); ++i)
                qToLittleEndian<qint64>(ids[i], packed.data() + i * sizeof(qint64));
            sqlite3_bind_blob(fetch, 5, packed.constData(), int(packed.size()), SQLITE_TRANSIENT);
            run(fetch, {++fetchId, h + 1, s + 1, proxiesPerFetch});
        }
    }
    // Checks, proxy by proxy in time order, with each proxy's row as the recording leaves it.
    sqlite3_stmt* check = prepare(db, "INSERT INTO checks (proxy_id, checked_at, judge_id, outcome, protocols, "
                                      "first_byte_ms, anonymity, seen_address, place_id, exit_place_id, "
                                      "checks_so_far, worked_so_far, up_so_far) VALUES (?1, ?2, 1, ?3, ?4, ?5, ?6, "
                                      "?7, 1, 1, ?8, ?9, ?10)");
    sqlite3_stmt* update = prepare(db, "UPDATE proxies SET last_check_id = ?2, last_checked = ?3, last_worked = ?4, "
                                       "streak = ?5, failing_since = ?6, due = ?7, retired = ?8 WHERE id = ?1");
    std::mt19937_64 random(37);
    const int working = proxies * 3 / 100;
    const qint64 workingChecks = std::min<qint64>(checks / 2, qint64(working) * 150);
    const qint64 failingChecks = checks - workingChecks;
    qint64 made = 0;
    for (int p = 0; p < proxies; ++p) {
        const bool works = p % 100 < 3;
        const qint64 budget = works ? workingChecks / working : failingChecks / (proxies - working);
        qint64 count =
            budget + (works ? 0 : (p % 7 < qint64(failingChecks % (proxies - working)) * 7 / (proxies - working)));
        count = std::max<qint64>(1, std::min(count, checks - made));
        // Working: every 30 minutes up to a few minutes ago. Failing: back from a moment in the last day, each
        // check further apart, as the schedule spaces them.
        qint64 at = works ? now - count * 30 * PoolSchedule::minute + qint64(random() % 1200)
                          : now - qint64(random() % PoolSchedule::day);
        std::vector<qint64> times;
        for (qint64 c = 0; c < count; ++c) {
            times.push_back(at);
            at = works ? at + 30 * PoolSchedule::minute : at - PoolSchedule::recheckAfter(-int(count - c));
        }
        if (!works)
            std::reverse(times.begin(), times.end());
        int streak = 0;
        // The running totals, as the recording keeps them: a proxy here either always works or never does.
        qint64 soFar = 0;
        qint64 up = 0;
        for (const qint64 time : times) {
            up += works && soFar > 0 ? 2 * (time - times[size_t(soFar) - 1]) : 0;
            ++soFar;
            sqlite3_bind_int64(check, 8, soFar);
            sqlite3_bind_int64(check, 9, works ? soFar : 0);
            sqlite3_bind_int64(check, 10, up);
            const qint64 ms = 50 + qint64(random() % 2000);
            sqlite3_bind_int64(check, 1, p + 1);
            sqlite3_bind_int64(check, 2, time);
            sqlite3_bind_text(check, 3, works ? "working" : "timed out", -1, SQLITE_STATIC);
            sqlite3_bind_int64(check, 4, works ? 3 : 0);
            if (works) {
                sqlite3_bind_int64(check, 5, ms);
                sqlite3_bind_text(check, 6, "elite", -1, SQLITE_STATIC);
                sqlite3_bind_text(check, 7, "192.0.2.1", -1, SQLITE_STATIC);
            } else {
                for (int column = 5; column <= 7; ++column)
                    sqlite3_bind_null(check, column);
            }
            if (sqlite3_step(check) != SQLITE_DONE)
                qFatal("bench_pool: %s", sqlite3_errmsg(db));
            sqlite3_reset(check);
            streak = works ? streak + 1 : streak - 1;
        }
        made += count;
        const qint64 last = times.back();
        run(update, {p + 1, sqlite3_last_insert_rowid(db), last, works ? last : 0, streak, works ? 0 : times.front(),
                     last + PoolSchedule::recheckAfter(streak),
                     qint64(!works && PoolSchedule::retires(streak, times.front(), last))});
    }
    // Columns the generator had no value for are null, as the recording leaves them.
    execute(db, "UPDATE proxies SET last_worked = NULL WHERE last_worked = 0");
    execute(db, "UPDATE proxies SET failing_since = NULL WHERE failing_since = 0");
    for (sqlite3_stmt* statement : {source, proxy, harvest, fetch, given, check, update})
        sqlite3_finalize(statement);
    execute(db, "COMMIT");
    execute(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_close(db);
}

// The program itself, at the pool's "now"; its wall time in seconds.
double timeProgram(const QString& program, const QStringList& arguments, const QString& home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("SIEVRA_CLOCK"),
                       QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(Qt::ISODate));
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        qFatal("bench_pool: %s %s: %s", qPrintable(program), qPrintable(arguments.join(u' ')),
               process.readAllStandardError().constData());
    return double(timer.nsecsElapsed()) / 1e9;
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const auto option = [&arguments](const char* name, qint64 fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at >= 0 ? arguments.value(at + 1).toLongLong() : fallback;
    };
    const int proxies = int(option("--proxies", 1000000));
    const qint64 checks = option("--checks", 10000000);
    const qsizetype folderAt = arguments.indexOf(QStringLiteral("--folder"));
    QTemporaryDir folder(folderAt >= 0 ? arguments.value(folderAt + 1) + QStringLiteral("/bench_pool-XXXXXX")
                                       : QStringLiteral("/var/tmp/bench_pool-XXXXXX"));
    folder.setAutoRemove(!arguments.contains(QStringLiteral("--keep")));
    const QString path = QDir(folder.path()).filePath(QStringLiteral("pool.sqlite"));
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../sievra"));

    QElapsedTimer timer;
    timer.start();
    const qsizetype fromAt = arguments.indexOf(QStringLiteral("--from"));
    if (fromAt < 0) {
        generate(path, proxies, checks);
    } else {
        const QString from = arguments.value(fromAt + 1);
        if (!QFileInfo::exists(from))
            generate(from, proxies, checks);
        if (!QFile::copy(from, path))
            qFatal("bench_pool: cannot copy %s", qPrintable(from));
        // A copy of an earlier version is brought up to date first, as the first run that writes to it would.
        QString failure;
        if (!PoolStore::open(path, PoolStore::Access::Update, &failure))
            qFatal("bench_pool: %s", qPrintable(failure));
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const qint64 checkRows = single(db, "SELECT count(*) FROM checks");
    std::printf("generated %lld proxies, %lld checks, %lld sightings, %lld alive in %.0f s: %s\n",
                single(db, "SELECT count(*) FROM proxies"), checkRows,
                single(db, "SELECT sum(length(proxy_ids)) / 8 FROM fetches"),
                single(db, "SELECT count(*) FROM proxies WHERE streak > 0 AND last_checked >= 1796464800"),
                seconds(timer), qPrintable(path));

    // The floor: every check read once, as a query without its index would.
    timer.start();
    single(db, "SELECT sum(checked_at) FROM checks");
    const double scan = seconds(timer);
    const qint64 fileBytes = QFileInfo(path).size();
    const qint64 checkBytes = single(db, "SELECT sum(pgsize) FROM dbstat WHERE name IN ('checks', 'checks_of_proxy')");
    sqlite3_close(db);

    QTemporaryDir home;
    const double exportAlive =
        timeProgram(program, {QStringLiteral("--export"), QStringLiteral("--pool"), path}, home.path());
    const QString report = QDir(home.path()).filePath(QStringLiteral("sources.tsv"));
    const double sources = timeProgram(
        program, {QStringLiteral("--sources"), QStringLiteral("--pool"), path, QStringLiteral("--report"), report},
        home.path());

    QString failure;
    std::unique_ptr<PoolStore> pool = PoolStore::open(path, PoolStore::Access::Write, &failure);
    if (!pool)
        qFatal("bench_pool: %s", qPrintable(failure));
    std::vector<ProxyEndpoint> due;
    timer.start();
    pool->due(now, false, &due);
    const double choosing = seconds(timer);

    // A check of 20,000 proxies as bench_check makes it: 1,000 working, the rest failed; half of them known.
    std::vector<ProxyRecord> records(20000);
    for (int i = 0; i < 20000; ++i) {
        ProxyRecord& record = records[size_t(i)];
        const int p = i % 2 == 0 ? i * 37 % proxies : proxies + i;
        record.proxy.address = addressOf(p);
        record.proxy.port = quint16(1000 + p % 60000);
        record.result.outcome = i < 1000 ? CheckResult::Working : CheckResult::Refused;
        record.result.protocols = i < 1000 ? CheckResult::Http : 0;
        record.result.firstByteMs = i < 1000 ? 120 : -1;
        record.place.country = QStringLiteral("DE");
    }
    timer.start();
    if (!pool->recordSightings({}, now) || !pool->recordChecks(records, QStringLiteral("http://judge.example/"), now))
        qFatal("bench_pool: %s", qPrintable(pool->failure()));
    const double recordCheck = seconds(timer);

    // A harvest as bench_web's: 1,000 pages of 147 proxies each, half of them known to the pool.
    PoolHarvest harvest;
    harvest.started = now;
    harvest.ended = now;
    for (int page = 0; page < 1000; ++page) {
        PoolHarvest::Page made;
        made.url = QStringLiteral("http://bench%1.example/page%2").arg(page % 100).arg(page);
        made.outcome = QStringLiteral("ok");
        made.status = 200;
        made.proxies = 147;
        for (int i = 0; i < 147; ++i) {
            const int p = page * 147 + i;
            ProxyEndpoint endpoint;
            endpoint.address = addressOf(i % 2 == 0 ? p % proxies : proxies + 20000 + p);
            endpoint.port = quint16(1000 + p % 60000);
            made.texts += endpoint.addressText().toLatin1() + ':' + QByteArray::number(endpoint.port) + '\n';
        }
        harvest.pages.push_back(std::move(made));
    }
    timer.start();
    if (!pool->recordHarvest(harvest))
        qFatal("bench_pool: %s", qPrintable(pool->failure()));
    const double recordHarvest = seconds(timer);
    // The harvest's pages wait; the next run that reads or writes proxies takes them in.
    timer.start();
    if (!pool->takeInWaitingPages())
        qFatal("bench_pool: %s", qPrintable(pool->failure()));
    const double takeIn = seconds(timer);
    pool.reset();

    std::printf("full scan of the checks: %.3f s\n", scan);
    std::printf("export --alive (the program): %.3f s, %.2f× the scan\n", exportAlive, exportAlive / scan);
    std::printf("sources (the program): %.3f s, %.2f× the scan\n", sources, sources / scan);
    std::printf("choosing what is due: %.3f s for %zu proxies, %.2f× the scan\n", choosing, due.size(),
                choosing / scan);
    std::printf("recording a check of 20,000 proxies: %.3f s\n", recordCheck);
    std::printf("recording a harvest of 1,000 pages, 147,000 proxies: %.3f s\n", recordHarvest);
    std::printf("taking that harvest in, by the next run that reads or writes proxies: %.3f s\n", takeIn);
    std::printf("bytes per check: %.1f of the checks and their index, %.1f of the whole file (%.0f MB)\n",
                double(checkBytes) / double(checkRows), double(fileBytes) / double(checkRows), double(fileBytes) / 1e6);
    std::printf("bench_pool: export %.3f s, sources %.3f s, due %.3f s (full scan of the checks %.3f s)\n", exportAlive,
                sources, choosing, scan);
    return 0;
}
