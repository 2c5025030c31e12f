#include "app/mainwindow.h"
#include "settings/configwindow.h"
#include "settings/settingscipher.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"
#include "util/externalhosts.h"
#include "util/formatting.h"
#include "windows/aboutwindow.h"
#include "windows/iptocountry.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QtTest>
#include <memory>

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void firstStart_createsTheFoldersSilently();
    void start_removesLeftoverRunFolders_data();
    void start_removesLeftoverRunFolders();
    void folderThatCannotBeMade_showsMessage_data();
    void folderThatCannotBeMade_showsMessage();
    void startsInItsInitialState();
    void tableHeaders_data();
    void tableHeaders();
    void relayout_followsEveryResize_data();
    void relayout_followsEveryResize();
    void about_eachUseOpensAnotherWindow_showingTheChangeLog();
    void menuActions_openTheirTargets();
    void settings_writtenAtExitOnly();
    void harvest_showsWhatTheEngineReports();

private:
    template <typename T> static T* child(QObject* parent, const char* name)
    {
        T* found = parent->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("missing child %s", name);
        return found;
    }
};

void MainWindowTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
}

void MainWindowTest::firstStart_createsTheFoldersSilently()
{
    TestHome home;
    DialogAnswerer dialogs;
    MainWindow window;
    for (const QString& folder : {UserFolders::makerFolder(), UserFolders::baseFolder(), UserFolders::dataFolder(),
                                  UserFolders::outputFolder()})
        QVERIFY2(QDir(folder).exists(), qPrintable(folder));
    // The fetchers found the data folder in place and made the run folder in it.
    const QStringList runs = QDir(UserFolders::dataFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(runs.size(), 1);
    // Claimed, so that a second program started now leaves its pages alone.
    QLockFile claim(QDir(UserFolders::dataFolder()).filePath(runs.first() + QStringLiteral(".lock")));
    claim.setStaleLockTime(0);
    QVERIFY(!claim.tryLock(0));
    QCOMPARE(dialogs.count(), 0);
    QVERIFY(!window.startupFailed());
}

void MainWindowTest::start_removesLeftoverRunFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QByteArray>("lock"); // "held": by a running program; other text: a lock file left behind
    QTest::addColumn<bool>("kept");
    const QStringList pages = {"0-0.dat", "12-3.dat"};
    QTest::newRow("pages of a closed run") << "1000" << pages << QByteArray() << false;
    QTest::newRow("empty run folder") << "1000" << QStringList() << QByteArray() << false;
    QTest::newRow("lock left by a crashed run") << "1000" << pages << QByteArray("2147483646\nsievra\n\n") << false;
    QTest::newRow("pages of a running program") << "1000" << pages << QByteArray("held") << true;
    QTest::newRow("a file that is no page") << "1000" << QStringList{"0-0.dat", "notes.txt"} << QByteArray() << true;
    QTest::newRow("page half written") << "1000" << QStringList{"0-0.dat", ".0-1.dat.part"} << QByteArray() << false;
    QTest::newRow("claim folder of an extraction")
        << "1000" << QStringList{"0-0.dat", ".extracting-aB3dE9/12-3.dat"} << QByteArray() << false;
    QTest::newRow("claim folder with no page")
        << "1000" << QStringList{".extracting-aB3dE9/notes.txt"} << QByteArray() << true;
    QTest::newRow("folder not named by a run stamp") << "01000" << pages << QByteArray() << true;
}

void MainWindowTest::start_removesLeftoverRunFolders()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, lock);
    QFETCH(bool, kept);
    TestHome home;
    const QString run = QDir(home.path()).filePath(QStringLiteral(".tarnix/sievra/data/") + folder);
    QVERIFY(QDir().mkpath(run));
    for (const QString& name : files) {
        QVERIFY(QDir(run).mkpath(QFileInfo(name).path()));
        QFile file(QDir(run).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QLockFile running(run + QStringLiteral(".lock"));
    QFile leftLock(run + QStringLiteral(".lock"));
    if (lock == "held")
        QVERIFY(running.tryLock(0));
    else if (!lock.isEmpty())
        QVERIFY(leftLock.open(QIODevice::WriteOnly) && leftLock.write(lock) == lock.size() && leftLock.flush());

    MainWindow window;
    QCOMPARE(QDir(run).exists(), kept);
    for (const QString& name : files)
        QCOMPARE(QFile::exists(QDir(run).filePath(name)), kept);
}

void MainWindowTest::folderThatCannotBeMade_showsMessage_data()
{
    QTest::addColumn<QString>("blockedPath");
    QTest::addColumn<int>("messages");
    // A plain file where a folder belongs makes its creation fail, and that of every folder below it.
    QTest::newRow("maker folder") << ".tarnix" << 4;
    QTest::newRow("output folder only") << ".tarnix/sievra/output" << 1;
}

void MainWindowTest::folderThatCannotBeMade_showsMessage()
{
    QFETCH(QString, blockedPath);
    QFETCH(int, messages);
    TestHome home;
    const QString blocked = QDir(home.path()).filePath(blockedPath);
    QVERIFY(QDir().mkpath(QFileInfo(blocked).path()));
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    DialogAnswerer dialogs;
    MainWindow window;
    const QList<DialogRecord> records = dialogs.records();
    // Later messages come from the fetchers that could not make their run folder under a missing data folder.
    QVERIFY(records.size() >= messages);
    for (int i = 0; i < messages; ++i) {
        QCOMPARE(records[i].title, QStringLiteral("Sievra v1.03"));
        QCOMPARE(records[i].text, QStringLiteral("Error establishing data directory, please restart the application"));
        QCOMPARE(records[i].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    QVERIFY(window.startupFailed());
}

void MainWindowTest::startsInItsInitialState()
{
    TestHome home;
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Sievra"));
    QCOMPARE(window.size(), QSize(777, 468));
    auto* tabs = child<QTabWidget>(&window, "tabWidget");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Leech Urls"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Proxy Lists"));
    QVERIFY(child<QRadioButton>(&window, "rbHarvestSingleLink")->isChecked());
    QVERIFY(child<QPushButton>(&window, "btnStart")->isEnabled());
    QVERIFY(!child<QPushButton>(&window, "btnStop")->isEnabled());
    QCOMPARE(child<QPushButton>(&window, "btnStart")->text(), QStringLiteral(" &Start"));
    QCOMPARE(child<QPushButton>(&window, "btnStop")->text(), QStringLiteral(" Sto&p"));
    QCOMPARE(child<QLabel>(&window, "lblUrls")->text(), QStringLiteral("TC:"));
    QCOMPARE(child<QLabel>(&window, "lblProxies")->text(), QStringLiteral("PE:  0"));
    QCOMPARE(child<QPushButton>(&window, "btnClear")->toolTip(), QStringLiteral("Remove All"));
    QCOMPARE(child<QPushButton>(&window, "btnSave")->toolTip(), QStringLiteral("Save Url List"));
    QCOMPARE(child<QPushButton>(&window, "btnRemoveDuplicates")->toolTip(), QStringLiteral("Remove Duplicates"));

    auto* threads = child<QComboBox>(&window, "cbThreads");
    QCOMPARE(threads->toolTip(), QStringLiteral("N Socket Threads"));
    QCOMPARE(threads->count(), 20);
    QCOMPARE(threads->itemText(0), QStringLiteral("       1 thread"));
    QCOMPARE(threads->itemText(19), QStringLiteral("       20 threads"));
    QCOMPARE(threads->currentText(), QStringLiteral("       5 threads"));
    threads->addItem(QStringLiteral("one more"));
    QCOMPARE(threads->count(), 20);

    QStringList entries;
    for (QAction* menuAction : window.menuBar()->actions()) {
        entries << menuAction->text();
        for (QAction* action : menuAction->menu()->actions())
            entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(entries, QStringList({"&File", "&Import Urls", "&Get Leech List", "-", "&Configure", "&Output Folder", "-",
                                   "&Exit", "&Tools", "&Scanner", "IP to Country", "&Help", "&Updates...",
                                   "&Learn More", "-", "&About"}));
    QVERIFY(!child<QAction>(&window, "action_Scanner")->isEnabled());

    for (const char* name : {"tableUrls", "tableLists"}) {
        auto* table = child<QTableWidget>(&window, name);
        QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(table->verticalScrollMode(), QAbstractItemView::ScrollPerPixel);
        QVERIFY(!table->showGrid());
        QVERIFY(table->verticalHeader()->isHidden());
        QVERIFY(!table->isSortingEnabled());
    }
}

void MainWindowTest::tableHeaders_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("leech urls") << "tableUrls" << QStringList({"Url Size", "Url Address", "Bytes"})
                                << QList<int>({100, 300, 100});
    QTest::newRow("proxy lists") << "tableLists" << QStringList({"Filename", "File Size", "Proxies", "Compile", "Date"})
                                 << QList<int>({200, 100, 100, 100, 100});
}

void MainWindowTest::tableHeaders()
{
    QFETCH(QString, table);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, widths);
    TestHome home;
    MainWindow window;
    auto* widget = window.findChild<QTableWidget*>(table);
    QCOMPARE(widget->columnCount(), texts.size());
    for (int column = 0; column < texts.size(); ++column) {
        QTableWidgetItem* item = widget->horizontalHeaderItem(column);
        QCOMPARE(item->text(), texts[column]);
        QVERIFY(!item->icon().isNull());
        QCOMPARE(item->textAlignment(), int(Qt::AlignVCenter));
        QCOMPARE(item->sizeHint(), QSize(widths[column], 32));
    }
}

void MainWindowTest::relayout_followsEveryResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("tabs");
    QTest::addColumn<QRect>("urls");
    QTest::addColumn<QRect>("lists");
    QTest::addColumn<int>("boxTop");
    QTest::newRow("initial") << QSize(777, 468) << QRect(10, 10, 761, 416) << QRect(10, 8, 736, 306)
                             << QRect(10, 8, 736, 376) << 321;
    QTest::newRow("larger") << QSize(1024, 700) << QRect(10, 10, 1008, 648) << QRect(10, 8, 983, 538)
                            << QRect(10, 8, 983, 608) << 553;
    // A negative height is kept (Qt draws it as an empty rectangle) and the boxes follow it upwards.
    QTest::newRow("tiny") << QSize(100, 100) << QRect(10, 10, 84, 48) << QRect(10, 8, 59, -62) << QRect(10, 8, 59, 8)
                          << -47;
}

void MainWindowTest::relayout_followsEveryResize()
{
    QFETCH(QSize, size);
    QFETCH(QRect, tabs);
    QFETCH(QRect, urls);
    QFETCH(QRect, lists);
    QFETCH(int, boxTop);
    TestHome home;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Go through another size first, so each row checks a real change.
    window.resize(size + QSize(37, 23));
    QTRY_COMPARE(window.size(), size + QSize(37, 23));
    window.resize(size);
    QTRY_COMPARE(window.size(), size);

    QCOMPARE(child<QTabWidget>(&window, "tabWidget")->geometry(), tabs);
    QCOMPARE(child<QTableWidget>(&window, "tableUrls")->geometry(), urls);
    QCOMPARE(child<QTableWidget>(&window, "tableLists")->geometry(), lists);
    const char* const boxes[] = {"gbScanOption", "gbSockets", "gbLeechListOptions", "gbProgramActions", "gbStatus"};
    const QRect boxRects[] = {{10, boxTop, 131, 61},
                              {150, boxTop, 131, 61},
                              {290, boxTop, 141, 61},
                              {440, boxTop, 161, 61},
                              {610, boxTop, 101, 61}};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(child<QGroupBox>(&window, boxes[i])->geometry(), boxRects[i]);
}

void MainWindowTest::about_eachUseOpensAnotherWindow_showingTheChangeLog()
{
    TestHome home;
    const QString changeLog = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("changelog.txt"));
    QFile::remove(changeLog);
    MainWindow window;
    auto* about = child<QAction>(&window, "action_About");
    about->trigger();
    QFile file(changeLog);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Sievra 1.03\n- first entry\n") > 0);
    file.close();
    about->trigger();
    QFile::remove(changeLog);
    const QList<AboutWindow*> windows = window.findChildren<AboutWindow*>();
    QCOMPARE(windows.size(), 2);
    QCOMPARE(child<QTextEdit>(windows[0], "txtChangeLog")->toPlainText(), QString());
    QCOMPARE(child<QTextEdit>(windows[1], "txtChangeLog")->toPlainText(),
             QStringLiteral("Sievra 1.03\n- first entry\n"));
    for (AboutWindow* each : windows) {
        QVERIFY(each->isVisible());
        QCOMPARE(each->windowTitle(), QStringLiteral("About Sievra"));
        QCOMPARE(child<QLabel>(each, "lblTitle")->text(), QStringLiteral("Sievra 1.03"));
        QCOMPARE(child<QLabel>(each, "lblVersion")->text(), QStringLiteral("Version 1.03"));
        QCOMPARE(each->maximumSize(), QSize(344, 290));
        QVERIFY(child<QTextEdit>(each, "txtChangeLog")->isReadOnly());
    }
    // Closing only hides: the windows stay until the main window goes.
    child<QPushButton>(windows.first(), "btnClose")->click();
    QVERIFY(!windows.first()->isVisible());
    QCOMPARE(window.findChildren<AboutWindow*>().size(), 2);
}

void MainWindowTest::menuActions_openTheirTargets()
{
    TestHome home;
    DesktopCapture desktop;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    child<QAction>(&window, "action_Learn_More")->trigger();
    child<QAction>(&window, "actionOutput_Folder")->trigger();
    QCOMPARE(desktop.urls(), QList<QUrl>({QUrl(ExternalHosts::guidePage),
                                          QUrl::fromLocalFile(UserFolders::outputFolder() + QStringLiteral("/"))}));
    QVERIFY(QDir(desktop.urls().at(1).toLocalFile()).exists());

    child<QAction>(&window, "actionConfig")->trigger();
    QVERIFY(window.findChild<ConfigWindow*>()->isVisible());
    child<QAction>(&window, "actionIP_Country_Lookup")->trigger();
    QVERIFY(window.findChild<IPToCountry*>()->isVisible());
    // The scanner entry is there but does nothing.
    child<QAction>(&window, "action_Scanner")->trigger();
    QCOMPARE(desktop.urls().size(), 2);

    child<QAction>(&window, "action_Exit")->trigger();
    QVERIFY(!window.isVisible());
}

void MainWindowTest::settings_writtenAtExitOnly()
{
    TestHome home;
    auto window = std::make_unique<MainWindow>();
    QVERIFY(!QFile::exists(UserFolders::configFile()));

    auto* config = window->findChild<ConfigWindow*>();
    child<QAction>(window.get(), "actionConfig")->trigger();
    child<QComboBox>(config, "cbLeechTimeout")->setCurrentIndex(3);
    child<QComboBox>(config, "cbLeechDepth")->setCurrentIndex(2);
    child<QLineEdit>(config, "txtOutputFormat")->setText(QStringLiteral("a c"));
    child<QPushButton>(config, "btnClose")->click();
    QCoreApplication::processEvents();
    QVERIFY(!QFile::exists(UserFolders::configFile()));

    window.reset();
    QFile file(UserFolders::configFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = CSettingsCipher::unscramble(QString::fromLatin1(file.readAll()));
    QVERIFY(text.contains(QStringLiteral("<timeout>3</timeout>\r\n<depth>3</depth>\r\n<output>A C</output>")));
}

void MainWindowTest::harvest_showsWhatTheEngineReports()
{
    TestHome home;
    MainWindow window;
    auto* engine = window.findChild<CHarvestEngine*>();
    QVERIFY(engine);
    auto* table = child<QTableWidget>(&window, "tableUrls");
    const QString first = QStringLiteral("http://www.one.com/a.html");
    const QString second = QStringLiteral("http://www.two.com/b.html");
    for (const QString& url : {first, first, second}) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 1, new QTableWidgetItem(url));
    }
    auto* threads = child<QComboBox>(&window, "cbThreads");
    auto* bar = child<QProgressBar>(&window, "crawlProgress");
    auto* tally = child<QLabel>(&window, "lblProxies");
    QSignalSpy barValues(bar, &QProgressBar::valueChanged);

    emit engine->harvestStarting();
    QCOMPARE(tally->text(), QStringLiteral("PE: 0"));
    // The selector is the engine's thread count, both ways.
    emit engine->threadsLimited(3);
    QCOMPARE(threads->currentIndex(), 2);
    threads->setCurrentIndex(1);
    QCOMPARE(engine->threads(), 2);
    for (quint32 completed = 1; completed <= 3; ++completed)
        emit engine->reportCounted(completed, 2);
    QCOMPARE(barValues.size(), 2);
    QCOMPARE(bar->value(), 100); // a report beyond the fetchers in use leaves the bar

    // A URL listed twice: its sizes go to its first row, the later one in place of the earlier.
    emit engine->pagesFetched({CCrawlResult(0, 1500, first), CCrawlResult(1, 10, first), CCrawlResult(2, 0, second)});
    QCOMPARE(table->item(0, 2)->text(), formatByteSize(10));
    QCOMPARE(table->item(0, 2)->textAlignment(), int(Qt::AlignCenter));
    QVERIFY(!table->item(1, 2));
    QCOMPARE(table->item(2, 2)->text(), QStringLiteral("0 bytes"));

    emit engine->proxiesFound(5);
    QCOMPARE(tally->text(), QStringLiteral("PE: 5"));
    // A single crawl leaves the controls as they are.
    QVERIFY(child<QPushButton>(&window, "btnStart")->isEnabled());
    QVERIFY(!child<QPushButton>(&window, "btnStop")->isEnabled());

    emit engine->harvestComplete();
    QCOMPARE(bar->value(), 0);
    QCOMPARE(tally->text(), QStringLiteral("PE: 0"));
    QCOMPARE(child<QTabWidget>(&window, "tabWidget")->currentIndex(), 1);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
