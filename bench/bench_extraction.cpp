// Extraction speed: the extraction thread over a set of stored pages, against the plain literal page scan
// (the tests' oracle) over the same pages, both timed in this run. Prints the ratio; asserts nothing.
#include "extraction/leechproxies.h"
#include "extraction/proxyaddress.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/literalscan.h"
#include "tests/support/testhome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <cstdio>

namespace {

const quint32 runStamp = 1341302400;

// A page as the fetcher stores it: proxies among stray digits, dots and line breaks.
QByteArray makePage(QRandomGenerator& random, int proxies)
{
    QByteArray page;
    for (int i = 0; i < proxies; ++i) {
        page += QByteArray::number(random.bounded(1, 224)) + '.' + QByteArray::number(random.bounded(256)) + '.' +
                QByteArray::number(random.bounded(256)) + '.' + QByteArray::number(random.bounded(256)) + ':' +
                QByteArray::number(random.bounded(80, 65535));
        page += QByteArray(random.bounded(1, 30), '\n') + QByteArray::number(random.bounded(1000)) + ".\n\n";
    }
    return page;
}

double literalScanMs(const QList<QByteArray>& pages, const QString& format)
{
    QElapsedTimer timer;
    timer.start();
    qsizetype bytes = 0;
    CProxyAddress record;
    for (const QByteArray& page : pages) {
        for (const QString& proxy : LiteralScan::scanPage(QString::fromLatin1(page))) {
            const int colon = proxy.indexOf(QLatin1Char(':'));
            record.setAddress(proxy.left(colon));
            bytes += (formatProxyLine(format, proxy.left(colon), proxy.mid(colon + 1), record) +
                      QStringLiteral("\r\n"))
                         .toLatin1()
                         .size();
        }
    }
    std::fprintf(stderr, "literal scan wrote %lld bytes\n", static_cast<long long>(bytes));
    return timer.nsecsElapsed() / 1e6;
}

double extractionMs(const QList<QByteArray>& pages, CConfig* config)
{
    const QDir folder(UserFolders::runFolder(runStamp));
    for (int i = 0; i < pages.size(); ++i) {
        QFile file(folder.filePath(QStringLiteral("0-%1.dat").arg(i)));
        file.open(QIODevice::WriteOnly);
        file.write(pages[i]);
    }
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

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TestHome home;
    DesktopCapture desktop;
    QDir().mkpath(UserFolders::runFolder(runStamp));
    QDir().mkpath(UserFolders::outputFolder());
    CConfig config;
    config.setOutputFormat(QStringLiteral("A:P C B"));

    QRandomGenerator random(20121203);
    QList<QByteArray> pages;
    for (int i = 0; i < 40; ++i)
        pages << makePage(random, 150);

    const double baseline = literalScanMs(pages, config.outputFormat());
    const double measured = extractionMs(pages, &config);
    std::printf("pages: %lld, proxies per page: 150\n", static_cast<long long>(pages.size()));
    std::printf("extraction: %.1f ms (%.1f ms literal page scan, ratio %.2f)\n", measured, baseline,
                measured / baseline);
    return 0;
}
