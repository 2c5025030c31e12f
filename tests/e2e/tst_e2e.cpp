// End-to-end suite: runs inside a private network namespace (see run-e2e.sh) where the fake web answers on
// port 80 for the real host names of the sites and the update server.
#include "app/mainwindow.h"
#include "leech/leechlist.h"
#include "settings/userfolders.h"
#include "tests/support/literalscan.h"
#include "tests/support/testkit.h"
#include "util/externalhosts.h"
#include "util/formatting.h"

#include <QtNetwork>
#include <algorithm>
#include <csignal>

namespace {

// The whole reply of a page as the web sends it, fetched with a plain socket of the suite's own.
QByteArray fetchRaw(const QString& host, const QString& path)
{
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(host, 80);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    socket.write("GET " + path.toLatin1() + " HTTP/1.0\r\nHost: " + host.toLatin1() + "\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(3000))
        reply += socket.readAll();
    return reply + socket.readAll();
}

// Changes a behaviour of the fake web, e.g. "lookup=current".
bool controlFakeWeb(const QString& setting)
{
    return fetchRaw(QStringLiteral("www.tarnix.net"), QStringLiteral("/__control?") + setting).endsWith("OK");
}

// The lines a harvest of these pages writes with the default template, in page order: the plain page scan
// over what a fetcher stores of each reply.
QStringList scannedLines(const QStringList& urls)
{
    QStringList lines;
    for (const QString& url : urls) {
        const QString host = QUrl(url).host();
        QByteArray reply = fetchRaw(host, QUrl(url).path());
        if (host.contains(ExternalHosts::rewriteSiteMarker))
            reply.replace("&host=", "\r\n").replace("&port=", ":").replace("&isSocks", "\r\n");
        lines += LiteralScan::scanPage(QString::fromLatin1(LiteralScan::reduceLikeFetcher(reply)));
    }
    return lines;
}

const QStringList singleCrawlUrls = {
    "http://www.proxyfeed.com/index.html",
    "http://www.rawproxies.net/fresh.txt",
    "http://www.proxy-listen.de/liste.html",
    "http://www.realproxies.org/proxies24-listPages-http.html",
    "http://www.realproxies.org/maxiproxies-pageHtml-1.html",
    "http://www.deadproxies.com/list.html",
    "http://www.realproxies.org/proxyspy-data-proxy.txt",
};

// What a harvest of proxyfeed.com's index page with links followed one level writes, in any order.
const QStringList crawledLines = {"10.0.0.99:9999",   "172.16.5.5:8080",  "172.16.5.6:3128",
                                  "192.0.2.44:8000",  "192.0.2.45:8888",  "198.51.100.23:80",
                                  "203.0.113.7:3128", "66.24.3.180:8080", "66.24.3.180:8080"};

QStringList tableColumn(QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

// An output file's name: the count, the date, the run stamp and the second the extraction started.
bool namedForToday(const QString& name, qsizetype count)
{
    const QStringList fields = QString(name).remove(QStringLiteral(".txt")).split(QLatin1Char('-'));
    return fields.size() == 6 && fields[0] == QString::number(count) &&
           fields[1] + fields[2] + fields[3] == QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
}

QStringList outputFiles()
{
    return QDir(UserFolders::outputFolder()).entryList(QDir::Files, QDir::Name);
}

QStringList linesOf(const QString& fileName)
{
    QFile file(QDir(UserFolders::outputFolder()).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    QStringList lines = QString::fromLatin1(content).split(QStringLiteral("\r\n"));
    if (!content.endsWith("\r\n"))
        return {QStringLiteral("file does not end with CR LF")};
    lines.removeLast();
    return lines;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(controlFakeWeb(QStringLiteral("lookup=newer"))); }

    void cleanup() { DialogAnswerer::closeLeftoverModals(); }

    void singleCrawl_fromImportedList()
    {
        TestHome home;
        DesktopCapture desktop;
        DialogAnswerer dialogs;
        const QStringList urls = singleCrawlUrls;
        const QString listPath = QDir(home.path()).filePath(QStringLiteral("my urls.txt"));
        QFile list(listPath);
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write((urls.join(QStringLiteral("\n")) + QStringLiteral("\nhttps://www.secure.com/\n")).toLatin1());
        list.close();

        MainWindow window;
        window.show();
        dialogs.chooseFile(listPath);
        window.findChild<QAction*>(QStringLiteral("actionImport_Urls"))->trigger();
        QCOMPARE(tableColumn(table(window, "tableUrls"), 1), urls);
        QCOMPARE(tabs(window)->tabText(0), QStringLiteral("Leech Urls (7)"));

        const uint before = QDateTime::currentSecsSinceEpoch();
        window.findChild<QPushButton*>(QStringLiteral("btnStart"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(tabs(window)->currentIndex(), 1, 60000);

        // Pages are stored per fetcher: fetchers 0 to 3 take one URL each, fetcher 4 the last three; the dead
        // host leaves a gap.
        const QStringList expected = scannedLines(urls);
        QVERIFY(expected.contains(QStringLiteral("66.24.3.180:8080")));
        QVERIFY(expected.contains(QStringLiteral("10.20.30.40:3128"))); // only there through the site rewrite

        const QStringList files = outputFiles();
        QCOMPARE(files.size(), 1);
        QCOMPARE(linesOf(files.first()), expected);
        QVERIFY2(namedForToday(files.first(), expected.size()), qPrintable(files.first()));
        QVERIFY(QString(files.first()).remove(QStringLiteral(".txt")).section(QLatin1Char('-'), 5).toUInt() >= before);
        // The list is opened on the report the extraction queues as its last act.
        QTRY_COMPARE(desktop.urls(),
                     QList<QUrl>{QUrl::fromLocalFile(QDir(UserFolders::outputFolder()).filePath(files.first()))});

        // The Proxy Lists tab lists the new file; the Bytes column shows each page's whole reply.
        QTableWidget* lists = table(window, "tableLists");
        QCOMPARE(lists->rowCount(), 1);
        QCOMPARE(lists->item(0, 0)->text(), QStringLiteral("     ") + files.first());
        QCOMPARE(lists->item(0, 2)->text(), QString::number(expected.size()));
        for (int row = 0; row < urls.size(); ++row) {
            const QByteArray reply = fetchRaw(QUrl(urls[row]).host(), QUrl(urls[row]).path());
            QCOMPARE(table(window, "tableUrls")->item(row, 2)->text(), formatByteSize(quint64(reply.size())));
        }
        QCOMPARE(table(window, "tableUrls")->item(5, 2)->text(), QStringLiteral("0 bytes"));
        // The pages of the run are gone; its folder stays, claimed by the running program.
        const QString runFolder = QDir(UserFolders::dataFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).first();
        QCOMPARE(QDir(UserFolders::dataFolder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList({runFolder, runFolder + QStringLiteral(".lock")}));
        QVERIFY(QDir(QDir(UserFolders::dataFolder()).filePath(runFolder)).entryList(QDir::Files).isEmpty());
    }

    void multipleCrawl_addsFoundLinksAndHarvestsThem()
    {
        TestHome home;
        DesktopCapture desktop;
        MainWindow window;
        window.show();
        QTableWidget* urls = table(window, "tableUrls");
        urls->insertRow(0);
        urls->setItem(0, 1, new QTableWidgetItem(QStringLiteral("http://www.proxyfeed.com/index.html")));
        window.findChild<QRadioButton*>(QStringLiteral("rbHarvestFurther"))->setChecked(true);
        window.findChild<QPushButton*>(QStringLiteral("btnStart"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(tabs(window)->currentIndex(), 1, 60000);

        // Depth 1: the user's page and the pages it links to are fetched; links up to one level further are
        // reported. Pictures, style sheets and other schemes are not followed.
        QStringList found = tableColumn(urls, 1).mid(1);
        std::sort(found.begin(), found.end());
        QCOMPARE(found, QStringList({"www.proxyfeed.com/deeper.html", "www.proxyfeed.com/more.html",
                                     "www.rawproxies.net/fresh.txt"}));
        QCOMPARE(tabs(window)->tabText(0), QStringLiteral("Leech Urls (4)"));
        for (int row = 1; row < urls->rowCount(); ++row)
            QCOMPARE(urls->item(row, 0)->text(),
                     QStringLiteral("         ") + formatByteSize(quint64(urls->item(row, 1)->text().size()) * 8));

        const QStringList files = outputFiles();
        QCOMPARE(files.size(), 1);
        QStringList lines = linesOf(files.first());
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines, crawledLines);
        QVERIFY2(namedForToday(files.first(), 9), qPrintable(files.first()));
        QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnStart"))->isEnabled());
        QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("btnStop"))->isEnabled());
    }

    void stop_duringFetchingAfterLinkCrawl()
    {
        TestHome home;
        DesktopCapture desktop;
        MainWindow window;
        window.show();
        QTableWidget* urls = table(window, "tableUrls");
        for (const char* url : {"http://www.slowproxies.com/stall.html", "http://www.proxyfeed.com/more.html"}) {
            const int row = urls->rowCount();
            urls->insertRow(row);
            urls->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(url)));
        }
        window.findChild<QRadioButton*>(QStringLiteral("rbHarvestFurther"))->setChecked(true);
        auto* startButton = window.findChild<QPushButton*>(QStringLiteral("btnStart"));
        auto* stopButton = window.findChild<QPushButton*>(QStringLiteral("btnStop"));
        auto* bar = window.findChild<QProgressBar*>(QStringLiteral("crawlProgress"));
        startButton->click();
        QVERIFY(!startButton->isEnabled());
        QVERIFY(stopButton->isEnabled());

        // The crawl adds deeper.html; three fetchers then run and two finish while the slow page stalls.
        QTRY_COMPARE_WITH_TIMEOUT(urls->rowCount(), 3, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 66, 30000);
        QTest::qWait(200);
        QCOMPARE(bar->value(), 66);
        stopButton->click();
        QVERIFY(startButton->isEnabled());
        QVERIFY(!stopButton->isEnabled());
        QVERIFY(window.findChild<QComboBox*>(QStringLiteral("cbThreads"))->isEnabled());

        // The aborted fetchers' reports complete the count: the pages stored so far are extracted.
        QTRY_COMPARE_WITH_TIMEOUT(tabs(window)->currentIndex(), 1, 30000);
        const QStringList files = outputFiles();
        QCOMPARE(files.size(), 1);
        QStringList lines = linesOf(files.first());
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines, QStringList({"10.0.0.99:9999", "192.0.2.44:8000", "192.0.2.45:8888"}));
        // The aborted fetchers' results were cleared, so no size was filled in.
        for (int row = 0; row < urls->rowCount(); ++row)
            QVERIFY(!urls->item(row, 2));
    }

    void getLeechList_addsTheUsableLines_updatesFromTheMenu()
    {
        TestHome home;
        DesktopCapture desktop;
        DialogAnswerer dialogs;
        MainWindow window;
        // Updates asks the real update server and, asked from the menu, also says when nothing is newer.
        QVERIFY(controlFakeWeb(QStringLiteral("lookup=current")));
        window.findChild<QAction*>(QStringLiteral("action_Updates"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.last().text, QStringLiteral("You're using the latest version at this time."),
                                  10000);
        // The list is fetched in the background from start-up on, status line and all.
        auto* client = window.findChild<CLeechList*>();
        QTRY_VERIFY_WITH_TIMEOUT(!client->urlList().isEmpty(), 10000);
        QCOMPARE(client->urlList().first(), QStringLiteral("HTTP/1.0 200 OK\r"));
        QVERIFY(!client->urlList().contains(QString()));
        window.findChild<QAction*>(QStringLiteral("actionGet_Leech_List"))->trigger();
        QCOMPARE(tableColumn(table(window, "tableUrls"), 1),
                 QStringList({"http://www.proxyfeed.com/index.html", "http://www.rawproxies.net/fresh.txt",
                              "http://www.proxy-listen.de/liste.html",
                              "http://www.realproxies.org/proxyspy-data-proxy.txt"}));
        QCOMPARE(tabs(window)->tabText(0), QStringLiteral("Leech Urls (4)"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("urls"); // the list file's lines; none: no file at all
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("interrupt"); // SIGINT once the first page is in
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // of the output file
        QTest::addColumn<bool>("inOrder");
        QTest::addColumn<QString>("message"); // the last line on standard error: the progress, or why it failed

        const QString missing = QStringLiteral("sievra: cannot read %1: No such file or directory");
        const QString progress = QStringLiteral("pages %1 of %2, proxies %3");
        const QStringList singleLines = scannedLines(singleCrawlUrls);
        const QStringList interruptedLines = scannedLines({"http://www.proxyfeed.com/more.html"});
        QTest::newRow("the window's single crawl, 20 threads")
            << (singleCrawlUrls + QStringList{"https://www.secure.com/"}) << QStringList{"--threads", "20"} << false
            << 0 << singleLines << true << progress.arg(7).arg(7).arg(singleLines.size());
        QTest::newRow("depth 1 follows links, template upper-cased")
            << QStringList{"http://www.proxyfeed.com/index.html"} << QStringList{"--depth", "1", "--template", "a:p"}
            << false << 0 << crawledLines << false << progress.arg(4).arg(4).arg(crawledLines.size());
        QTest::newRow("no proxies") << QStringList{"http://www.deadproxies.com/list.html"} << QStringList() << false
                                    << 2 << QStringList() << true << "sievra: no proxies found.";
        QTest::newRow("missing file") << QStringList() << QStringList() << false << 1 << QStringList() << true
                                      << missing;
        QTest::newRow("threads out of range")
            << QStringList{"http://www.proxyfeed.com/index.html"} << QStringList{"--threads", "21"} << false << 1
            << QStringList() << true << "sievra: --threads must be 1 to 20, not \"21\".";
        // The stalled page never comes and is not waited for; the lines of the page that did are kept.
        QTest::newRow("SIGINT mid-harvest")
            << QStringList{"http://www.proxyfeed.com/more.html", "http://www.slowproxies.com/stall.html"}
            << QStringList{"--threads", "2"} << true << 0 << interruptedLines << true
            << progress.arg(1).arg(2).arg(interruptedLines.size());
    }

    void commandLine()
    {
        QFETCH(QStringList, urls);
        QFETCH(QStringList, options);
        QFETCH(bool, interrupt);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(bool, inOrder);
        QFETCH(QString, message);
        TestHome home;
        const QString listPath = QDir(home.path()).filePath(QStringLiteral("list.txt"));
        if (!urls.isEmpty()) {
            QFile list(listPath);
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write((urls.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1());
        }

        QProcess program;
        // No display of any kind: a window, even an offscreen one, would make it fail.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QString::fromLatin1(name));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(SIEVRA_BINARY), QStringList{"--harvest", listPath} + options);
        QVERIFY(program.waitForStarted());
        QByteArray errorText;
        if (interrupt) {
            program.setReadChannel(QProcess::StandardError);
            while (!errorText.contains("pages 1 of 2") && program.waitForReadyRead(30000))
                errorText += program.readAll();
            QVERIFY2(errorText.contains("pages 1 of 2"), errorText.constData());
            QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGINT), 0);
        }
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        errorText += program.readAllStandardError();
        const QStringList errors = QString::fromLocal8Bit(errorText).split(QLatin1Char('\n'));
        QCOMPARE(errors.value(errors.size() - 2),
                 message.contains(QLatin1String("%1")) ? message.arg(listPath) : message);
        // The command line never writes the settings file.
        QVERIFY(!QFile::exists(UserFolders::configFile()));

        const QStringList files = outputFiles();
        QCOMPARE(files.size(), lines.isEmpty() ? 0 : 1);
        if (lines.isEmpty()) {
            QCOMPARE(program.readAllStandardOutput(), QByteArray());
            return;
        }
        const QString path = QDir(UserFolders::outputFolder()).filePath(files.first());
        QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), path + QLatin1Char('\n'));
        QVERIFY2(namedForToday(files.first(), lines.size()), qPrintable(files.first()));
        QStringList written = linesOf(files.first());
        if (!inOrder) {
            std::sort(written.begin(), written.end());
            std::sort(lines.begin(), lines.end());
        }
        QCOMPARE(written, lines);
    }

private:
    static QTableWidget* table(MainWindow& window, const char* name)
    {
        return window.findChild<QTableWidget*>(QString::fromLatin1(name));
    }
    static QTabWidget* tabs(MainWindow& window) { return window.findChild<QTabWidget*>(QStringLiteral("tabWidget")); }
};

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
