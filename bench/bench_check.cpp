// Proxy checking: 20,000 proxies on loopback, 5 % working, 5 % tarpits (the handshake is accepted, nothing is
// ever answered), the rest refused, in a fixed shuffled order. The checker at 256 checks at a time and a 2 s
// time-out, timed against the least any such checker can take (the tarpits alone, 256 at a time, each held for
// the time-out) and against `curl -x` through `xargs -P256` over the same proxies (HTTP only; some minutes, one
// process per check; `--no-curl` leaves it out, for profiling the checker). Then what the command line does at the
// end with a country and an ASN database of 100,000 networks each (written for the run by
// tests/support/write-mmdb.pl, which needs libmaxmind-db-writer-perl): the records of every proxy with their places,
// the JSON and CSV lists of the working ones and the report. `--pool FILE` then times the check alone and the check
// written into a copy of that pool as it goes (as the command line writes it), in turns, three times: a pool made
// by bench_pool is the one to name. Asserts nothing.
#include "check/checkreport.h"
#include "check/checkresult.h"
#include "check/geolookup.h"
#include "check/listformat.h"
#include "check/proxychecker.h"
#include "check/proxyendpoint.h"
#include "pool/poolcheckrecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUrl>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr int proxyCount = 20000;
constexpr int workingCount = proxyCount / 20;
constexpr int tarpitCount = proxyCount / 20;
constexpr int concurrency = 256;
constexpr int timeoutMs = 2000;
constexpr int geoNetworks = 100000;
const QByteArray marker = "sievra-bench-judge-7f3a";

enum class Kind { Working, Tarpit, Refused };

// The judge and every proxy that listens, in one thread with one epoll loop: a working proxy answers an HTTP
// proxy request with the judge's page and closes, and closes on anything else (a CONNECT, a SOCKS greeting);
// a tarpit takes the connection and reads what comes but never answers, until the other side gives up.
class ProxyFarm
{
public:
    enum Role { Judge, Working, Tarpit };

    ProxyFarm()
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_epoll >= 0 && m_wake >= 0)
            watch(m_wake);
        const QByteArray body = "<html><body><p>" + marker + "</p><p>REMOTE_ADDR = 127.0.0.1</p></body></html>\n";
        m_page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\n\r\n" + body;
    }

    ~ProxyFarm()
    {
        if (m_thread.joinable()) {
            const quint64 one = 1;
            if (::write(m_wake, &one, sizeof(one)) == sizeof(one))
                m_thread.join();
            else
                m_thread.detach();
        }
        for (const auto& [fd, peer] : m_peers)
            ::close(fd);
        ::close(m_wake);
        ::close(m_epoll);
    }

    ProxyFarm(const ProxyFarm&) = delete;
    ProxyFarm& operator=(const ProxyFarm&) = delete;

    // A listener on that loopback address, on a port the system picks; false when it cannot be made.
    bool listen(Role role, quint32 address, ProxyEndpoint* bound)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_in name{};
        name.sin_family = AF_INET;
        name.sin_addr.s_addr = htonl(address);
        socklen_t length = sizeof(name);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&name), sizeof(name)) != 0 || ::listen(fd, 1024) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&name), &length) != 0 || !watch(fd)) {
            ::close(fd);
            return false;
        }
        m_peers[fd] = Peer{role, true, QByteArray()};
        bound->address = address;
        bound->port = ntohs(name.sin_port);
        return true;
    }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }

private:
    struct Peer
    {
        Role role;
        bool listener;
        QByteArray request;
    };

    bool watch(int fd)
    {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = fd;
        return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0;
    }

    void drop(int fd)
    {
        m_peers.erase(fd);
        ::close(fd);
    }

    void run()
    {
        epoll_event events[256];
        for (;;) {
            const int count = ::epoll_wait(m_epoll, events, 256, -1);
            for (int i = 0; i < count; ++i) {
                const int fd = events[i].data.fd;
                if (fd == m_wake)
                    return;
                const auto peer = m_peers.find(fd);
                if (peer == m_peers.end())
                    continue;
                if (peer->second.listener)
                    acceptAll(fd, peer->second.role);
                else
                    serve(fd, peer->second);
            }
        }
    }

    void acceptAll(int listener, Role role)
    {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            if (!watch(fd)) {
                ::close(fd);
                continue;
            }
            m_peers[fd] = Peer{role, false, QByteArray()};
        }
    }

    void serve(int fd, Peer& peer)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                return drop(fd);
            if (got < 0)
                break;
            // A tarpit reads only so that it notices when the other side closes.
            if (peer.role != Tarpit)
                peer.request.append(buffer, got);
        }
        if (peer.role == Tarpit)
            return;
        // Through a proxy the request names the whole URL; straight to the judge, only the path.
        const QByteArray expected = peer.role == Working ? "GET http://" : "GET /";
        if (!expected.startsWith(peer.request.left(expected.size())))
            return drop(fd);
        if (!peer.request.contains("\r\n\r\n"))
            return;
        ::send(fd, m_page.constData(), size_t(m_page.size()), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        drop(fd);
    }

    int m_epoll = -1;
    int m_wake = -1;
    QByteArray m_page;
    std::unordered_map<int, Peer> m_peers;
    std::thread m_thread;
};

quint32 loopback(int kind, int n)
{
    // 127.<kind>.<n / 250>.<1..250>: no network or broadcast-looking last group.
    return (127u << 24) | (quint32(kind) << 16) | (quint32(n / 250) << 8) | quint32(n % 250 + 1);
}

void raiseFileLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

struct CheckRun
{
    double seconds = 0;
    int working = 0;
    bool judgeFailed = false;
    std::vector<CheckResult> results;
};

// With `recorder`, each proxy's record goes to the pool as its check ends, as the command line does, and the run
// ends once the last batch is written.
CheckRun runChecker(const std::vector<ProxyEndpoint>& proxies, const QUrl& judge, PoolCheckRecorder* recorder = nullptr,
                    const GeoLookup* geo = nullptr)
{
    CheckRun run;
    CProxyChecker checker;
    if (recorder)
        QObject::connect(&checker, &CProxyChecker::proxyChecked, recorder, [&](size_t index) {
            recorder->add(ProxyRecord::of(proxies[index], checker.results()[index], *geo, {}));
        });
    checker.setProxies(proxies);
    checker.setJudge(judge, marker);
    checker.setTimeout(timeoutMs);
    checker.setConcurrency(concurrency);
    QEventLoop loop;
    QObject::connect(&checker, &CProxyChecker::finished, &loop, &QEventLoop::quit);
    QObject::connect(&checker, &CProxyChecker::judgeFailed, &loop, [&](const QString& reason) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        run.judgeFailed = true;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    checker.start();
    loop.exec();
    if (recorder)
        recorder->finish(true);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.working = checker.working();
    run.results = checker.results();
    return run;
}

struct CurlRun
{
    double seconds = -1;
    int working = 0;
    std::unordered_set<QByteArray> workingProxies; // "a.b.c.d:port"
};

CurlRun runCurl(const std::vector<ProxyEndpoint>& proxies, const QUrl& judge)
{
    CurlRun run;
    QTemporaryDir work;
    QFile list(work.filePath(QStringLiteral("proxies.txt")));
    if (!list.open(QIODevice::WriteOnly))
        return run;
    for (const ProxyEndpoint& proxy : proxies)
        list.write("http://" + proxy.addressText().toLatin1() + ':' + QByteArray::number(proxy.port) + '\n');
    list.close();

    QProcess xargs;
    // A no_proxy naming loopback would send curl straight to the judge, and every proxy would seem to work.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY", "http_proxy"})
        environment.remove(QString::fromLatin1(name));
    xargs.setProcessEnvironment(environment);
    xargs.setStandardInputFile(list.fileName());
    xargs.setStandardOutputFile(work.filePath(QStringLiteral("out.txt")));
    xargs.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    xargs.start(QStringLiteral("xargs"),
                {QStringLiteral("-P%1").arg(concurrency), QStringLiteral("-I{}"), QStringLiteral("curl"),
                 QStringLiteral("-x"), QStringLiteral("{}"), QStringLiteral("-m"), QString::number(timeoutMs / 1000),
                 QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
                 QStringLiteral("%{http_code} {}\\n"), judge.toString()});
    if (!xargs.waitForFinished(-1))
        return run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    QFile out(work.filePath(QStringLiteral("out.txt")));
    if (!out.open(QIODevice::ReadOnly))
        return run;
    for (const QByteArray& line : out.readAll().split('\n')) {
        if (line.startsWith("200 http://")) {
            ++run.working;
            run.workingProxies.insert(line.mid(11));
        }
    }
    return run;
}

// A country and an ASN database of `geoNetworks` networks each: every /24 of 127.0.0.0/8, where the proxies are,
// and the rest from 1.0.0.0 on, each with a country and network of its own so that the writer merges none.
bool writeDatabases(const QTemporaryDir& folder)
{
    QByteArray networks;
    for (int i = 0; i < geoNetworks; ++i) {
        const quint32 base = i < 65536 ? (127u << 24) | (quint32(i) << 8) : (1u << 24) + (quint32(i - 65536) << 8);
        const char country[3] = {char('A' + i % 26), char('A' + (i / 26) % 26), 0};
        networks += ProxyEndpoint{base, 0}.addressText().toLatin1() + "/24\t" + country + '\t' +
                    QByteArray::number(64512 + i % 1000) + "\tNetwork " + QByteArray::number(i) + ", Ltd.\n";
    }
    const std::pair<const char*, const char*> databases[] = {{"GeoLite2-Country", "country.mmdb"},
                                                             {"GeoLite2-ASN", "asn.mmdb"}};
    for (const auto& [type, name] : databases) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QStringLiteral("perl"), {QStringLiteral(SIEVRA_WRITE_MMDB), QString::fromLatin1(type),
                                              folder.filePath(QString::fromLatin1(name))});
        writer.write(networks);
        writer.closeWriteChannel();
        if (!writer.waitForFinished(-1) || writer.exitStatus() != QProcess::NormalExit || writer.exitCode() != 0)
            return false;
    }
    return true;
}

// The checks of `judge` that `path` holds; -1 when it cannot be read.
qint64 checksOf(const QString& path, const QString& judge)
{
    sqlite3* db = nullptr;
    qint64 count = -1;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT count(*) FROM checks WHERE judge_id = (SELECT id FROM judges WHERE url = ?1)",
                           -1, &statement, nullptr) == SQLITE_OK) {
        const QByteArray url = judge.toUtf8();
        sqlite3_bind_text(statement, 1, url.constData(), int(url.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
}

// The check alone and the check recorded as it goes into a copy of `pool` (made outside the time), in turns,
// `rounds` times: what the pool adds to a check's time.
bool comparePool(const std::vector<ProxyEndpoint>& proxies, const QUrl& judge, const GeoLookup& geo,
                 const QString& pool, int rounds)
{
    std::vector<double> alone;
    std::vector<double> recorded;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir folder(QFileInfo(pool).absolutePath() + QStringLiteral("/bench_check-XXXXXX"));
        const QString copy = folder.filePath(QStringLiteral("pool.sqlite"));
        if (!QFile::copy(pool, copy)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(pool));
            return false;
        }
        alone.push_back(runChecker(proxies, judge).seconds);
        bool missed = false;
        {
            PoolCheckRecorder recorder(copy, judge.toString(), RunClock());
            const auto miss = [&missed](const QString& failure) {
                std::fprintf(stderr, "the pool missed: %s\n", qPrintable(failure));
                missed = true;
            };
            QObject::connect(&recorder, &PoolCheckRecorder::missed,
                             [&miss](const QString&, const QString& failure) { miss(failure); });
            QObject::connect(&recorder, &PoolCheckRecorder::openFailed, miss);
            recorded.push_back(runChecker(proxies, judge, &recorder, &geo).seconds);
        }
        const qint64 checks = checksOf(copy, judge.toString());
        if (missed || checks != qint64(proxies.size())) {
            std::fprintf(stderr, "the pool holds %lld checks of this judge, not %zu\n", qlonglong(checks),
                         proxies.size());
            return false;
        }
        std::printf("round %d: check %.2f s, check recorded as it goes %.2f s (%+.1f %%), %lld checks in the pool\n",
                    round + 1, alone.back(), recorded.back(), (recorded.back() / alone.back() - 1) * 100,
                    qlonglong(checks));
    }
    std::sort(alone.begin(), alone.end());
    std::sort(recorded.begin(), recorded.end());
    const double median = alone[alone.size() / 2];
    const double medianRecorded = recorded[recorded.size() / 2];
    std::printf("the pool %s: check %.2f s, recorded %.2f s, medians of %d; the pool adds %+.1f %% (target 5 %%)\n",
                qPrintable(pool), median, medianRecorded, rounds, (medianRecorded / median - 1) * 100);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    raiseFileLimit();
    QCoreApplication application(argc, argv);

    ProxyFarm farm;
    ProxyEndpoint judgeAt;
    if (!farm.listen(ProxyFarm::Judge, INADDR_LOOPBACK, &judgeAt)) {
        std::fprintf(stderr, "no loopback judge\n");
        return 1;
    }
    const QUrl judge(QStringLiteral("http://127.0.0.1:%1/judge").arg(judgeAt.port));

    // The three kinds in a fixed shuffled order, so the tarpits are spread through the list.
    std::vector<Kind> kinds(proxyCount, Kind::Refused);
    std::fill_n(kinds.begin(), workingCount, Kind::Working);
    std::fill_n(kinds.begin() + workingCount, tarpitCount, Kind::Tarpit);
    std::shuffle(kinds.begin(), kinds.end(), std::mt19937(20121203));

    std::vector<ProxyEndpoint> proxies(proxyCount);
    int made[3] = {};
    for (int i = 0; i < proxyCount; ++i) {
        const int kind = int(kinds[i]);
        const quint32 address = loopback(kind + 1, made[kind]++);
        if (kinds[i] == Kind::Refused) {
            // Only 127.0.0.1 listens on the judge's port.
            proxies[i] = ProxyEndpoint{address, judgeAt.port};
        } else if (!farm.listen(kinds[i] == Kind::Working ? ProxyFarm::Working : ProxyFarm::Tarpit, address,
                                &proxies[i])) {
            std::fprintf(stderr, "cannot listen on %s: %s\n", qPrintable((ProxyEndpoint{address, 0}).addressText()),
                         std::strerror(errno));
            return 1;
        }
    }
    farm.start();

    const CheckRun ours = runChecker(proxies, judge);
    if (ours.judgeFailed)
        return 1;
    int found[3] = {};    // proxies of each kind that got the outcome that kind should get
    int expected[3] = {}; // proxies of each kind
    const CheckResult::Outcome outcomes[3] = {CheckResult::Working, CheckResult::TimedOut, CheckResult::Refused};
    std::unordered_set<QByteArray> workingProxies;
    for (int i = 0; i < proxyCount; ++i) {
        const int kind = int(kinds[i]);
        ++expected[kind];
        found[kind] += ours.results[size_t(i)].outcome == outcomes[kind] ? 1 : 0;
        if (kinds[i] == Kind::Working)
            workingProxies.insert(proxies[size_t(i)].addressText().toLatin1() + ':' +
                                  QByteArray::number(proxies[size_t(i)].port));
    }
    std::printf("%d proxies (%d working, %d tarpits, %d refused), %d at a time, %d s time-out\n", proxyCount,
                expected[0], expected[1], expected[2], concurrency, timeoutMs / 1000);
    std::printf("checker: %.2f s, %d working; %d of %d working proxies working, %d of %d tarpits timed out, "
                "%d of %d refused ones refused\n",
                ours.seconds, ours.working, found[0], expected[0], found[1], expected[1], found[2], expected[2]);
    if (ours.working != workingCount || found[0] != expected[0] || found[1] != expected[1] || found[2] != expected[2])
        std::printf("warning: the checker's outcomes differ from what the proxies are\n");

    const int rounds = (tarpitCount + concurrency - 1) / concurrency;
    const double floor = rounds * timeoutMs / 1000.0;
    std::printf("floor: ceil(%d tarpits / %d) x %d s = %.2f s; checker %.2f s, %.2fx the floor (target 1.2x)\n",
                tarpitCount, concurrency, timeoutMs / 1000, floor, ours.seconds, ours.seconds / floor);

    // The end of a check with places: every proxy's record (the report's), the working ones as JSON and CSV.
    QTemporaryDir geoFolder;
    GeoLookup geo;
    QString failure;
    if (!writeDatabases(geoFolder) || !geo.open(geoFolder.filePath(QStringLiteral("country.mmdb")), &failure) ||
        !geo.open(geoFolder.filePath(QStringLiteral("asn.mmdb")), &failure)) {
        std::fprintf(stderr, "no test databases: %s\n", qPrintable(failure));
        return 1;
    }
    QElapsedTimer recordClock;
    recordClock.start();
    const std::vector<ProxyRecord> records = ProxyRecord::fromCheck(proxies, ours.results, geo, {}, false);
    std::vector<ProxyRecord> working;
    for (const ProxyRecord& record : records)
        if (record.result.outcome == CheckResult::Working)
            working.push_back(record);
    const qsizetype written = ListFormat::json(working, false).size() + ListFormat::csv(working, false).size() +
                              CheckReport::text(records, false).size();
    const double recordSeconds = recordClock.nsecsElapsed() / 1e9;
    int placed = 0;
    for (const ProxyRecord& record : records)
        placed += !record.place.country.isEmpty() && record.place.asn > 0 ? 1 : 0;
    std::printf("records with places from databases of %d networks each: %.3f s for %zu proxies (%d placed, %lld "
                "bytes written); check and records %.2f s, %.3fx the check alone\n",
                geoNetworks, recordSeconds, records.size(), placed, qlonglong(written), ours.seconds + recordSeconds,
                (ours.seconds + recordSeconds) / ours.seconds);
    const double total = ours.seconds + recordSeconds;

    const qsizetype poolAt = application.arguments().indexOf(QStringLiteral("--pool"));
    if (poolAt >= 0 && !comparePool(proxies, judge, geo, application.arguments().value(poolAt + 1), 3))
        return 1;

    if (application.arguments().contains(QStringLiteral("--no-curl"))) {
        std::printf("bench_check: %.2f s with places (check %.2f s; floor %.2f s, %.2fx the floor; curl not run)\n",
                    total, ours.seconds, floor, total / floor);
        return 0;
    }
    const CurlRun curl = runCurl(proxies, judge);
    if (curl.seconds < 0) {
        std::fprintf(stderr, "xargs curl did not run\n");
        return 1;
    }
    const double ourRate = proxyCount / ours.seconds;
    const double curlRate = proxyCount / curl.seconds;
    std::printf("curl -x via xargs -P%d: %.2f s, %.0f checks/s, %d working; checker %.0f checks/s, %.1fx "
                "(target 10x)\n",
                concurrency, curl.seconds, curlRate, curl.working, ourRate, ourRate / curlRate);
    if (curl.working != ours.working || curl.workingProxies != workingProxies)
        std::printf("warning: curl found %d working proxies, the checker %d, of %d working\n", curl.working,
                    ours.working, workingCount);
    std::printf("bench_check: %.2f s with places (check %.2f s; floor %.2f s, %.2fx the floor; curl -x via xargs -P%d "
                "%.2f s, %.1fx its checks per second)\n",
                total, ours.seconds, floor, total / floor, concurrency, curl.seconds, ourRate / curlRate);
    return 0;
}
