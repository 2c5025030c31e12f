// Extraction speed: the extraction thread over stored pages of several kinds and sizes, each set timed
// beside `rg -o` with the same pattern over the same files and beside `cat` of them (the I/O floor), all
// in this run. Prints a table and ratios; asserts nothing.
#include "extraction/leechproxies.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/testhome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const quint32 runStamp = 1341302400;
const QString rgPattern = QStringLiteral("([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3}):([0-9]{2,5})");

QByteArray proxyLine(quint32 index, QRandomGenerator& random)
{
    // Multiplying by an odd number is a bijection of 32-bit numbers: distinct indexes, distinct addresses.
    const quint32 address = index * 2654435761u;
    return QByteArray::number(address >> 24) + '.' + QByteArray::number((address >> 16) & 255) + '.' +
           QByteArray::number((address >> 8) & 255) + '.' + QByteArray::number(address & 255) + ':' +
           QByteArray::number(random.bounded(80, 65536));
}

// A raw list as the fetcher stores it: one proxy a line, now and then a stray number from the markup.
QByteArray proxyPage(quint32 firstIndex, int proxies, QRandomGenerator& random)
{
    QByteArray page;
    for (int i = 0; i < proxies; ++i) {
        page += proxyLine(firstIndex + quint32(i), random);
        page += random.bounded(4) == 0 ? QByteArray("\n\n2012.\n") : QByteArray("\n");
    }
    return page;
}

// The same without line breaks: "a.b.c.d:port:a.b.c.d:port..." is one long run of proxy characters.
QByteArray gluedPage(quint32 firstIndex, int proxies, QRandomGenerator& random)
{
    QByteArray page;
    for (int i = 0; i < proxies; ++i)
        page += proxyLine(firstIndex + quint32(i), random) + ':';
    return page;
}

// Digit, dot and colon runs that hold no proxy: no stretch between two colons has three dots.
QByteArray noisePage(qsizetype bytes, QRandomGenerator& random)
{
    QByteArray page;
    page.reserve(bytes + 64);
    while (page.size() < bytes) {
        const int segments = int(random.bounded(1, 6));
        for (int s = 0; s < segments; ++s) {
            const int runs = int(random.bounded(1, 4));
            for (int r = 0; r < runs; ++r) {
                page += QByteArray::number(random.bounded(1, 999999));
                if (r + 1 < runs)
                    page += '.';
            }
            if (s + 1 < segments)
                page += ':';
        }
        page += random.bounded(8) == 0 ? "\n\n\n" : "\n";
    }
    return page;
}

struct Case
{
    QString name;
    QList<QByteArray> pages;
};

qsizetype totalSize(const Case& set)
{
    qsizetype bytes = 0;
    for (const QByteArray& page : set.pages)
        bytes += page.size();
    return bytes;
}

void writePages(const QString& folder, const QList<QByteArray>& pages)
{
    QDir().mkpath(folder);
    for (int i = 0; i < pages.size(); ++i) {
        QFile file(QDir(folder).filePath(QStringLiteral("%1-%2.dat").arg(i % 20).arg(i / 20)));
        if (!file.open(QIODevice::WriteOnly) || file.write(pages.at(i)) != pages.at(i).size())
            qFatal("cannot write the benchmark pages");
    }
}

double extractionMs(CConfig* config)
{
    CLeechProxies extraction;
    extraction.setRunStamp(runStamp);
    extraction.setConfig(config);
    QEventLoop loop;
    QObject::connect(&extraction, &QThread::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    extraction.start();
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

// A shell command with its output to a file (rg stops at the first match when it writes to /dev/null).
double commandMs(const QString& command, const QString& outputFile)
{
    QProcess process;
    process.setStandardOutputFile(outputFile);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    process.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e6;
}

double best(int rounds, const std::function<double()>& measure)
{
    double fastest = 1e300;
    for (int i = 0; i < rounds; ++i)
        fastest = std::min(fastest, measure());
    return fastest;
}

struct Row
{
    double megabytes;
    double ours;
    double rg;
    double cat;
};

Row measure(const Case& set, CConfig* config, const QString& scratch)
{
    const QString copy = QDir(scratch).filePath(QStringLiteral("pages"));
    QDir(copy).removeRecursively();
    writePages(copy, set.pages);
    const QString out = QDir(scratch).filePath(QStringLiteral("out.txt"));
    const int rounds = set.pages.size() > 1 || totalSize(set) < 20'000'000 ? 3 : 1;
    const QString rg = QStringLiteral("rg -o --no-filename --no-line-number '%1' '%2'").arg(rgPattern, copy);
    const QString cat = QStringLiteral("cat '%1'/*").arg(copy);

    Row row{totalSize(set) / 1e6, 0, 0, 0};
    row.rg = best(rounds, [&] { return commandMs(rg, out); });
    row.cat = best(rounds, [&] { return commandMs(cat, out); });
    row.ours = best(rounds, [&] {
        // The run removes the pages it read, so each round gets them anew.
        writePages(UserFolders::runFolder(runStamp), set.pages);
        return extractionMs(config);
    });
    for (const QString& name : QDir(UserFolders::outputFolder()).entryList(QDir::Files))
        QFile::remove(QDir(UserFolders::outputFolder()).filePath(name));
    return row;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("rg")).isEmpty())
        qFatal("rg (ripgrep) is needed as the baseline: apt-get install ripgrep");
    TestHome home;
    DesktopCapture desktop;
    QTemporaryDir scratch;
    QDir().mkpath(UserFolders::outputFolder());
    CConfig config;
    config.setOutputFormat(QStringLiteral("A:P"));

    QRandomGenerator random(20121203);
    QList<Case> cases;
    cases.append({QStringLiteral("100,000 proxies"), {proxyPage(0, 100'000, random)}});
    cases.append({QStringLiteral("noise 1 MB"), {noisePage(1'000'000, random)}});
    cases.append({QStringLiteral("noise 10 MB"), {noisePage(10'000'000, random)}});
    cases.append({QStringLiteral("noise 50 MB"), {noisePage(50'000'000, random)}});
    cases.append({QStringLiteral("1,000,000 proxies"), {proxyPage(1'000'000, 1'000'000, random)}});
    cases.append({QStringLiteral("100,000 in one run"), {gluedPage(5'000'000, 100'000, random)}});
    Case small{QStringLiteral("10,000 small pages"), {}};
    for (int i = 0; i < 10'000; ++i)
        small.pages << proxyPage(quint32(3'000'000 + i * 20), 20, random) + noisePage(1500, random);
    cases.append(small);

    std::printf("%-20s %9s %10s %8s %10s %7s %9s %7s\n", "pages", "MB", "ms", "MB/s", "rg -o ms", "x rg", "cat ms",
                "x cat");
    QList<Row> rows;
    // An argument picks the cases whose name holds it, for profiling one of them.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    for (const Case& set : cases) {
        if (!set.name.contains(only)) {
            rows << Row{1, 1, 1, 1};
            continue;
        }
        const Row row = measure(set, &config, scratch.path());
        rows << row;
        std::printf("%-20s %9.1f %10.1f %8.1f %10.1f %7.2f %9.1f %7.2f\n", qPrintable(set.name), row.megabytes,
                    row.ours, row.megabytes / (row.ours / 1000), row.rg, row.ours / row.rg, row.cat,
                    row.ours / row.cat);
        std::fflush(stdout);
    }

    // Noise of 1, 10 and 50 MB: time per MB stays level when the time grows linearly (a 1 MB run is too short
    // to judge by, so 10 and 50 MB decide; a square law would give five times the time per MB).
    const double perMb10 = rows[2].ours / rows[2].megabytes;
    const double perMb50 = rows[3].ours / rows[3].megabytes;
    std::printf("growth: %.2f ms/MB at 1 MB, %.2f ms/MB at 10 MB, %.2f ms/MB at 50 MB: %s\n",
                rows[1].ours / rows[1].megabytes, perMb10, perMb50, perMb50 < 2 * perMb10 ? "linear" : "NOT linear");
    std::printf("extraction: %.1f ms for 100,000 proxies (rg -o %.1f ms, ratio %.2f; cat %.1f ms)\n", rows[0].ours,
                rows[0].rg, rows[0].ours / rows[0].rg, rows[0].cat);
    return 0;
}
