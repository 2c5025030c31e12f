// Page fetching as the window sees it: twenty fetchers, wired as the main window wires them, each receive one
// 50 MB page from a loopback server while a 2 ms timer measures the longest stall of the event loop; then
// peak and after-run resident memory. Also the reduction's throughput against a plain memcpy of the same
// bytes (the floor) and against one regular-expression replacement per character. Asserts nothing.
#include "bench/benchsupport.h"
#include "bench/pageserver.h"
#include "extraction/pagetext.h"
#include "leech/leechsocket.h"
#include "leech/leechurl.h"
#include "settings/userfolders.h"
#include "tests/support/testhome.h"
#include "util/httpport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int fetchers = 20;
constexpr qsizetype bigPage = 50 << 20;
const quint32 runStamp = 1341302400;

// Markup with a proxy in every row, as a large list page looks.
QByteArray makeBody(qsizetype size)
{
    QRandomGenerator random(20121203);
    QByteArray body;
    body.reserve(size + 200);
    while (body.size() < size) {
        body += "<tr><td class=\"ip\">" + QByteArray::number(random.bounded(1, 224)) + '.' +
                QByteArray::number(random.bounded(256)) + '.' + QByteArray::number(random.bounded(256)) + '.' +
                QByteArray::number(random.bounded(256)) + "</td><td>" + QByteArray::number(random.bounded(80, 65535)) +
                "</td><td>Elite &amp; fast, checked 3 min ago</td></tr>\n";
    }
    body.truncate(size);
    return body;
}

double mbPerSecond(qsizetype bytes, qint64 nsecs)
{
    return (bytes / 1048576.0) / (nsecs / 1e9);
}

struct FetchRun
{
    double seconds = 0;
    double longestStallMs = 0;
    int failedPages = 0;
    qint64 storedBytes = 0;
};

FetchRun fetchInParallel(const std::vector<std::unique_ptr<CLeechSocket>>& sockets)
{
    FetchRun run;
    QEventLoop loop;
    int reported = 0;
    for (const auto& fetcher : sockets) {
        QObject::connect(fetcher.get(), &CLeechSocket::urlListProcessed, &loop, [&] {
            if (++reported == fetchers)
                loop.quit();
        });
    }

    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        run.longestStallMs = qMax(run.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });

    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    for (int t = 0; t < fetchers; ++t) {
        CLeechSocket& fetcher = *sockets[t];
        fetcher.reset();
        fetcher.clearQueue();
        fetcher.setTimeout(25000);
        CLeechUrl url;
        url.parse(QStringLiteral("http://www.biglist%1.com/big.html").arg(t), 0, QString());
        fetcher.addUrl(url);
        fetcher.setSocketDescriptor(t);
        fetcher.fetchQueue();
    }
    loop.exec();
    run.seconds = clock.nsecsElapsed() / 1e9;
    ticker.stop();

    for (const auto& fetcher : sockets) {
        for (const CCrawlResult& result : fetcher->results())
            run.failedPages += result.bytes() == 0 ? 1 : 0;
    }
    const QDir pages(UserFolders::runFolder(runStamp));
    for (const QFileInfo& page : pages.entryInfoList(QDir::Files)) {
        run.storedBytes += page.size();
        QFile::remove(page.filePath());
    }
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    TestHome home;
    QDir().mkpath(UserFolders::dataFolder());

    const QByteArray body = makeBody(bigPage);
    PageServer server({{"/big.html", body}});
    if (!server.isListening()) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    HttpPort::setPortForTests(server.port());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));

    // Made as the harvest engine makes them.
    std::vector<std::unique_ptr<CLeechSocket>> sockets;
    for (int i = 0; i < fetchers; ++i) {
        auto fetcher = std::make_unique<CLeechSocket>();
        fetcher->setDataFolder(runStamp);
        fetcher->start(QThread::InheritPriority);
        sockets.push_back(std::move(fetcher));
    }

    const long rssBefore = statusKb("VmRSS");
    const FetchRun run = fetchInParallel(sockets);
    const long peak = statusKb("VmHWM");
    const long rssAfter = statusKb("VmRSS");
    std::printf("%d fetchers x %lld MB page: %.2f s, %d failed, %.0f MB stored\n", fetchers,
                static_cast<long long>(bigPage >> 20), run.seconds, run.failedPages, run.storedBytes / 1048576.0);
    std::printf("resident: %ld MB before, %ld MB peak, %ld MB after the run (the served page itself: %lld MB)\n",
                rssBefore / 1024, peak / 1024, rssAfter / 1024, static_cast<long long>(bigPage >> 20));

    // Throughput of the reduction on one large reply, against copying the same bytes.
    const QString host = QStringLiteral("www.biglist.com");
    QElapsedTimer clock;
    QByteArray copy(body.size(), Qt::Uninitialized);
    clock.start();
    for (int i = 0; i < 5; ++i)
        std::memcpy(copy.data(), body.constData(), static_cast<size_t>(body.size()));
    const qint64 copyNs = clock.nsecsElapsed() / 5;
    qsizetype reducedBytes = 0;
    clock.start();
    for (int i = 0; i < 5; ++i)
        reducedBytes += PageText::reduced(body, host).size();
    const qint64 reduceNs = clock.nsecsElapsed() / 5;
    // The replacement it took over from, on the first megabyte only: it does not finish 50 MB in minutes.
    const QString slice = QString::fromLatin1(body.left(1 << 20));
    clock.start();
    QString(slice).replace(QRegularExpression(QStringLiteral("[^\\d\\.\\:]")), QStringLiteral("\n"));
    const qint64 regexNs = clock.nsecsElapsed();

    std::printf("reduction of %lld MB: %.1f ms (%.0f MB/s); memcpy %.1f ms (%.0f MB/s); "
                "regular expression per character %.0f MB/s\n",
                static_cast<long long>(reducedBytes / 5 >> 20), reduceNs / 1e6, mbPerSecond(body.size(), reduceNs),
                copyNs / 1e6, mbPerSecond(body.size(), copyNs), mbPerSecond(slice.size(), regexNs));
    std::printf("fetch: %.1f ms longest event-loop stall (%.0f MB/s reduction, %.2fx memcpy's time; "
                "%ld MB peak, %ld MB after run, %ld MB before)\n",
                run.longestStallMs, mbPerSecond(body.size(), reduceNs), double(reduceNs) / copyNs, peak / 1024,
                rssAfter / 1024, rssBefore / 1024);
    return 0;
}
