// The pool: a real SQLite file in a temporary folder for every case. When proxies are due, when they are given up,
// how their uptime is counted, which an export lists and in what order, what each source is worth, which files are
// refused as pools, and writers that meet.
#include "pool/poolharvestrecorder.h"
#include "pool/poolschedule.h"
#include "pool/poolstore.h"
#include "pool/sqlitepool.h"
#include "pool/waitingtexts.h"
#include "tests/support/corekit.h"

#include <QHostAddress>

#include <sqlite3.h>

#include <thread>

Q_DECLARE_METATYPE(PoolFilter)

namespace {

// 2026-12-06T10:00:00Z
constexpr qint64 now = 1796551200;

ProxyEndpoint proxy(const QString& text)
{
    ProxyEndpoint endpoint;
    const QStringList parts = text.split(u':');
    endpoint.address = QHostAddress(parts.at(0)).toIPv4Address();
    endpoint.port = quint16(parts.at(1).toUInt());
    return endpoint;
}

struct Checked
{
    QString proxy;
    CheckResult::Outcome outcome = CheckResult::Working;
    int protocols = CheckResult::Http;
    int ms = 100;
    CheckResult::Anonymity anonymity = CheckResult::Elite;
    QString country;
    QString exitCountry;
};

// A proxy checked without places.
Checked plain(const QString& text, CheckResult::Outcome outcome = CheckResult::Working)
{
    Checked checked;
    checked.proxy = text;
    checked.outcome = outcome;
    return checked;
}

ProxyRecord recordOf(const Checked& checked)
{
    ProxyRecord record;
    record.proxy = proxy(checked.proxy);
    record.result.outcome = checked.outcome;
    if (checked.outcome == CheckResult::Working) {
        record.result.protocols = checked.protocols;
        record.result.firstByteMs = checked.ms;
        record.result.anonymity = checked.anonymity;
        record.result.seenAddress = u"192.0.2.1"_s;
    }
    record.place.country = checked.country;
    record.exit.country = checked.exitCountry;
    return record;
}

// "300f 60w": a failed check 300 minutes before now, then one that worked 60 minutes before; "seen" a sighting now;
// "30s" the local proxy's failure through it 30 minutes before.
void replay(PoolStore& pool, const ProxyEndpoint& endpoint, const QString& history)
{
    for (const QString& step : history.split(u' ', Qt::SkipEmptyParts)) {
        if (step == "seen"_L1) {
            QVERIFY(pool.recordSightings({endpoint}, now));
            continue;
        }
        // A harvest started that many minutes ago; its page waits until the next call takes it in.
        if (step.startsWith("page"_L1)) {
            PoolHarvest harvest;
            harvest.started = harvest.ended = now - step.mid(4).toLongLong() * 60;
            PoolHarvest::Page page;
            page.url = u"http://a.example/"_s;
            page.outcome = u"ok"_s;
            page.proxies = 1;
            page.texts = endpoint.addressText().toLatin1() + ':' + QByteArray::number(endpoint.port) + '\n';
            harvest.pages = {page};
            QVERIFY(pool.recordHarvest(harvest));
            continue;
        }
        if (step.endsWith(u's')) {
            QVERIFY(pool.recordServeFailure(endpoint, u"no answer in time"_s, now - step.chopped(1).toLongLong() * 60));
            continue;
        }
        ProxyRecord record;
        record.proxy = endpoint;
        record.result.outcome = step.endsWith(u'w') ? CheckResult::Working : CheckResult::TimedOut;
        QVERIFY(pool.recordChecks({record}, u"http://judge.example/"_s, now - step.chopped(1).toLongLong() * 60));
    }
}

QStringList addresses(const std::vector<ProxyRecord>& records)
{
    QStringList texts;
    for (const ProxyRecord& record : records)
        texts << record.proxy.addressText();
    return texts;
}

// One number from a query on the file, through a connection of its own.
qint64 count(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

bool execute(const QString& path, const char* sql, sqlite3** keep = nullptr)
{
    sqlite3* db = nullptr;
    const bool done = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (keep)
        *keep = db;
    else
        sqlite3_close(db);
    return done;
}

} // namespace

class PoolTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QString failure;
        m_pool = PoolStore::open(path(), PoolStore::Access::Write, &failure);
        QVERIFY2(m_pool, qPrintable(failure));
        QVERIFY(m_pool->recordSightings({proxy(u"10.0.0.1:80"_s)}, now - 20 * PoolSchedule::day));
    }

    void cleanup()
    {
        m_pool.reset();
        m_folder.reset();
    }

    // What a recheck at `now` picks after these checks of one proxy, seen 20 days before.
    void schedule_data()
    {
        QTest::addColumn<QString>("history"); // minutes before now, f: failed, w: worked
        QTest::addColumn<QString>("state");   // due, waiting or retired

        QTest::newRow("never checked") << ""
                                       << "due";
        QTest::newRow("worked 29 minutes ago") << "29w"
                                               << "waiting";
        QTest::newRow("worked 30 minutes ago") << "30w"
                                               << "due";
        QTest::newRow("failed 59 minutes ago") << "59f"
                                               << "waiting";
        QTest::newRow("failed an hour ago") << "60f"
                                            << "due";
        QTest::newRow("third failure in a row, 3 h 59 ago") << "400f 300f 239f"
                                                            << "waiting";
        QTest::newRow("third failure in a row, 4 h ago") << "400f 300f 240f"
                                                         << "due";
        QTest::newRow("failures after a working check count anew") << "900f 800f 700f 600w 59f"
                                                                   << "waiting";
        QTest::newRow("ten failures wait 24 h, not less")
            << "2800f 2700f 2600f 2500f 2400f 2300f 2200f 2100f 2000f 1439f"
            << "waiting";
        QTest::newRow("ten failures wait 24 h, not more")
            << "2800f 2700f 2600f 2500f 2400f 2300f 2200f 2100f 2000f 1440f"
            << "due";
        QTest::newRow("seven failures over seven days") << "10140f 8000f 6000f 4000f 3000f 2000f 60f"
                                                        << "retired";
        QTest::newRow("seven failures, a minute short of seven days") << "10139f 8000f 6000f 4000f 3000f 2000f 60f"
                                                                      << "waiting";
        QTest::newRow("six failures over eight days") << "11580f 8000f 6000f 4000f 2000f 1440f"
                                                      << "due";
        QTest::newRow("eight failures, the first seven over seven days")
            << "11520f 10000f 8000f 6000f 4000f 3000f 1440f 1430f"
            << "retired";
        QTest::newRow("a check that worked between") << "11520f 10000f 8000f 6000f 4000f 3000f 2000w 1440f 1430f"
                                                     << "due";
        QTest::newRow("retired, then seen again") << "10140f 8000f 6000f 4000f 3000f 2000f 60f seen"
                                                  << "due";
        QTest::newRow("retired, then on a harvest's page") << "10140f 8000f 6000f 4000f 3000f 2000f 60f page30"
                                                           << "due";
        // A harvest that ran beside the recheck that retired the proxy saw it before that check.
        QTest::newRow("on a page of a harvest started before the check that retired it")
            << "10140f 8000f 6000f 4000f 3000f 2000f 60f page61"
            << "retired";
        QTest::newRow("never checked, on a harvest's page") << "page5"
                                                            << "due";
        // The local proxy's failures make a proxy due, and no more.
        QTest::newRow("worked, then failed the local proxy") << "10w 5s"
                                                             << "due";
        QTest::newRow("failed the local proxy, then worked") << "10s 5w"
                                                             << "waiting";
        QTest::newRow("the local proxy's failures retire nothing") << "10140f 8000f 6000f 4000f 3000f 2000s 1000s 60s"
                                                                   << "due";
    }

    void schedule()
    {
        QFETCH(QString, history);
        QFETCH(QString, state);
        const ProxyEndpoint endpoint = proxy(u"10.0.0.1:80"_s);
        replay(*m_pool, endpoint, history);

        std::vector<ProxyEndpoint> due;
        QVERIFY(m_pool->due(now, false, &due));
        QCOMPARE(due.size(), size_t(state == "due"_L1));
        std::vector<ProxyEndpoint> all;
        QVERIFY(m_pool->due(now, true, &all));
        QCOMPARE(all.size(), size_t(state != "retired"_L1));
        PoolFilter everyOne;
        everyOne.aliveOnly = false;
        std::vector<ProxyRecord> exported;
        QVERIFY(m_pool->proxies(everyOne, now, &exported));
        QCOMPARE(exported.size(), size_t(state != "retired"_L1));
    }

    // A proxy's history as an export gives it.
    void history_data()
    {
        QTest::addColumn<QString>("history");
        QTest::addColumn<double>("uptime");
        QTest::addColumn<int>("checks");
        QTest::addColumn<int>("worked");
        QTest::addColumn<int>("streak");

        QTest::newRow("never checked") << "" << -1.0 << 0 << 0 << 0;
        QTest::newRow("one check that worked") << "60w" << 100.0 << 1 << 1 << 1;
        QTest::newRow("worked, then failed") << "120w 60f" << 25.0 << 2 << 1 << -1;
        QTest::newRow("failed, then worked") << "120f 60w" << 75.0 << 2 << 1 << 1;
        QTest::newRow("a check at this moment") << "0f" << 0.0 << 1 << 0 << -1;
        QTest::newRow("since its first check, when later") << "1000w 500f 100w" << 55.0 << 3 << 2 << 1;
        // 10 and 3 days before: half up from the start of the 7 days to the second check, up since.
        QTest::newRow("the check before the 7 days starts the first stretch") << "14400f 4320w" << 71.4 << 1 << 1 << 1;
        QTest::newRow("only checks before the 7 days") << "20000w 14400w" << 100.0 << 0 << 0 << 2;
        QTest::newRow("by time, not by count") << "600w 590w 580w 570w 560f" << 5.8 << 5 << 4 << -1;
        QTest::newRow("a failing streak") << "300w 200f 100f 50f" << 16.7 << 4 << 1 << -3;
        // Runs that overlap record an older check after a newer one: history, in time order, not the proxy's state.
        QTest::newRow("an older check recorded late") << "60w 300f 200w" << 83.3 << 3 << 2 << 1;
        QTest::newRow("an older check recorded late, before the 7 days")
            << "4320w 14400f 12000w" << 100.0 << 1 << 1 << 1;
        QTest::newRow("an older check recorded late, between two") << "600w 400f 500f" << 8.3 << 3 << 1 << -1;
        // Two checks in one second are taken in the order they were recorded.
        QTest::newRow("two checks in one second") << "100w 100f 50f" << 0.0 << 3 << 1 << -2;
        QTest::newRow("a check at the start of the 7 days") << "10080w 10080f 5000w" << 74.8 << 3 << 2 << 1;
        // Only the judge's checks count.
        QTest::newRow("the local proxy's failures") << "120w 90s 60f 30s" << 25.0 << 2 << 1 << -1;
        QTest::newRow("the local proxy's failure first") << "1100s 1000w 500f 100w" << 55.0 << 3 << 2 << 1;
        QTest::newRow("the local proxy's failure before the 7 days") << "14400f 12000s 4320w" << 71.4 << 1 << 1 << 1;
        QTest::newRow("an older check recorded late past a failure of the local proxy")
            << "60w 250s 300f 200w" << 83.3 << 3 << 2 << 1;
    }

    void history()
    {
        QFETCH(QString, history);
        QFETCH(double, uptime);
        QFETCH(int, checks);
        QFETCH(int, worked);
        QFETCH(int, streak);
        replay(*m_pool, proxy(u"10.0.0.1:80"_s), history);

        PoolFilter everyOne;
        everyOne.aliveOnly = false;
        std::vector<ProxyRecord> exported;
        QVERIFY(m_pool->proxies(everyOne, now, &exported));
        QCOMPARE(exported.size(), size_t(1));
        const ProxyRecord::History& found = *exported.front().history;
        QCOMPARE(found.uptime7d, uptime);
        QCOMPARE(found.checks7d, checks);
        QCOMPARE(found.worked7d, worked);
        QCOMPARE(found.streak, streak);
        QCOMPARE(found.firstSeen, now - 20 * PoolSchedule::day);
        // A check older than the latest recorded leaves the proxy's state alone.
        qint64 lastChecked = -1;
        qint64 lastWorked = -1;
        for (const QString& step : history.split(u' ', Qt::SkipEmptyParts)) {
            const qint64 at = now - step.chopped(1).toLongLong() * 60;
            if (at < lastChecked || step.endsWith(u's'))
                continue;
            lastChecked = at;
            if (step.endsWith(u'w'))
                lastWorked = at;
        }
        QCOMPARE(found.lastChecked, lastChecked);
        QCOMPARE(found.lastWorked, lastWorked);
    }

    // A pool of version 1, its checks written as that version wrote them, answers the export as it did before, and
    // its checks carry the totals a pool of version 2 gives them.
    void migratedFromVersion1_data() { history_data(); }

    void migratedFromVersion1()
    {
        QFETCH(QString, history);
        QFETCH(double, uptime);
        QFETCH(int, checks);
        QFETCH(int, worked);
        if (history.contains(u's'))
            QSKIP("a pool of version 1 holds no failure of the local proxy");
        replay(*m_pool, proxy(u"10.0.0.1:80"_s), history);

        const QString old = QDir(m_folder->path()).filePath(u"old.sqlite"_s);
        QByteArray sql = SqlitePool::migration(0);
        sql += "PRAGMA user_version = 1;"
               "INSERT INTO judges (url) VALUES ('http://judge.example/');"
               "INSERT INTO proxies (address, port, user, password, first_seen, last_seen, due) "
               "VALUES (167772161, 80, x'', x'', @F, @F, 0);";
        for (const QString& step : history.split(u' ', Qt::SkipEmptyParts))
            sql += "INSERT INTO checks (proxy_id, checked_at, judge_id, outcome, protocols) VALUES (1, " +
                   QByteArray::number(now - step.chopped(1).toLongLong() * 60) + ", 1, '" +
                   (step.endsWith(u'w') ? "working" : "timed out") + "', 0);";
        sql += "UPDATE proxies SET last_check_id = (SELECT id FROM checks ORDER BY checked_at DESC, id DESC LIMIT 1), "
               "last_checked = (SELECT max(checked_at) FROM checks);";
        QVERIFY(execute(old, sql.replace("@F", QByteArray::number(now - 20 * PoolSchedule::day)).constData()));

        QString failure;
        QVERIFY(!PoolStore::open(old, PoolStore::Access::Read, &failure));
        std::unique_ptr<PoolStore> migrated = PoolStore::open(old, PoolStore::Access::Write, &failure);
        QVERIFY2(migrated, qPrintable(failure));
        QCOMPARE(count(old, "PRAGMA user_version"), qint64(SqlitePool::schemaVersion));
        PoolFilter everyOne;
        everyOne.aliveOnly = false;
        std::vector<ProxyRecord> exported;
        QVERIFY(migrated->proxies(everyOne, now, &exported));
        QCOMPARE(exported.size(), size_t(1));
        const ProxyRecord::History& found = *exported.front().history;
        QCOMPARE(found.uptime7d, uptime);
        QCOMPARE(found.checks7d, checks);
        QCOMPARE(found.worked7d, worked);

        // Every check's totals, weighed by its id so that totals given to the wrong check show.
        const char* totals = "SELECT coalesce(sum(id * ((checks_so_far * 1000 + worked_so_far) * 1000003 + "
                             "up_so_far)), 0) FROM checks";
        QCOMPARE(count(old, totals), count(path(), totals));
    }

    // A pool of version 3, as that version wrote a harvest and its checks: a page's sightings a row each, every
    // proxy in the index of what is due. Brought up to date, it tells the same sources and picks the same proxies.
    void migratedFromVersion3()
    {
        const QString old = QDir(m_folder->path()).filePath(u"v3.sqlite"_s);
        QByteArray sql = QByteArray(SqlitePool::migration(0)) + SqlitePool::migration(1) + SqlitePool::migration(2);
        sql += "PRAGMA user_version = 3;"
               "INSERT INTO sources (id, url) VALUES (1, 'http://b.example/'), (2, 'http://a.example/');"
               "INSERT INTO harvests (id, run_stamp, started, ended) VALUES (1, 1, @F, @F);"
               "INSERT INTO fetches (id, harvest_id, source_id, outcome, status, bytes, ms, proxies, proxy_set) "
               "VALUES (1, 1, 2, 'ok', 200, 100, 5, 3, 77), (2, 1, 1, 'timed out', NULL, 0, 5, 0, NULL);"
               "INSERT INTO proxies (id, address, port, user, password, first_seen, last_seen, due) VALUES "
               "(1, 167772162, 80, x'', x'', @F, @F, @F), (2, 167772161, 8080, x'75', x'70', @F, @F, @F), "
               "(3, 167772163, 80, x'', x'', @F, @F, @F);"
               "INSERT INTO sightings (fetch_id, proxy_id) VALUES (1, 1), (1, 2), (1, 3);"
               "INSERT INTO source_proxies (source_id, proxy_id) VALUES (2, 1), (2, 2), (2, 3);"
               "INSERT INTO judges (url) VALUES ('http://judge.example/');"
               "INSERT INTO checks (proxy_id, checked_at, judge_id, outcome, protocols, first_byte_ms, "
               "checks_so_far, worked_so_far) VALUES (1, @C, 1, 'working', 1, 90, 1, 1), "
               "(2, @C, 1, 'timed out', 0, NULL, 1, 0);"
               "UPDATE proxies SET last_check_id = 1, last_checked = @C, last_worked = @C, streak = 1, due = @N "
               "WHERE id = 1;"
               "UPDATE proxies SET last_check_id = 2, last_checked = @C, streak = -1, failing_since = @C, due = @D "
               "WHERE id = 2;";
        sql.replace("@F", QByteArray::number(now - 2 * PoolSchedule::day))
            .replace("@C", QByteArray::number(now - PoolSchedule::hour))
            .replace("@N", QByteArray::number(now + PoolSchedule::hour))
            .replace("@D", QByteArray::number(now - 60));
        QVERIFY(execute(old, sql.constData()));

        QString failure;
        std::unique_ptr<PoolStore> pool = PoolStore::open(old, PoolStore::Access::Write, &failure);
        QVERIFY2(pool, qPrintable(failure));
        QCOMPARE(count(old, "PRAGMA user_version"), qint64(SqlitePool::schemaVersion));
        std::vector<ProxyEndpoint> due;
        QVERIFY(pool->due(now, false, &due));
        QCOMPARE(due.size(), size_t(2));
        QCOMPARE(due[0].addressText(), u"10.0.0.3"_s);
        QCOMPARE(due[1].user, QByteArray("u"));
        const auto report = [&] {
            std::vector<PoolSource> found;
            [&] { QVERIFY(pool->sources(now, &found)); }();
            PoolSource::sort(&found);
            return QString::fromUtf8(PoolSource::report(found)).split(u'\n').mid(1);
        };
        QCOMPARE(report(), (QStringList{"http://a.example/\t1\t2026-12-04T10:00:00Z\tok\t3\t3\t3\t1\t1\t"
                                        "2026-12-04T10:00:00Z",
                                        "http://b.example/\t1\t2026-12-04T10:00:00Z\ttimed out\t0\t0\t0\t0\t0\t", ""}));

        // The next harvest of a: one proxy known, one new.
        PoolHarvest::Page page;
        page.url = u"http://a.example/"_s;
        page.outcome = u"ok"_s;
        page.status = 200;
        page.proxies = 2;
        page.texts = "10.0.0.3:80\n10.0.0.9:80\n";
        PoolHarvest harvest;
        harvest.runStamp = 2;
        harvest.started = harvest.ended = now - 30 * PoolSchedule::minute;
        harvest.pages = {page};
        QVERIFY(pool->recordHarvest(harvest));
        QCOMPARE(report().first(), u"http://a.example/\t2\t2026-12-06T09:30:00Z\tok\t2\t4\t1\t1\t1\t"
                                   u"2026-12-06T09:30:00Z"_s);
        QCOMPARE(count(old, "SELECT count(*) FROM proxies"), qint64(4));
    }

    // A proxy is one row by its address, port, user and password, whether a page, a check list or a check names it;
    // it keeps the scheme a page or a list stated last.
    void proxyIdentity_data()
    {
        // "[scheme://][user:password@]address:port", by a page, a list, a check in turn
        QTest::addColumn<QStringList>("named");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QByteArray>("scheme"); // that the last one named keeps
        QTest::newRow("the same, three times")
            << QStringList{"10.0.0.7:80", "10.0.0.7:80", "10.0.0.7:80"} << 1 << QByteArray();
        QTest::newRow("another port") << QStringList{"10.0.0.7:80", "10.0.0.7:81"} << 2 << QByteArray();
        QTest::newRow("credentials and none") << QStringList{"10.0.0.7:80", "u:p@10.0.0.7:80"} << 2 << QByteArray();
        QTest::newRow("the same credentials, three times")
            << QStringList{"u:p@10.0.0.7:80", "u:p@10.0.0.7:80", "u:p@10.0.0.7:80"} << 1 << QByteArray();
        QTest::newRow("another password") << QStringList{"u:p@10.0.0.7:80", "u:q@10.0.0.7:80"} << 2 << QByteArray();
        QTest::newRow("another user") << QStringList{"u:p@10.0.0.7:80", "v:p@10.0.0.7:80"} << 2 << QByteArray();
        QTest::newRow("the same letters, split elsewhere")
            << QStringList{"ab:c@10.0.0.7:80", "a:bc@10.0.0.7:80"} << 2 << QByteArray();
        QTest::newRow("a user alone, a password alone")
            << QStringList{"u:@10.0.0.7:80", ":u@10.0.0.7:80"} << 2 << QByteArray();
        QTest::newRow("a page's scheme, then none")
            << QStringList{"socks5://u:p@10.0.0.7:80", "u:p@10.0.0.7:80", "u:p@10.0.0.7:80"} << 1
            << QByteArray("socks5");
        QTest::newRow("a list's scheme after a page's")
            << QStringList{"socks5://10.0.0.7:80", "http://10.0.0.7:80"} << 1 << QByteArray("http");
        QTest::newRow("a page's scheme after a list's")
            << QStringList{"10.0.0.7:80", "socks4://10.0.0.7:80", "10.0.0.7:80", "https://10.0.0.7:80"} << 1
            << QByteArray("https");
    }

    void proxyIdentity()
    {
        QFETCH(QStringList, named);
        QFETCH(int, rows);
        QFETCH(QByteArray, scheme);
        const qint64 before = count(path(), "SELECT count(*) FROM proxies");
        const auto endpoint = [](QString text) {
            const qsizetype schemeEnd = text.indexOf(u"://"_s);
            const QByteArray stated = schemeEnd < 0 ? QByteArray() : text.left(schemeEnd).toLatin1();
            text = text.mid(schemeEnd < 0 ? 0 : schemeEnd + 3);
            const qsizetype at = text.lastIndexOf(u'@');
            ProxyEndpoint made = proxy(text.mid(at + 1));
            if (at >= 0) {
                const QString login = text.left(at);
                made.user = login.section(u':', 0, 0).toLatin1();
                made.password = login.section(u':', 1).toLatin1();
            }
            made.statedScheme = stated;
            return made;
        };
        for (qsizetype i = 0; i < named.size(); ++i) {
            const ProxyEndpoint given = endpoint(named[i]);
            if (i % 3 == 0) {
                PoolHarvest harvest;
                harvest.started = harvest.ended = now - 60;
                PoolHarvest::Page page;
                page.url = u"http://a.example/"_s;
                page.outcome = u"ok"_s;
                page.texts = named[i].toLatin1() + '\n';
                harvest.pages = {page};
                QVERIFY(m_pool->recordHarvest(harvest));
            } else if (i % 3 == 1) {
                QVERIFY(m_pool->recordSightings({given}, now - 30));
            } else {
                ProxyRecord record;
                record.proxy = given;
                record.result.outcome = CheckResult::Refused;
                QVERIFY(m_pool->recordChecks({record}, u"http://judge.example/"_s, now - 10));
            }
        }
        QCOMPARE(count(path(), "SELECT count(*) FROM proxies") - before, qint64(rows));

        // A check of the last named finds its row, and only that one works.
        ProxyRecord last;
        last.proxy = endpoint(named.last());
        last.result.outcome = CheckResult::Working;
        QVERIFY(m_pool->recordChecks({last}, u"http://judge.example/"_s, now));
        QCOMPARE(count(path(), "SELECT count(*) FROM proxies") - before, qint64(rows));
        std::vector<ProxyRecord> alive;
        QVERIFY(m_pool->proxies(PoolFilter(), now, &alive));
        QCOMPARE(alive.size(), size_t(1));
        QCOMPARE(alive[0].proxy.user, last.proxy.user);
        QCOMPARE(alive[0].proxy.password, last.proxy.password);
        QCOMPARE(alive[0].proxy.port, last.proxy.port);
        QCOMPARE(alive[0].proxy.statedScheme, scheme);
    }

    // The export's filters on one pool, and its order: uptime, then first-byte time, then address.
    void exportFilters_data()
    {
        QTest::addColumn<PoolFilter>("filter");
        QTest::addColumn<QStringList>("listed");

        const auto filter = [](auto change) {
            PoolFilter made;
            change(made);
            return made;
        };
        QTest::newRow("alive, the default") << PoolFilter() << QStringList{"10.0.0.1", "10.0.0.3", "10.0.0.2"};
        QTest::newRow("all") << filter([](PoolFilter& f) { f.aliveOnly = false; })
                             << QStringList{"10.0.0.5", "10.0.0.1", "10.0.0.3", "10.0.0.2", "10.0.0.4", "10.0.0.6"};
        QTest::newRow("min uptime") << filter([](PoolFilter& f) { f.minUptime = 80; })
                                    << QStringList{"10.0.0.1", "10.0.0.3"};
        QTest::newRow("min uptime, all") << filter([](PoolFilter& f) {
            f.minUptime = 0;
            f.aliveOnly = false;
        }) << QStringList{"10.0.0.5", "10.0.0.1", "10.0.0.3", "10.0.0.2", "10.0.0.4"};
        QTest::newRow("country") << filter([](PoolFilter& f) { f.countries = {"DE"}; })
                                 << QStringList{"10.0.0.1", "10.0.0.3"};
        QTest::newRow("countries") << filter([](PoolFilter& f) {
            f.countries = {"US", "DE"};
        }) << QStringList{"10.0.0.1", "10.0.0.3", "10.0.0.2"};
        QTest::newRow("exit country") << filter([](PoolFilter& f) { f.exitCountries = {"CA"}; })
                                      << QStringList{"10.0.0.2"};
        QTest::newRow("country and exit country") << filter([](PoolFilter& f) {
            f.countries = {"DE"};
            f.exitCountries = {"DE"};
        }) << QStringList{"10.0.0.3"};
        QTest::newRow("protocol") << filter([](PoolFilter& f) { f.protocols = CheckResult::Socks5; })
                                  << QStringList{"10.0.0.2"};
        QTest::newRow("protocols") << filter([](PoolFilter& f) {
            f.protocols = CheckResult::Connect | CheckResult::Socks4;
        }) << QStringList{"10.0.0.1"};
        QTest::newRow("anonymous or better") << filter([](PoolFilter& f) { f.anonymity = CheckResult::Anonymous; })
                                             << QStringList{"10.0.0.1", "10.0.0.2"};
        QTest::newRow("transparent or better") << filter([](PoolFilter& f) { f.anonymity = CheckResult::Transparent; })
                                               << QStringList{"10.0.0.1", "10.0.0.3", "10.0.0.2"};
        QTest::newRow("elite") << filter([](PoolFilter& f) { f.anonymity = CheckResult::Elite; })
                               << QStringList{"10.0.0.2"};
        QTest::newRow("max ms") << filter([](PoolFilter& f) { f.maxMs = 100; }) << QStringList{"10.0.0.1", "10.0.0.2"};
        QTest::newRow("all, country: a failed check keeps its places") << filter([](PoolFilter& f) {
            f.aliveOnly = false;
            f.countries = {"DE"};
        }) << QStringList{"10.0.0.1", "10.0.0.3", "10.0.0.4"};
        QTest::newRow("nothing matches") << filter([](PoolFilter& f) { f.countries = {"FR"}; }) << QStringList();
    }

    void exportFilters()
    {
        QFETCH(PoolFilter, filter);
        QFETCH(QStringList, listed);
        const QString judge = u"http://judge.example/"_s;
        const auto check = [&](qint64 minutesAgo, const Checked& checked) {
            QVERIFY(m_pool->recordChecks({recordOf(checked)}, judge, now - minutesAgo * 60));
        };
        QVERIFY(m_pool->recordSightings({proxy(u"10.0.0.6:80"_s)}, now));
        const Checked first = {"10.0.0.1:80", CheckResult::Working,   CheckResult::Http | CheckResult::Connect,
                               100,           CheckResult::Anonymous, "DE",
                               "CH"};
        check(120, first);
        check(60, first);
        check(120, {"10.0.0.2:80", CheckResult::Refused, 0, -1, CheckResult::Unknown, "US", ""});
        check(60, {"10.0.0.2:80", CheckResult::Working, CheckResult::Socks5, 50, CheckResult::Elite, "US", "CA"});
        check(60, {"10.0.0.3:80", CheckResult::Working, CheckResult::Http, 300, CheckResult::Transparent, "DE", "DE"});
        check(60, {"10.0.0.4:80", CheckResult::TimedOut, 0, -1, CheckResult::Unknown, "DE", ""});
        check(qint64(25) * 60,
              {"10.0.0.5:80", CheckResult::Working, CheckResult::Http, 20, CheckResult::Elite, "FR", "FR"});

        std::vector<ProxyRecord> exported;
        QVERIFY(m_pool->proxies(filter, now, &exported));
        QCOMPARE(addresses(exported), listed);
    }

    // Two harvests of three sources and checks between them: what each source has been worth after each.
    void sources()
    {
        const auto page = [](const char* url, const QStringList& proxies, const char* outcome = "ok") {
            PoolHarvest::Page made;
            made.url = QString::fromLatin1(url);
            made.outcome = QString::fromLatin1(outcome);
            made.failed = made.outcome != "ok"_L1;
            made.status = made.failed ? 0 : 200;
            made.proxies = int(proxies.size());
            for (const QString& text : proxies)
                made.texts += text.toLatin1() + '\n';
            return made;
        };
        // The pages written in as many calls as `cuts` makes of them, as a harvest written while it goes is.
        const auto harvest = [&](qint64 started, std::vector<PoolHarvest::Page> pages, size_t cut = 0) {
            PoolHarvest made;
            made.runStamp = quint32(started);
            made.started = started;
            made.ended = started + 10;
            qint64 id = -1;
            QVERIFY(m_pool->beginHarvest(made, &id));
            const size_t at = cut == 0 ? pages.size() : cut;
            QVERIFY(m_pool->recordPages(id, started, {pages.begin(), pages.begin() + qsizetype(at)}));
            QVERIFY(m_pool->recordPages(id, started, {pages.begin() + qsizetype(at), pages.end()}));
            QVERIFY(m_pool->endHarvest(id, made.ended));
        };
        const auto check = [&](qint64 at, const QStringList& working, const QStringList& failed) {
            std::vector<ProxyRecord> records;
            for (const QString& text : working)
                records.push_back(recordOf(plain(text)));
            for (const QString& text : failed)
                records.push_back(recordOf(plain(text, CheckResult::Refused)));
            QVERIFY(m_pool->recordChecks(records, u"http://judge.example/"_s, at));
        };
        const qint64 first = now - 2 * PoolSchedule::day;
        // 10.0.0.1 is in the pool from before (init).
        harvest(first, {page("http://a.example/", {"10.0.0.1:80", "10.0.0.2:80"}),
                        page("http://b.example/", {"10.0.0.2:80", "10.0.0.3:80"}),
                        page("http://c.example/", {"10.0.0.9:80"})});
        check(first + 60, {"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80"}, {"10.0.0.9:80"});
        // a's page comes in two pieces, as a large page is written, the second in a write of its own: one fetch of
        // the same set as before.
        PoolHarvest::Page firstPiece = page("http://a.example/", {"10.0.0.2:80"});
        PoolHarvest::Page lastPiece = page("http://a.example/", {"10.0.0.1:80"});
        firstPiece.more = true;
        firstPiece.proxies = lastPiece.proxies = 2;
        harvest(now - PoolSchedule::hour,
                {firstPiece, lastPiece, page("http://b.example/", {"10.0.0.3:80", "10.0.0.4:80"}),
                 page("http://c.example/", {}, "timed out")},
                1);
        check(now - 30 * PoolSchedule::minute, {"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80", "10.0.0.4:80"}, {});

        QCOMPARE(count(path(), "SELECT count(*) FROM fetches"), qint64(6));
        QCOMPARE(count(path(), "SELECT coalesce(sum(length(proxy_ids)), 0) / 8 FROM fetches"), qint64(9));

        std::vector<PoolSource> found;
        QVERIFY(m_pool->sources(now, &found));
        PoolSource::sort(&found);
        QCOMPARE(QString::fromUtf8(PoolSource::report(found)).split(u'\n'),
                 (QStringList{u"url\tharvests\tlast_fetched\tlast_outcome\tproxies_last\tdistinct_ever\t"_s +
                                  u"new_to_pool_last\talive_now\tunique_alive\tlast_changed"_s,
                              "http://b.example/\t2\t2026-12-06T09:00:00Z\tok\t2\t3\t1\t3\t2\t2026-12-06T09:00:00Z",
                              "http://a.example/\t2\t2026-12-06T09:00:00Z\tok\t2\t2\t0\t2\t1\t2026-12-04T10:00:00Z",
                              u"http://c.example/\t2\t2026-12-06T09:00:00Z\ttimed out\t0\t1\t0\t0\t0\t"_s +
                                  u"2026-12-04T10:00:00Z"_s,
                              ""}));
        // Kept: sources of which a proxy worked within the days asked.
        QStringList kept;
        QVERIFY(m_pool->worthySources(now - PoolSchedule::day, &kept));
        QCOMPARE(kept, (QStringList{"http://a.example/", "http://b.example/"}));
        kept.clear();
        QVERIFY(m_pool->worthySources(now - 3 * PoolSchedule::day, &kept));
        QCOMPARE(kept, (QStringList{"http://a.example/", "http://b.example/"}));
        kept.clear();
        QVERIFY(m_pool->worthySources(now, &kept));
        QCOMPARE(kept, QStringList());
    }

    // A harvest written while it goes: pages from the extraction's thread, a page of more proxies than a write
    // takes cut into pieces of one fetch, the pages that gave nothing and the end from the harvest's own thread.
    void harvestRecorder_largePageInPieces_oneFetch()
    {
        constexpr int large = int(PoolHarvestRecorder::batchProxies) * 2 + 5;
        PoolHarvest::Page big;
        big.url = u"http://big.example/"_s;
        big.outcome = u"ok"_s;
        big.status = 200;
        big.proxies = large;
        PoolHarvest::Page small = big;
        small.url = u"http://small.example/"_s;
        small.proxies = 1;
        PoolHarvest::Page empty = big;
        empty.url = u"http://empty.example/"_s;
        empty.proxies = 0;
        {
            PoolHarvestRecorder recorder(path(), RunClock(now), 7, now - 100);
            std::thread extraction([&] {
                recorder.addPage(big, (manyProxies(0, large).join(u'\n') + u'\n').toLatin1());
                recorder.addPage(small, "10.0.0.1:80\n");
            });
            extraction.join();
            recorder.finish({empty});
        }
        QCOMPARE(count(path(), u"SELECT count(*) FROM harvests WHERE started = %1 AND ended = %2"_s.arg(now - 100)
                                   .arg(now)
                                   .toLatin1()
                                   .constData()),
                 qint64(1));
        QCOMPARE(count(path(), "SELECT count(*) FROM fetches"), qint64(3));
        // The big page waits in pieces, and its fetch knows no set until a run takes them in.
        QVERIFY(count(path(), "SELECT count(*) FROM pages_waiting") > 3);
        QCOMPARE(count(path(), "SELECT count(*) FROM fetches WHERE proxy_set IS NOT NULL"), qint64(0));
        QVERIFY(m_pool->takeInWaitingPages());
        QCOMPARE(count(path(), "SELECT count(*) FROM pages_waiting"), qint64(0));
        QCOMPARE(count(path(), "SELECT count(*) FROM fetches WHERE proxy_set IS NOT NULL"), qint64(3));
        QCOMPARE(count(path(), "SELECT coalesce(sum(length(proxy_ids)), 0) / 8 FROM fetches"), qint64(large + 1));
        QCOMPARE(count(path(), "SELECT count(*) FROM proxies"), qint64(large + 1));
        QCOMPARE(count(path(), "SELECT proxies FROM fetches f JOIN sources s ON s.id = f.source_id WHERE s.url = "
                               "'http://big.example/'"),
                 qint64(large));
    }

    // A file that cannot serve as the pool is refused with one line naming it, and left exactly as it was.
    // A page's texts as they wait in the pool: read back byte for byte, an address and a port in 7 bytes.
    void waitingTexts_readBackAsWritten_data()
    {
        QTest::addColumn<QByteArray>("texts");
        QTest::addColumn<int>("packedSize"); // -1: not looked at

        QTest::newRow("addresses") << QByteArray("1.2.3.4:80\n255.255.255.255:65535\n0.0.0.0:0\n") << 1 + 3 * 7;
        QTest::newRow("leading zeros kept") << QByteArray("01.2.3.4:80\n1.2.3.4:080\n1.2.3.4:0\n") << -1;
        QTest::newRow("out of range") << QByteArray("256.1.1.1:80\n1.1.1.1:65536\n1.1.1.1:999999\n") << -1;
        QTest::newRow("credentials and schemes")
            << QByteArray("user:pass@1.2.3.4:80\nsocks5://1.2.3.4:1080\n1.2.3.4:80:user:pass\n") << -1;
        QTest::newRow("no line end at the end") << QByteArray("1.2.3.4:80\n5.6.7.8:8080") << -1;
        QTest::newRow("blank lines") << QByteArray("\n\n1.2.3.4:80\n\n") << 1 + 2 + 7 + 1;
        QTest::newRow("lines starting with the tags") << QByteArray("\x01"
                                                                    "1.2.3.4:80\n\x02x\n\x01\n")
                                                      << -1;
        QTest::newRow("a cut address") << QByteArray("1.2.3.4:\n1.2.3:80\n1.2.3.4.5:80\n.1.2.3:4\n") << -1;
        QTest::newRow("nothing") << QByteArray() << 0;
    }

    void waitingTexts_readBackAsWritten()
    {
        QFETCH(QByteArray, texts);
        QFETCH(int, packedSize);

        const QByteArray packed = WaitingTexts::packed(texts);
        QCOMPARE(WaitingTexts::unpacked(packed), texts);
        if (packedSize >= 0)
            QCOMPARE(packed.size(), qsizetype(packedSize));
        // A row of an earlier build holds the texts themselves.
        QCOMPARE(WaitingTexts::unpacked(texts), texts);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("file"); // what stands at the pool's path
        QTest::addColumn<int>("access");   // PoolStore::Access: a run that reads, writes to a pool, or makes one
        QTest::addColumn<QString>("line"); // @P@: the path

        QTest::newRow("missing, to read")
            << "missing" << int(PoolStore::Access::Read) << "there is no pool at @P@; a harvest or a check makes one.";
        QTest::newRow("folder missing") << "folder missing" << int(PoolStore::Access::Write)
                                        << "cannot open the pool @P@: its folder does not exist.";
        QTest::newRow("folder missing, to read") << "folder missing" << int(PoolStore::Access::Read)
                                                 << "there is no pool at @P@; a harvest or a check makes one.";
        QTest::newRow("not a database") << "text" << int(PoolStore::Access::Write)
                                        << "cannot open the pool @P@: file is not a database.";
        QTest::newRow("not a database, to read")
            << "text" << int(PoolStore::Access::Read) << "cannot open the pool @P@: file is not a database.";
        QTest::newRow("damaged") << "damaged" << int(PoolStore::Access::Write)
                                 << "cannot open the pool @P@: database disk image is malformed.";
        QTest::newRow("another program's database") << "other" << int(PoolStore::Access::Write)
                                                    << "cannot open the pool @P@: it is a database, but not a pool.";
        QTest::newRow("a later version") << "later" << int(PoolStore::Access::Write)
                                         << "the pool @P@ is of version 9, later than this program knows (5); it is "
                                            "left as it is.";
        QTest::newRow("a later version, to read") << "later" << int(PoolStore::Access::Read)
                                                  << "the pool @P@ is of version 9, later than this program knows (5); "
                                                     "it is left as it is.";
        QTest::newRow("an empty file, to read")
            << "empty" << int(PoolStore::Access::Read) << "there is no pool at @P@; a harvest or a check makes one.";
        QTest::newRow("missing, to update") << "missing" << int(PoolStore::Access::Update)
                                            << "there is no pool at @P@; a harvest or a check makes one.";
        QTest::newRow("an empty file, to update")
            << "empty" << int(PoolStore::Access::Update) << "there is no pool at @P@; a harvest or a check makes one.";
        QTest::newRow("a folder") << "folder" << int(PoolStore::Access::Write)
                                  << "cannot open the pool @P@: it is no file.";
    }

    void refused()
    {
        QFETCH(QString, file);
        QFETCH(int, access);
        QFETCH(QString, line);
        QString at = QDir(m_folder->path()).filePath(file == "folder missing"_L1 ? u"none/pool.sqlite"_s : file);
        if (file == "text"_L1)
            QVERIFY(writeFile(at, "url\tharvests\nhttp://a.example/\t1\n"));
        if (file == "empty"_L1)
            QVERIFY(writeFile(at, QByteArray()));
        if (file == "folder"_L1)
            QVERIFY(QDir().mkpath(at));
        if (file == "other"_L1)
            QVERIFY(execute(at, "CREATE TABLE notes (text TEXT)"));
        if (file == "later"_L1 || file == "damaged"_L1) {
            QString failure;
            QVERIFY2(PoolStore::open(at, PoolStore::Access::Write, &failure), qPrintable(failure));
            if (file == "later"_L1) {
                QVERIFY(execute(at, "PRAGMA user_version = 9"));
            } else {
                // The run that made it left its log beside it: copied in first, so that the damage is the file's.
                QVERIFY(execute(at, "PRAGMA wal_checkpoint(TRUNCATE)"));
                // Page 1 past the file's header: the schema's table no longer reads.
                QFile damage(at);
                QVERIFY(damage.open(QIODevice::ReadWrite));
                QVERIFY(damage.seek(100));
                QVERIFY(damage.write(QByteArray(400, '\xa5')) == 400);
            }
        }
        const QStringList before = QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden);
        const QByteArray bytes = readFile(at);

        QString failure;
        QVERIFY(!PoolStore::open(at, PoolStore::Access(access), &failure));
        QCOMPARE(failure, QString(line).replace("@P@"_L1, at));
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden), before);
        QCOMPARE(readFile(at), bytes);
    }

    // Another program holds the write lock for longer than a run waits at its start.
    void lockedPastTheWait_refusedToWrite_readable()
    {
        sqlite3* holder = nullptr;
        QVERIFY(execute(path(), "BEGIN IMMEDIATE", &holder));
        QElapsedTimer waited;
        waited.start();
        QString failure;
        QVERIFY(!PoolStore::open(path(), PoolStore::Access::Write, &failure));
        QVERIFY2(waited.elapsed() >= PoolStore::lockWaitMs - 100, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(failure, "cannot open the pool %1: another program held it locked for 10 s."_L1.arg(path()));
        // Readers do not wait for a writer.
        QVERIFY2(PoolStore::open(path(), PoolStore::Access::Read, &failure), qPrintable(failure));
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
    }

    // Writers on one file at once, each through its own connection, as runs of their own: every row lands.
    void writersAtOnce_loseNothing()
    {
        constexpr int writers = 8;
        constexpr int rounds = 10;
        constexpr int proxiesPerPage = 50;
        std::vector<std::thread> threads;
        threads.reserve(writers);
        std::atomic<int> failures{0};
        for (int w = 0; w < writers; ++w)
            threads.emplace_back([&, w] {
                QString failure;
                const std::unique_ptr<PoolStore> pool = PoolStore::open(path(), PoolStore::Access::Write, &failure);
                if (!pool)
                    return void(++failures);
                for (int round = 0; round < rounds; ++round) {
                    PoolHarvest harvest;
                    harvest.started = now + round;
                    harvest.ended = harvest.started;
                    PoolHarvest::Page page;
                    page.url = u"http://writer%1.example/"_s.arg(w);
                    page.outcome = u"ok"_s;
                    std::vector<ProxyRecord> records;
                    for (const QString& text : manyProxies(w * 1000 + round * proxiesPerPage, proxiesPerPage)) {
                        page.texts += text.toLatin1() + '\n';
                        records.push_back(recordOf(plain(text)));
                    }
                    harvest.pages.push_back(page);
                    if (!pool->recordHarvest(harvest) ||
                        !pool->recordChecks(records, u"http://judge.example/"_s, now + round)) {
                        qWarning("%s", qPrintable(pool->failure()));
                        ++failures;
                    }
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(count(path(), "SELECT count(*) FROM harvests"), qint64(writers * rounds));
        QCOMPARE(count(path(), "SELECT count(*) FROM fetches"), qint64(writers * rounds));
        QCOMPARE(count(path(), "SELECT coalesce(sum(length(proxy_ids)), 0) / 8 FROM fetches"),
                 qint64(writers * rounds * proxiesPerPage));
        QCOMPARE(count(path(), "SELECT count(*) FROM checks"), qint64(writers * rounds * proxiesPerPage));
        // 10.0.0.1 from init, and each writer's own.
        QCOMPARE(count(path(), "SELECT count(*) FROM proxies"), qint64(1 + writers * rounds * proxiesPerPage));
        QCOMPARE(count(path(), "SELECT count(*) FROM proxies WHERE streak = 1"),
                 qint64(writers * rounds * proxiesPerPage));
        QCOMPARE(count(path(), "PRAGMA user_version"), qint64(SqlitePool::schemaVersion));
        QCOMPARE(count(path(), "SELECT count(*) FROM pragma_journal_mode WHERE journal_mode = 'wal'"), qint64(1));
    }

private:
    QString path() const { return QDir(m_folder->path()).filePath(u"pool.sqlite"_s); }

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<PoolStore> m_pool;
};

QTEST_GUILESS_MAIN(PoolTest)
#include "tst_pool.moc"
