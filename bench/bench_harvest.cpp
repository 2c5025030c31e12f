// A whole harvest as the user starts it: the main window with 1,000 URLs of pages of about 20 kB from a
// loopback server and twenty fetchers, from Start until the controls come back with the output file
// written. The baseline, timed in the same run over the same URLs and pages: twenty curl processes fetching
// them, piped to ripgrep printing every match of the proxy pattern. Asserts nothing.
#include "app/mainwindow.h"
#include "bench/pageserver.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/testhome.h"
#include "util/httpport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int pageCount = 1000;
constexpr qsizetype pageSize = qsizetype{20} * 1024;
// The extraction's pattern; ripgrep's engine takes the colon unescaped.
const char* const proxyPattern = "([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3}):([0-9]{2,5})";

// A proxy-list page: a table row of markup around every address and port.
QByteArray makePage(QRandomGenerator& random)
{
    QByteArray page = "<html><head><title>Free proxy list</title></head><body><table>\n";
    while (page.size() < pageSize - 200) {
        page += "<tr><td>" + QByteArray::number(random.bounded(1, 224)) + '.' +
                QByteArray::number(random.bounded(256)) + '.' + QByteArray::number(random.bounded(256)) + '.' +
                QByteArray::number(random.bounded(256)) + ':' + QByteArray::number(random.bounded(80, 65535)) +
                "</td><td>HTTP</td><td>anonymous</td><td>" + QByteArray::number(random.bounded(100, 9999)) +
                " ms</td><td>checked " + QByteArray::number(random.bounded(1, 59)) +
                " minutes ago</td><td>United States</td></tr>\n";
    }
    return page + "</table></body></html>\n";
}

struct Harvest
{
    double seconds = 0;
    double fetchSeconds = 0; // until the last fetcher reported and the extraction started
    qsizetype lines = 0;
};

Harvest harvest(const QStringList& urls)
{
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    for (const QString& url : urls) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 1, new QTableWidgetItem(url));
    }
    window.findChild<QComboBox*>(QStringLiteral("cbThreads"))->setCurrentIndex(MainWindow::fetcherCount - 1);

    Harvest run;
    QElapsedTimer clock;
    QEventLoop loop;
    // The bar reaches 100 at the last fetcher's report, which starts the extraction; the "Proxy Lists" tab
    // is shown when the extraction is done.
    QObject::connect(window.findChild<QProgressBar*>(QStringLiteral("crawlProgress")), &QProgressBar::valueChanged,
                     &loop, [&](int value) {
                         if (value == 100)
                             run.fetchSeconds = clock.nsecsElapsed() / 1e9;
                     });
    QObject::connect(window.findChild<QTabWidget*>(QStringLiteral("tabWidget")), &QTabWidget::currentChanged, &loop,
                     &QEventLoop::quit);
    clock.start();
    window.findChild<QPushButton*>(QStringLiteral("btnStart"))->click();
    loop.exec();
    run.seconds = clock.nsecsElapsed() / 1e9;

    const QDir output(UserFolders::outputFolder());
    for (const QString& name : output.entryList(QDir::Files)) {
        QFile file(output.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            run.lines += file.readAll().count('\n');
    }
    return run;
}

// Seconds for `xargs -P20 curl | rg -o` over the URLs; the number of matches through lines.
double curlAndRipgrep(const QStringList& urls, qsizetype* lines)
{
    QTemporaryDir work;
    QFile list(work.filePath(QStringLiteral("urls.txt")));
    if (!list.open(QIODevice::WriteOnly))
        return -1;
    list.write(urls.join(QLatin1Char('\n')).toLatin1() + '\n');
    list.close();
    const QString command =
        QStringLiteral("xargs -P20 -n50 curl -s < '%1' | rg -o '%2' > '%3'")
            .arg(list.fileName(), QLatin1String(proxyPattern), work.filePath(QStringLiteral("out")));
    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), command});
    shell.waitForFinished(-1);
    const double seconds = clock.nsecsElapsed() / 1e9;
    QFile out(work.filePath(QStringLiteral("out")));
    *lines = out.open(QIODevice::ReadOnly) ? out.readAll().count('\n') : -1;
    return seconds;
}

// Seconds to create as many files of that size in a new folder beside the page store: what the file system
// alone asks for the page files of a harvest.
double fileCreation(int count, qsizetype size)
{
    const QDir folder(UserFolders::dataFolder() + QStringLiteral("/files"));
    QDir().mkpath(folder.path());
    const QByteArray content(size, '\n');
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        QFile file(folder.filePath(QString::number(i) + QStringLiteral(".dat")));
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    QDir(folder).removeRecursively();
    return seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    for (const char* tool : {"curl", "rg", "xargs"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "%s is missing (apt-get install curl ripgrep)\n", tool);
            return 1;
        }
    }
    TestHome home;
    DesktopCapture desktop;

    QRandomGenerator random(20121203);
    QHash<QByteArray, QByteArray> pages;
    qsizetype bytes = 0;
    for (int n = 0; n < pageCount; ++n) {
        const QByteArray page = makePage(random);
        bytes += page.size();
        pages.insert("/list" + QByteArray::number(n) + ".html", page);
    }
    PageServer server(pages);
    if (!server.isListening()) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    HttpPort::setPortForTests(server.port());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));

    // The window fetches by host name; curl reaches the same pages through the loopback address.
    QStringList siteUrls;
    QStringList loopbackUrls;
    for (int n = 0; n < pageCount; ++n) {
        siteUrls << QStringLiteral("http://www.site%1.com/list%1.html").arg(n);
        loopbackUrls << QStringLiteral("http://127.0.0.1:%1/list%2.html").arg(server.port()).arg(n);
    }

    qsizetype matches = 0;
    const double baseline = curlAndRipgrep(loopbackUrls, &matches);
    const Harvest run = harvest(siteUrls);
    std::printf("%d pages, %.1f MB: harvest wrote %lld lines, rg -o printed %lld matches\n", pageCount,
                bytes / 1048576.0, static_cast<long long>(run.lines), static_cast<long long>(matches));
    const double creation = fileCreation(pageCount, bytes / pageCount);
    std::printf("fetch and store: %.2f s (creating %d such files alone: %.2f s), extraction: %.2f s\n",
                run.fetchSeconds, pageCount, creation, run.seconds - run.fetchSeconds);
    std::printf("harvest: %.2f s (%.2f s xargs -P20 curl | rg -o, ratio %.2f)\n", run.seconds, baseline,
                run.seconds / baseline);
    return 0;
}
