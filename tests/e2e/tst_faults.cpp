// Fault suite: the real window harvests from servers that misbehave, onto disks that fill up or refuse
// writes, and is stopped or closed at random moments. Runs inside the end-to-end namespace (run-e2e.sh),
// as root, so it can mount small file systems over the per-user folders.
#include "app/mainwindow.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/e2e/fakeweb.h"
#include "tests/support/literalscan.h"
#include "tests/support/testkit.h"

#include <cstdlib>

namespace {

// The lines of an output file; a last line without its CR LF shows as such.
QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<cannot open>")};
    QStringList lines = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.last().isEmpty())
        lines.last() = QStringLiteral("<cut line>");
    else
        lines.removeLast();
    return lines;
}

// Every file of the output folder is a complete list under its final name, holding the lines it counts.
void checkOutputFiles(int* listed = nullptr)
{
    const QDir output(UserFolders::outputFolder());
    // The count may have more than the five digits the Proxy Lists tab recognises.
    const QRegularExpression finalName(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]+)\\-([0-9]{4})\\-([0-9]{2})\\-([0-9]{2})\\-([0-9]{10})\\-([0-9]{10})\\.txt")));
    const QStringList files = output.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : files) {
        const QRegularExpressionMatch match = finalName.match(name);
        QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("not a final name: ") + name));
        const QStringList lines = linesOf(output.filePath(name));
        QVERIFY2(!lines.contains(QStringLiteral("<cut line>")), qPrintable(name));
        QCOMPARE(lines.size(), match.captured(1).toInt());
    }
    if (listed)
        *listed = int(files.size());
}

// Through the shell, not QProcess: that starts its child with clone(CLONE_VM | CLONE_VFORK), and the child, running
// on this process's memory, puts ThreadSanitizer's record of this process out of step (false reports after it).
bool run(const QString& program, QStringList arguments)
{
    for (QString& argument : arguments)
        argument = QLatin1Char('\'') + argument.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    return std::system(qPrintable(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')))) == 0;
}

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_desktop = std::make_unique<DesktopCapture>();
        m_dialogs = std::make_unique<DialogAnswerer>();
        // The shortest time-out, 10 s, so the servers that never finish fail soon.
        QVERIFY(QDir().mkpath(UserFolders::baseFolder()));
        CConfig config;
        config.setTimeout(0);
    }

    void cleanup()
    {
        DialogAnswerer::closeLeftoverModals();
        m_window.reset();
        unmountAll();
        m_dialogs.reset();
        m_desktop.reset();
        m_home.reset();
    }

    void misbehavingServers_harvestKeepsEveryGoodPage()
    {
        // One fetcher a page, so every fault meets a fetcher of its own while the others go on.
        const QStringList urls = {
            "http://www.proxyfeed.com/index.html",    "http://www.faultyproxies.com/silent.html",
            "http://www.faultyproxies.com/drip.html", "http://www.faultyproxies.com/reset.html",
            "http://www.faultyproxies.com/huge.html", "http://www.faultyproxies.com/binary.html",
            "http://www.deadproxies.com/list.html",   "http://www.nowhere-proxies.invalid/list.html",
            "http://www.faultyproxies.com/many.html",
        };
        openWindow(urls, 20);
        start();
        // Everything ends within the 10 s time-out and the extraction of the big page; no hang.
        QTRY_COMPARE_WITH_TIMEOUT(tabs()->currentIndex(), 1, 40000);

        QFile good(QFINDTESTDATA("sites/www.proxyfeed.com/index.html"));
        QVERIFY(good.open(QIODevice::ReadOnly));
        QStringList expected =
            LiteralScan::scanPage(QString::fromLatin1(LiteralScan::reduceLikeFetcher(good.readAll())));
        QVERIFY(!expected.isEmpty());
        expected += FakeWeb::manyProxies(0, 400000);
        expected += QStringList{"10.66.0.1:8080", "10.66.0.2:3128"};
        const QStringList afterBinary = FakeWeb::manyProxies(500000, 20000);

        int files = 0;
        checkOutputFiles(&files);
        QCOMPARE(files, 1);
        const QDir output(UserFolders::outputFolder());
        QStringList lines = linesOf(output.filePath(output.entryList(QDir::Files).first()));
        // A zero byte ends the text of its read, so what follows it in the same read is dropped: the line
        // behind it is there or not, depending on how the reply was read.
        lines.removeOne(QStringLiteral("10.66.0.3:80"));
        QCOMPARE(lines.size(), expected.size() + afterBinary.size());
        QCOMPARE(lines.mid(0, expected.size()), expected);
        QCOMPARE(lines.mid(expected.size()), afterBinary);
        QCOMPARE(m_dialogs->count(), 0);
    }

    void diskFullOrReadOnly_toldAndNothingLostSilently_data()
    {
        QTest::addColumn<bool>("pageStore");
        QTest::addColumn<QStringList>("mount");
        QTest::addColumn<QStringList>("told");
        const QStringList full = {"-t", "tmpfs", "-o", "size=16k", "tmpfs"};
        QTest::newRow("output full") << false << full << QStringList{"Writing the output file failed:\n"};
        QTest::newRow("output read-only") << false << QStringList{"-o", "bind,ro"}
                                          << QStringList{"The output file could not be created:\n", "No proxies found"};
        QTest::newRow("page store full") << true << full
                                         << QStringList{"No proxies found",
                                                        "1 of the pages fetched could not be stored in\n"};
    }

    void diskFullOrReadOnly_toldAndNothingLostSilently()
    {
        QFETCH(bool, pageStore);
        QFETCH(QStringList, mount);
        QFETCH(QStringList, told);
        openWindow({"http://www.faultyproxies.com/many.html"}, 1);
        const QString folder = pageStore ? runFolder() : UserFolders::outputFolder();
        if (mount.first() == QLatin1String("-o"))
            mount << folder; // bind the folder onto itself
        QVERIFY(run(QStringLiteral("mount"), mount << folder));
        m_mounts << folder;

        start();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs->count(), told.size(), 30000);
        QStringList texts;
        for (const DialogRecord& record : m_dialogs->records())
            texts << record.text;
        // The reason comes on top of the notice it explains; a page that cannot be stored is told when it happens.
        if (pageStore) {
            texts.sort();
            told.sort();
        }
        for (int i = 0; i < told.size(); ++i) {
            // Each names the folder; about the output file, it also says that the pages stay.
            QVERIFY2(texts[i].startsWith(told[i]) &&
                         (told[i] == QLatin1String("No proxies found") ||
                          (texts[i].contains(folder) &&
                           (pageStore ||
                            texts[i].endsWith("\nThe fetched pages are kept and read again by the next Start.")))),
                     qPrintable(texts.join(" | ")));
        }
        const QString output = UserFolders::outputFolder();
        QVERIFY(QDir(output).entryList(QDir::Files).isEmpty());
        // What was fetched stays for the next Start, unless it could not be stored at all; no part is left behind.
        QCOMPARE(QDir(runFolder()).entryList(QDir::Files | QDir::Hidden),
                 pageStore ? QStringList() : QStringList{"0-0.dat"});

        // With room again, the next Start writes them all.
        unmountAll();
        start();
        QTRY_COMPARE_WITH_TIMEOUT(tabs()->currentIndex(), 1, 30000);
        const QStringList files = QDir(output).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QCOMPARE(linesOf(QDir(output).filePath(files.first())), FakeWeb::manyProxies(500000, 20000));
    }

    void stopAtRandomMoments_everyFileComplete()
    {
        QStringList urls;
        for (int i = 0; i < 10; ++i)
            urls << "http://www.faultyproxies.com/many.html";
        openWindow(urls, 10);
        // The moments are spread over what a whole harvest takes on this build: a sanitizer build is many times slower,
        // and fixed times there stopped every round before its first page was stored.
        QElapsedTimer whole;
        whole.start();
        start();
        QTRY_COMPARE_WITH_TIMEOUT(tabs()->currentIndex(), 1, 120000);
        const int span = int(whole.elapsed());
        QRandomGenerator random(20121206);
        for (int round = 0; round < 50; ++round) {
            start();
            QTest::qWait(int(random.bounded(span)));
            stop();
            QTest::qWait(int(random.bounded(span / 2)));
        }
        // The last extraction reads every page the skipped ones left; once it ends, every list must be whole.
        const auto writing = [] {
            return !QDir(UserFolders::outputFolder())
                        .entryList({QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]-*.txt")}, QDir::Files)
                        .isEmpty();
        };
        QTest::qWait(qMax(500, span));
        QTRY_VERIFY_WITH_TIMEOUT(!writing(), 120000);
        int files = 0;
        checkOutputFiles(&files);
        QVERIFY(files > 1);
    }

    void windowClosedMidHarvest_everyFileComplete()
    {
        QRandomGenerator random(20121207);
        for (int round = 0; round < 5; ++round) {
            openWindow({"http://www.faultyproxies.com/many.html", "http://www.faultyproxies.com/huge.html",
                        "http://www.faultyproxies.com/silent.html"},
                       3);
            start();
            QTest::qWait(int(random.bounded(2500)));
            m_window.reset();
            checkOutputFiles();
        }
    }

private:
    MainWindow& openWindow(const QStringList& urls, int threads);
    void start() { m_window->findChild<QPushButton*>(QStringLiteral("btnStart"))->click(); }
    void stop() { m_window->findChild<QPushButton*>(QStringLiteral("btnStop"))->click(); }
    QTabWidget* tabs() { return m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget")); }
    QString runFolder() const
    {
        const QDir data(UserFolders::dataFolder());
        return data.filePath(data.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0));
    }

    void unmountAll()
    {
        while (!m_mounts.isEmpty())
            run(QStringLiteral("umount"), {m_mounts.takeLast()});
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<DesktopCapture> m_desktop;
    std::unique_ptr<DialogAnswerer> m_dialogs;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_mounts;
};

MainWindow& FaultsTest::openWindow(const QStringList& urls, int threads)
{
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    auto* table = m_window->findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    for (const QString& url : urls) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 1, new QTableWidgetItem(url));
    }
    m_window->findChild<QComboBox*>(QStringLiteral("cbThreads"))->setCurrentIndex(threads - 1);
    return *m_window;
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
