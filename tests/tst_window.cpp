#include "app/mainwindow.h"
#include "qtlib/updatesys/updatequery.h"
#include "settings/config.h"
#include "settings/settingscipher.h"
#include "settings/userfolders.h"
#include "tests/support/loopback.h"
#include "tests/support/testkit.h"
#include "util/externalhosts.h"
#include "util/formatting.h"
#include "windows/aboutwindow.h"
#include "windows/configwindow.h"
#include "windows/iptocountry.h"
#include "windows/updateprompt.h"

#include <limits>
#include <time.h> // NOLINT(modernize-deprecated-headers): tzset() is POSIX, <ctime> need not declare it

using TXL::QtLib::UpdateSys::CUpdateQuery;

Q_DECLARE_METATYPE(FakeReply)

namespace {

const QString sample = u"37-2012-07-03-1341302400-1341306000.txt"_s;
const QString other = u"2-2012-07-03-1341302400-1341309600.txt"_s;
const QString placeholder = u"... ... ... ... ... ... ... ..."_s;
// What the program does while an update check waits for its answer.
enum Then { Wait, Leave, AskAgain };

QString outputPath(const QString& name)
{
    return QDir(UserFolders::outputFolder()).filePath(name);
}

// Sparse: a file of gigabytes costs nothing.
void writeOutputFile(const QString& name, qint64 size)
{
    QVERIFY(writeFile(outputPath(name), {}) && QFile::resize(outputPath(name), size));
}

// The boxes of the window all ask a question.
void checkBox(const DialogRecord& box, const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
              bool windowIcon)
{
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, buttons);
    QCOMPARE(box.hasWindowIcon, windowIcon);
}

QStringList itemTexts(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

// The main window: its folders at start, its state and layout, its menus, the leech URL table, the Proxy
// Lists table of output files, and how it shows what the harvest engine reports; the Configuration window, the
// update check's boxes and the country lookup, against a scripted server on loopback.
class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Eleven hours behind UTC, so a date in UTC or of the start time shows as another day.
        qputenv("TZ", "<-11>11");
        tzset();
    }

    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_dialogs = std::make_unique<DialogAnswerer>();
        m_desktop = std::make_unique<DesktopCapture>();
    }

    void cleanup()
    {
        DialogAnswerer::closeLeftoverModals();
        m_window.reset();
        stopLoopbackServer(m_server);
        m_desktop.reset();
        m_dialogs.reset();
        m_home.reset();
    }

    void firstStart_makesTheFoldersSilentlyAndShowsTheInitialState()
    {
        openWindow();
        // The fetchers found the data folder in place and made the run folder in it.
        const QStringList runs = QDir(UserFolders::dataFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(runs.size(), 1);
        // Claimed, so that a second program started now leaves its pages alone.
        QLockFile claim(QDir(UserFolders::dataFolder()).filePath(runs.first() + ".lock"));
        claim.setStaleLockTime(0);
        QVERIFY(!claim.tryLock(0));
        QCOMPARE(m_dialogs->count(), 0);
        QVERIFY(!m_window->startupFailed());

        QVERIFY(child<QRadioButton>("rbHarvestSingleLink")->isChecked());
        QVERIFY(child<QPushButton>("btnStart")->isEnabled());
        QVERIFY(!child<QPushButton>("btnStop")->isEnabled());
        QVERIFY(!child<QAction>("action_Scanner")->isEnabled());

        // The window's own texts: title, tabs, buttons, labels, tool tips, the fetcher choices and their default,
        // the menus and both tables' headers.
        QStringList texts{m_window->windowTitle(), tabTitle(), child<QTabWidget>("tabWidget")->tabText(1)};
        for (const char* name : {"btnStart", "btnStop", "lblUrls", "lblProxies"})
            texts << child<QWidget>(name)->property("text").toString();
        for (const char* name : {"btnClear", "btnSave", "btnRemoveDuplicates", "cbThreads"})
            texts << child<QWidget>(name)->toolTip();
        auto* threads = child<QComboBox>("cbThreads");
        texts << QString::number(threads->count()) << threads->itemText(0) << threads->itemText(19)
              << threads->currentText();
        for (QAction* menuAction : m_window->menuBar()->actions()) {
            texts << menuAction->text();
            for (QAction* action : menuAction->menu()->actions())
                texts << (action->isSeparator() ? u"-"_s : action->text());
        }
        for (const char* name : {"tableUrls", "tableLists"}) {
            for (int column = 0; column < child<QTableWidget>(name)->columnCount(); ++column)
                texts << child<QTableWidget>(name)->horizontalHeaderItem(column)->text();
        }
        QCOMPARE(texts, QStringList({"Sievra", "Leech Urls", "Proxy Lists", " &Start", " Sto&p", "TC:", "PE:  0",
                                     "Remove All", "Save Url List", "Remove Duplicates", "N Socket Threads", "20",
                                     "       1 thread", "       20 threads", "       5 threads"}) +
                            QStringList({"&File", "&Import Urls", "&Get Leech List", "-", "&Configure",
                                         "&Output Folder", "-", "&Exit", "&Tools", "&Scanner", "IP to Country", "&Help",
                                         "&Updates...", "&Learn More", "-", "&About"}) +
                            QStringList({"Url Size", "Url Address", "Bytes", "Filename", "File Size", "Proxies",
                                         "Compile", "Date"}));
    }

    void start_removesLeftoverRunFolders_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QByteArray>("lock"); // "held": by a running program; other text: a lock file left behind
        QTest::addColumn<bool>("kept");
        const QStringList pages = {"0-0.dat", "12-3.dat"};
        QTest::newRow("pages of a closed run") << "1000" << pages << QByteArray() << false;
        QTest::newRow("empty run folder") << "1000" << QStringList() << QByteArray() << false;
        QTest::newRow("lock left by a crashed run") << "1000" << pages << "2147483646\nsievra\n\n"_ba << false;
        QTest::newRow("pages of a running program") << "1000" << pages << "held"_ba << true;
        QTest::newRow("a file that is no page")
            << "1000" << QStringList{"0-0.dat", "notes.txt"} << QByteArray() << true;
        QTest::newRow("page half written")
            << "1000" << QStringList{"0-0.dat", ".0-1.dat.part"} << QByteArray() << false;
        QTest::newRow("claim folder of an extraction")
            << "1000" << QStringList{"0-0.dat", ".extracting-aB3dE9/12-3.dat"} << QByteArray() << false;
        QTest::newRow("claim folder with no page")
            << "1000" << QStringList{".extracting-aB3dE9/notes.txt"} << QByteArray() << true;
        QTest::newRow("folder not named by a run stamp") << "01000" << pages << QByteArray() << true;
    }

    void start_removesLeftoverRunFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, files);
        QFETCH(QByteArray, lock);
        QFETCH(bool, kept);
        const QString run = QDir(m_home->path()).filePath(".tarnix/sievra/data/" + folder);
        QVERIFY(QDir().mkpath(run));
        for (const QString& name : files)
            QVERIFY(writeFile(QDir(run).filePath(name), {}));
        QLockFile running(run + ".lock");
        if (lock == "held")
            QVERIFY(running.tryLock(0));
        else if (!lock.isEmpty())
            QVERIFY(writeFile(run + ".lock", lock));

        openWindow();
        QCOMPARE(QDir(run).exists(), kept);
        for (const QString& name : files)
            QCOMPARE(QFile::exists(QDir(run).filePath(name)), kept);
    }

    void folderThatCannotBeMade_showsMessage_data()
    {
        QTest::addColumn<QString>("blockedPath");
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("fetchers"); // that could not make their run folder under a missing data folder
        // A plain file where a folder belongs makes its creation fail, and that of every folder below it.
        QTest::newRow("maker folder") << ".tarnix" << 4 << 20;
        QTest::newRow("output folder only") << ".tarnix/sievra/output" << 1 << 0;
    }

    void folderThatCannotBeMade_showsMessage()
    {
        QFETCH(QString, blockedPath);
        QFETCH(int, messages);
        QFETCH(int, fetchers);
        QVERIFY(writeFile(QDir(m_home->path()).filePath(blockedPath), {}));

        openWindow();
        const QList<DialogRecord> records = m_dialogs->records();
        QCOMPARE(records.size(), messages + fetchers);
        for (int i = 0; i < messages; ++i) {
            QCOMPARE(records[i].title, u"Sievra v1.03"_s);
            QCOMPARE(records[i].text, u"Error establishing data directory, please restart the application"_s);
            QCOMPARE(records[i].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        for (const DialogRecord& record : records.mid(messages))
            QCOMPARE(record.title + u": "_s + record.text, u"Sievra: Error creating data directory"_s);
        QVERIFY(m_window->startupFailed());
    }

    void relayout_followsEveryResize()
    {
        openWindow();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // Smaller (a negative height is kept), then back to the opening size: every resize lays it out again.
        m_window->resize(100, 100);
        QTRY_COMPARE(m_window->size(), QSize(100, 100));
        QCOMPARE(child<QTableWidget>("tableUrls")->geometry(), QRect(10, 8, 59, -62));
        m_window->resize(777, 468);
        QTRY_COMPARE(m_window->size(), QSize(777, 468));
        QCOMPARE(child<QTabWidget>("tabWidget")->geometry(), QRect(10, 10, 761, 416));
        QCOMPARE(child<QTableWidget>("tableUrls")->geometry(), QRect(10, 8, 736, 306));
        QCOMPARE(child<QTableWidget>("tableLists")->geometry(), QRect(10, 8, 736, 376));
        const char* const boxes[] = {"gbScanOption", "gbSockets", "gbLeechListOptions", "gbProgramActions", "gbStatus"};
        const int lefts[] = {10, 150, 290, 440, 610};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(child<QGroupBox>(boxes[i])->pos(), QPoint(lefts[i], 321));
    }

    void menuActions_openTheirTargets_settingsWrittenAtExitOnly()
    {
        openWindow();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // About: each use opens another window, showing the change log found at that moment.
        const QString changeLog = QDir(QCoreApplication::applicationDirPath()).filePath(u"changelog.txt"_s);
        QFile::remove(changeLog);
        auto* about = child<QAction>("action_About");
        about->trigger();
        QVERIFY(writeFile(changeLog, "Sievra 1.03\n- first entry\n"));
        about->trigger();
        QFile::remove(changeLog);
        const QList<AboutWindow*> windows = m_window->findChildren<AboutWindow*>();
        QCOMPARE(windows.size(), 2);
        QCOMPARE(::child<QTextEdit>(windows[0], "txtChangeLog")->toPlainText(), QString());
        QCOMPARE(::child<QTextEdit>(windows[1], "txtChangeLog")->toPlainText(), u"Sievra 1.03\n- first entry\n"_s);
        for (AboutWindow* each : windows) {
            QVERIFY(each->isVisible());
            QCOMPARE(each->windowTitle(), u"About Sievra"_s);
            QCOMPARE(::child<QLabel>(each, "lblTitle")->text(), u"Sievra 1.03"_s);
            QCOMPARE(::child<QLabel>(each, "lblVersion")->text(), u"Version 1.03"_s);
        }
        // Closing only hides: the windows stay until the main window goes.
        ::child<QPushButton>(windows.first(), "btnClose")->click();
        QVERIFY(!windows.first()->isVisible());
        QCOMPARE(m_window->findChildren<AboutWindow*>().size(), 2);
        child<QAction>("action_Learn_More")->trigger();
        child<QAction>("actionOutput_Folder")->trigger();
        QCOMPARE(m_desktop->urls(),
                 QList<QUrl>({QUrl(ExternalHosts::guidePage), QUrl::fromLocalFile(UserFolders::outputFolder() + "/")}));
        QVERIFY(QDir(m_desktop->urls().at(1).toLocalFile()).exists());
        child<QAction>("actionIP_Country_Lookup")->trigger();
        QVERIFY(m_window->findChild<IPToCountry*>()->isVisible());

        auto* config = m_window->findChild<ConfigWindow*>();
        child<QAction>("actionConfig")->trigger();
        QVERIFY(config->isVisible());
        ::child<QComboBox>(config, "cbLeechTimeout")->setCurrentIndex(3);
        ::child<QComboBox>(config, "cbLeechDepth")->setCurrentIndex(2);
        ::child<QLineEdit>(config, "txtOutputFormat")->setText(u"a c"_s);
        ::child<QPushButton>(config, "btnClose")->click();
        child<QAction>("action_Exit")->trigger();
        QVERIFY(!m_window->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!QFile::exists(UserFolders::configFile()));
        m_window.reset();
        const QString text = CSettingsCipher::unscramble(QString::fromLatin1(readFile(UserFolders::configFile())));
        QVERIFY(text.contains(u"<timeout>3</timeout>\r\n<depth>3</depth>\r\n<output>A C</output>"_s));
    }

    void harvest_showsWhatTheEngineReports()
    {
        openWindow();
        auto* engine = m_window->findChild<CHarvestEngine*>();
        QVERIFY(engine);
        auto* table = child<QTableWidget>("tableUrls");
        const QString first = u"http://www.one.com/a.html"_s;
        const QString second = u"http://www.two.com/b.html"_s;
        addUrlRows({{QString(), first}, {QString(), first}, {QString(), second}});
        auto* bar = child<QProgressBar>("crawlProgress");
        auto* tally = child<QLabel>("lblProxies");
        QSignalSpy barValues(bar, &QProgressBar::valueChanged);

        // The form's text has two blanks before its 0.
        emit engine->proxiesFound(41);
        QCOMPARE(tally->text(), u"PE: 41"_s);
        emit engine->harvestStarting();
        QCOMPARE(tally->text(), u"PE: 0"_s);
        for (quint32 completed = 1; completed <= 3; ++completed)
            emit engine->reportCounted(completed, 2);
        QCOMPARE(barValues.size(), 2);
        QCOMPARE(bar->value(), 100); // a report beyond the fetchers in use leaves the bar

        // A URL listed twice: its sizes go to its first row, the later one in place of the earlier.
        emit engine->pagesFetched(
            {CCrawlResult(0, 1500, first), CCrawlResult(1, 10, first), CCrawlResult(2, 0, second)});
        QCOMPARE(table->item(0, 2)->text(), formatByteSize(10));
        QVERIFY(!table->item(1, 2));

        emit engine->proxiesFound(5);
        emit engine->proxiesFound(37);
        QCOMPARE(tally->text(), u"PE: 42"_s);
        emit engine->noProxyResults();
        checkBox(m_dialogs->last(), "Sievra v1.03", "No proxies found", QMessageBox::Ok, true);

        emit engine->harvestComplete();
        QCOMPARE(bar->value(), 0);
        QCOMPARE(tally->text(), u"PE: 0"_s);
        QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
    }

    void addAndImport_onlyWhatPassesTheDomainCheck()
    {
        openWindow();
        m_dialogs->enterText(u"http://www.example.com/list.htm"_s);
        m_dialogs->enterText(u"https://www.example.com/"_s);
        m_dialogs->enterText(u"http://www.example.com/"_s, false);
        for (int i = 0; i < 3; ++i)
            child<QPushButton>("btnAdd")->click();
        QCOMPARE(m_dialogs->count(), 3);
        for (const DialogRecord& asked : m_dialogs->records())
            QCOMPARE(asked.title + u": "_s + asked.text, u"Add Url: Please provide a URL"_s);
        QCOMPARE(urls(), QStringList{"http://www.example.com/list.htm"});
        // Eight bytes a character.
        auto* table = child<QTableWidget>("tableUrls");
        QCOMPARE(table->item(0, 0)->text(), u"         248 bytes"_s);
        // Adding by hand leaves the tab title alone; an import counts every row.
        QCOMPARE(tabTitle(), u"Leech Urls"_s);

        const QString path = QDir(m_home->path()).filePath(u"import.txt"_s);
        // A host is up to three labels, the last one or two of two to four letters; no scheme but "http://".
        QVERIFY(writeFile(
            path,
            "http://www.good.com/list\r\n\r\njust some words\r\nwww.trailing.com \r\nhttps://x.com/\r\n"
            "http://www.caf\xc3\xa9.com/\r\nwww.example.co.uk/x\r\nhttp://WWW.EXAMPLE.COM/\r\nhttp://example.info\r\n"
            "http://example.money\r\nhttp://example.x\r\nhttp://a.b.example.com/\r\nHTTP://www.example.com/\r\n"
            "http://www.example.com:8080/list\r\nb.org"));
        m_dialogs->chooseFile(path);
        child<QAction>("actionImport_Urls")->trigger();
        QCOMPARE(urls(), QStringList({"http://www.example.com/list.htm", "http://www.good.com/list",
                                      u"http://www.caf\u00e9.com/"_s, "www.example.co.uk/x", "http://WWW.EXAMPLE.COM/",
                                      "http://example.info", "b.org"}));
        QCOMPARE(tabTitle(), u"Leech Urls (7)"_s);
        // Cancelling the file dialog adds nothing.
        m_dialogs->chooseFile(path, false);
        child<QAction>("actionImport_Urls")->trigger();
        QCOMPARE(table->rowCount(), 7);
    }

    void removeDuplicatesThenUrls_asksBeforeRemoving()
    {
        openWindow();
        // Rows are equal when every cell is, in its case; a missing cell counts as empty text. No question asked.
        addUrlRows({{"s", "a.com", ""},
                    {"s", "b.com", ""},
                    {"s", "a.com", ""},
                    {"s", "a.com", ""},
                    {"s", "c.com", ""},
                    {"s", "a.com", "1.00 kB"},
                    {"s", "a.com", QString()},
                    {"s", "A.com", ""}});
        auto* button = child<QPushButton>("btnRemoveDuplicates");
        button->click();
        QCOMPARE(urls(), QStringList({"a.com", "b.com", "c.com", "a.com", "A.com"}));
        QVERIFY(button->isEnabled());
        auto* table = child<QTableWidget>("tableUrls");
        table->setRowCount(0);
        addUrlRows({{"s", "www.a.com"}, {"s", " www.b.com "}, {"s", "www.c.com"}});
        child<QTabWidget>("tabWidget")->setTabText(0, u"Leech Urls (3)"_s);
        // The Delete key: with nothing selected nothing is asked; No keeps the row, Yes removes it.
        focusTable("tableUrls", 0);
        table->clearSelection();
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_dialogs->count(), 0);
        table->setCurrentCell(1, 1);
        table->selectRow(1);
        for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            m_dialogs->pressButton(answer);
            focusTable("tableUrls", 0);
            QTest::keyClick(table, Qt::Key_Delete);
        }
        QCOMPARE(urls(), QStringList({"www.a.com", "www.c.com"}));
        QCOMPARE(tabTitle(), u"Leech Urls (2)"_s);

        // Remove All, the same way; with no rows left there is nothing to ask.
        m_dialogs->pressButton(QMessageBox::No);
        child<QPushButton>("btnClear")->click();
        QCOMPARE(table->rowCount(), 2);
        m_dialogs->pressButton(QMessageBox::Yes);
        child<QPushButton>("btnClear")->click();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(tabTitle(), u"Leech Urls"_s);
        child<QPushButton>("btnClear")->click();

        QStringList asked;
        for (const DialogRecord& box : m_dialogs->records()) {
            asked << box.title + u": "_s + box.text;
            QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box.defaultButton, QMessageBox::No);
            QCOMPARE(box.icon, QMessageBox::Question);
            QCOMPARE(box.hasWindowIcon, box.title != u"Confirm"_s);
        }
        QCOMPARE(asked, QStringList({"Confirm: Delete Url: www.b.com ...", "Confirm: Delete Url: www.b.com ...",
                                     "Sievra v1.03: Confirm deletion of 2 URLs...",
                                     "Sievra v1.03: Confirm deletion of 2 URLs..."}));
    }

    void saveUrls()
    {
        openWindow();
        addUrlRows(
            {{"s", "http://www.one.com/a.html"}, {"s", "two.co.uk"}, {"s", u"http://www.caf\u00e9.com/\u20ac.html"_s}});
        const QString path = QDir(m_home->path()).filePath(u"list.txt"_s);
        // The device opens, even for root, but every write fails.
        const QList<QPair<QString, QString>> saves = {{path, "Url list successfully saved."},
                                                      {"/dev/full", "Url list could not be saved to /dev/full"}};
        for (const auto& [file, told] : saves) {
            m_dialogs->clear();
            m_dialogs->chooseFile(file);
            if (QFile::exists(file))
                m_dialogs->pressButton(QMessageBox::Yes); // the file dialog asks before replacing a file
            m_dialogs->pressButton(QMessageBox::Ok);
            child<QPushButton>("btnSave")->click();
            QCOMPARE(m_dialogs->records().first().title, u"Sievra 1.03"_s);
            QCOMPARE(m_dialogs->last().title, u"Sievra v1.03"_s);
            QCOMPARE(m_dialogs->last().text, told);
            QCOMPARE(m_dialogs->last().icon, file == path ? QMessageBox::Information : QMessageBox::Warning);
        }
        QCOMPARE(readFile(path),
                 "http://www.one.com/a.html\ntwo.co.uk\nhttp://www.caf\xc3\xa9.com/\xe2\x82\xac.html\n"_ba);
        QCOMPARE(tabTitle(), u"Leech Urls (3)"_s);
    }

    void outputTable_listsRecognisedFilesInLocalTime()
    {
        const QList<QPair<QString, qint64>> files = {
            {"123456-2012-07-03-1341302400-1341306000.txt", 1},
            {"3-2012-07-03-1341302400-134130600.txt", 1},
            {"3-2012-07-03-1341302400-1341306000.txt.bak", 1},
            {"2012-07-03-1341302400-1341306000.txt", 1},
            {sample, 1536},
            {"00042-2012-07-04-1341302400-1341392461.txt", 0},
            {"5-2012-07-03-1341302400-1341302400.txt", 1023},
            {"6-2012-07-03-1341302400-1341302459.txt", 1024},
            {"7-2012-07-03-1341302400-1341302460.txt", 1048575},
            {"8-2012-07-03-1341302400-1341907199.txt", 1048576},
            {"9-2012-07-03-1341302400-1341907201.txt", 4294967295},
            // The name is matched ignoring case but ".txt" is cut off case-sensitively: the end time reads as 0.
            {"4-2012-07-03-1341302400-1341306000.TXT", 1},
        };
        for (const auto& [name, size] : files)
            writeOutputFile(name, size);
        // A folder named like an output file is no file.
        QVERIFY(QDir(UserFolders::outputFolder()).mkdir("1-2012-07-03-1341302400-1341306000.txt"));
        openWindow();

        auto* table = child<QTableWidget>("tableLists");
        QStringList rows;
        for (int row = 0; row < table->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < 5; ++column)
                cells << (table->item(row, column) ? table->item(row, column)->text() : u"<none>"_s);
            rows << cells.join(" | ");
        }
        // The rows follow the file system's own order, which the test does not rely on.
        rows.sort();
        QCOMPARE(rows,
                 QStringList({
                     "     00042-2012-07-04-1341302400-1341392461.txt | 0 bytes | 00042 | 1d 1h 1m 1s | 03/07/2012",
                     "     37-2012-07-03-1341302400-1341306000.txt | 1.50 kB | 37 | 1h | 02/07/2012",
                     "     4-2012-07-03-1341302400-1341306000.TXT | 1 bytes | 4 | 4883w 4d 22h 28m 16s | 31/12/1969",
                     "     5-2012-07-03-1341302400-1341302400.txt | 1023 bytes | 5 |  | 02/07/2012",
                     "     6-2012-07-03-1341302400-1341302459.txt | 1.00 kB | 6 | 59s | 02/07/2012",
                     "     7-2012-07-03-1341302400-1341302460.txt | 1024.00 kB | 7 | 1m | 02/07/2012",
                     "     8-2012-07-03-1341302400-1341907199.txt | 1.00 MB | 8 | 6d 23h 59m 59s | 09/07/2012",
                     "     9-2012-07-03-1341302400-1341907201.txt | 4.00 GB | 9 | 1w 1s | 09/07/2012",
                 }));
    }

    void outputTable_deleteKeyAsks_anyKeyRebuilds_doubleClickOpens()
    {
        writeOutputFile(sample, 1);
        openWindow();
        auto* table = child<QTableWidget>("tableLists");
        // Focus elsewhere, or no row selected: nothing is asked, nothing goes.
        focusTable("tableLists", 1);
        table->selectRow(0);
        child<QTabWidget>("tabWidget")->setCurrentIndex(0);
        child<QWidget>("btnStart")->setFocus();
        QTRY_VERIFY(!table->hasFocus());
        QTest::keyClick(m_window.get(), Qt::Key_Delete);
        focusTable("tableLists", 1);
        table->clearSelection();
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_dialogs->count(), 0);

        // Any key reads the folder again; No keeps file and row.
        writeOutputFile(other, 1);
        m_dialogs->pressButton(QMessageBox::No);
        table->selectRow(outputRow(sample));
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_dialogs->count(), 1);
        const DialogRecord confirm = m_dialogs->last();
        checkBox(confirm, "Confirm", "Delete: " + sample + " ...", QMessageBox::Yes | QMessageBox::No, false);
        QCOMPARE(confirm.defaultButton, QMessageBox::No);
        QVERIFY(QFile::exists(outputPath(sample)) && outputRow(sample) >= 0 && outputRow(other) >= 0);

        // The name comes to stand for a folder, which no file removal takes away: the user is told, the row goes.
        QVERIFY(QFile::remove(outputPath(sample)) && QDir(UserFolders::outputFolder()).mkdir(sample));
        m_dialogs->pressButton(QMessageBox::Yes);
        m_dialogs->pressButton(QMessageBox::Yes);
        focusTable("tableLists", 1);
        table->selectRow(outputRow(sample));
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_dialogs->count(), 3);
        checkBox(m_dialogs->last(), "Sievra v1.03", "File could not be removed", QMessageBox::Yes, true);
        QVERIFY(QFileInfo(outputPath(sample)).isDir() && outputRow(sample) < 0);

        // Yes removes file and row.
        m_dialogs->pressButton(QMessageBox::Yes);
        focusTable("tableLists", 1);
        table->selectRow(outputRow(other));
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_dialogs->count(), 4);
        QVERIFY(!QFile::exists(outputPath(other)) && outputRow(other) < 0);

        // Whichever cell is double-clicked: only the Filename cell holds the name.
        writeOutputFile(other, 1);
        QTest::keyClick(m_window.get(), Qt::Key_A);
        focusTable("tableLists", 1);
        const QPoint date = table->visualItemRect(table->item(outputRow(other), 4)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, date);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, date);
        QCOMPARE(m_desktop->urls(), QList<QUrl>{QUrl::fromLocalFile(outputPath(other))});
    }

    void configWindow_showsStoredChoices_storesOnSaveOnly_data()
    {
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("timeoutIndex");
        QTest::addColumn<int>("depthIndex");
        QTest::newRow("first choices") << 0 << 1 << 0 << 0;
        QTest::newRow("last choices") << 3 << 5 << 3 << 4;
        QTest::newRow("just beyond the choices") << 4 << 6 << -1 << -1;
        QTest::newRow("just below the choices") << -1 << 0 << -1 << -1;
        QTest::newRow("farthest values") << std::numeric_limits<int>::max() << std::numeric_limits<int>::min() << -1
                                         << -1;
    }

    void configWindow_showsStoredChoices_storesOnSaveOnly()
    {
        QFETCH(int, timeout);
        QFETCH(int, depth);
        QFETCH(int, timeoutIndex);
        QFETCH(int, depthIndex);
        CConfig config;
        config.setTimeout(timeout);
        config.setDepth(depth);
        ConfigWindow form;
        form.setConfig(&config);
        auto* timeouts = ::child<QComboBox>(&form, "cbLeechTimeout");
        auto* depths = ::child<QComboBox>(&form, "cbLeechDepth");
        auto* format = ::child<QLineEdit>(&form, "txtOutputFormat");
        QCOMPARE(itemTexts(timeouts) + itemTexts(depths) << format->toolTip() << form.windowTitle(),
                 QStringList({"10 secs", "15 secs", "20 secs", "25 secs", "1 node", "2 nodes", "3 nodes", "4 nodes",
                              "5 nodes", "A = Address; P = Port, B = Binary, C = Class", "Configuration"}));
        QCOMPARE(timeouts->currentIndex(), timeoutIndex);
        QCOMPARE(depths->currentIndex(), depthIndex);
        QCOMPARE(format->text(), u"A:P"_s);
        // Closing stores nothing; shown again, the unsaved entry is still there for a later Save.
        form.show();
        format->setText(u"a:p c\tt"_s);
        form.close();
        QCOMPARE(config.outputFormat(), u"A:P"_s);
        form.show();
        QCOMPARE(format->text(), u"a:p c\tt"_s);
        // Save upper-cases the template; a list left without a selection keeps the value the settings hold.
        QTest::mouseClick(::child<QPushButton>(&form, "btnClose"), Qt::LeftButton);
        QCOMPARE(config.timeout(), timeout);
        QCOMPARE(config.depth(), depth);
        QCOMPARE(config.outputFormat(), u"A:P C\tT"_s);
        QCOMPARE(format->text(), u"A:P C\tT"_s);
        QVERIFY(!form.isVisible());
    }

    void update_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("showIfCurrent");
        QTest::addColumn<int>("then");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<bool>("yes"); // the answer to an offer; Yes opens the download page

        const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
        const QString latest = u"You're using the latest version at this time."_s;
        const auto reply = [&](const QByteArray& body) { return FakeReply::whole(head + "\r\n" + body); };
        // The version is the last line in front of the first bar, whatever comes before or after it.
        QTest::newRow("newer version, not asked from the menu")
            << reply("1.05|9.99|\nmore") << false << int(Wait) << QStringList{"Version 1.05 is available"} << true;
        QTest::newRow("bar in a header counts")
            << FakeReply::whole("HTTP/1.0 200 OK\r\nX-Tag: beta|\r\n\r\nnone") << true << int(Wait)
            << QStringList{"Version X-Tag: beta is available"} << false;
        QTest::newRow("only line ends before the bar") << FakeReply::whole("\n\r\n|1.2") << true << int(Wait)
                                                       << QStringList{"A new version is available"} << false;
        QTest::newRow("only blanks before the bar")
            << reply("   |") << true << int(Wait) << QStringList{"Version     is available"} << false;
        QTest::newRow("no bar, not asked") << reply("current") << false << int(Wait) << QStringList() << true;
        QTest::newRow("closed without a byte")
            << FakeReply::closeWithoutSending() << true << int(Wait) << QStringList{latest} << true;
        // A check given up tells the user nothing: leaving once ran the answer handler on a half-destroyed object.
        QTest::newRow("left while waiting, as at exit")
            << FakeReply::keepOpenAfter(head) << true << int(Leave) << QStringList() << true;
        QTest::newRow("asked again while waiting") << FakeReply::keepOpenAfter(QByteArray()) << true << int(AskAgain)
                                                   << QStringList{"Version 1.20 is available"} << false;
    }

    void update()
    {
        QFETCH(FakeReply, reply);
        QFETCH(bool, showIfCurrent);
        QFETCH(int, then);
        QFETCH(QStringList, shown);
        QFETCH(bool, yes);

        startServer();
        m_server->setDefaultReply(reply);
        DialogAnswerer& dialogs = *m_dialogs;
        DesktopCapture& desktop = *m_desktop;
        dialogs.pressButton(yes ? QMessageBox::Yes : QMessageBox::No);
        auto query = std::make_unique<CUpdateQuery>();
        UpdatePrompt prompt(query.get());
        query->setShowIfCurrent(showIfCurrent);
        query->query(u"4"_s, u"1.03"_s);
        QTRY_VERIFY(m_server->requests().value(0).complete);
        QCOMPARE(m_server->requests().first().bytes,
                 "GET /lookup.php?id=4&vn=103 HTTP/1.0\r\nHost: tarnix.net\r\nConnection: close\r\n\r\n"_ba);
        QTest::qWait(100); // lets a stalled reply's first bytes in
        if (then == Leave)
            query.reset();
        if (then == AskAgain) {
            m_server->setDefaultReply(FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n1.20|"));
            query->query(u"4"_s, u"1.03"_s);
        }
        QTRY_COMPARE(m_server->openConnections(), 0);
        QTRY_COMPARE(dialogs.count(), shown.size());
        QTest::qWait(100); // a late box would still be counted
        QStringList texts;
        for (const DialogRecord& box : dialogs.records()) {
            texts << box.text;
            QCOMPARE(box.title, u"Sievra v1.03"_s);
            QCOMPARE(box.icon, QMessageBox::Question);
            QVERIFY(box.hasWindowIcon);
            // An offer asks, with Yes as the default; the answer that there is nothing newer only tells.
            const bool offer = box.text != u"You're using the latest version at this time."_s;
            QCOMPARE(box.informativeText, offer ? u"Download now?"_s : QString());
            QCOMPARE(box.buttons,
                     offer ? QMessageBox::Yes | QMessageBox::No : QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box.defaultButton, offer ? QMessageBox::Yes : QMessageBox::NoButton);
        }
        QCOMPARE(texts, shown);
        const bool opened =
            yes && !shown.isEmpty() && shown.first() != u"You're using the latest version at this time."_s;
        QCOMPARE(desktop.urls(), QList<QUrl>(opened ? 1 : 0, QUrl(ExternalHosts::downloadPage)));
    }

    void country_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("page"); // null: the server is down
        QTest::addColumn<QString>("country");
        QTest::addColumn<QString>("message"); // null: none

        // The country is the text of the link right before the first flag image.
        const QByteArray head = "HTTP/1.0 200 OK\r\n\r\n";
        const QByteArray page = head + "<a>X</a> <img src='/flags/x.gif'>";
        const QString bad = u"Please provide a legitimate IP address."_s;
        QTest::newRow("name trimmed, three-digit last group")
            << "81.169.145.100" << head + "<b><a href='x'>\n\t United States </a> <img src='/flags/us.gif'></b>"
            << "United States" << QString();
        QTest::newRow("first of two markers; a group above 255 is sent")
            << "300.1.1.1" << head + "<a>Germany</a> <img src='/flags/de.gif'><a>France</a> <img src='/flags/fr.gif'>"
            << "Germany" << QString();
        QTest::newRow("double quotes are not the marker")
            << "1.2.3.4" << head + "<a>Spain</a> <img src=\"/flags/es.gif\">"
            << "" << QString();
        QTest::newRow("no tag before the marker")
            << "1.2.3.4" << QByteArray("Italy</a> <img src='/flags/it.gif'>") << "" << QString();
        QTest::newRow("leading blank") << " 1.2.3.4" << page << placeholder << bad;
        QTest::newRow("four-digit group") << "1.2.3.1000" << page << placeholder << bad;
        QTest::newRow("empty") << "" << page << placeholder << QString();
        QTest::newRow("server down") << "8.8.8.8" << QByteArray() << placeholder
                                     << u"Remote server down or timeout, please try again later"_s;
    }

    void country()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, page);
        QFETCH(QString, country);
        QFETCH(QString, message);

        startServer();
        if (page.isNull())
            HttpPort::setPortForTests(FakeHttpServer::unusedPort());
        m_server->setDefaultReply(FakeReply::whole(page));
        DialogAnswerer& dialogs = *m_dialogs;
        IPToCountry window;
        auto* label = window.findChild<QLabel*>(u"lblCountry"_s);
        window.findChild<QLineEdit*>(u"lineEdit"_s)->setText(address);
        window.findChild<QPushButton*>(u"btnQuery"_s)->click();
        QTest::qWait(200);
        QTRY_COMPARE(label->text(), country);
        QTRY_COMPARE(dialogs.count(), message.isNull() ? 0 : 1);
        if (!message.isNull()) {
            QCOMPARE(dialogs.last().title, u"IP To Country"_s);
            QCOMPARE(dialogs.last().text, message);
            QCOMPARE(dialogs.last().icon, QMessageBox::Information);
        }
        const bool sent = message.isNull() && !address.isEmpty();
        QCOMPARE(m_server->requests().size(), sent ? 1 : 0);
        if (sent) {
            const QByteArray request = m_server->requests().first().bytes;
            QVERIFY(request.startsWith(
                QByteArray("GET /en/?IP=" + address.toLatin1() + " HTTP/1.0\r\nHost: www.geoiptool.com\r\n")));
            QVERIFY(!request.contains("Referrer") && !request.contains("Cookie"));
        }

        // Typing puts the placeholder back.
        window.findChild<QLineEdit*>(u"lineEdit"_s)->setText(u"8"_s);
        QCOMPARE(label->text(), placeholder);
    }

private:
    template <class T> T* child(const char* name) const { return ::child<T>(m_window.get(), name); }
    // A fresh window reads the home folder in its constructor.
    void openWindow() { m_window = std::make_unique<MainWindow>(); }
    QString tabTitle() const { return child<QTabWidget>("tabWidget")->tabText(0); }
    QStringList urls() const { return columnTexts(child<QTableWidget>("tableUrls"), 1); }
    void addUrlRows(const QList<QStringList>& rows) { ::addUrlRows(child<QTableWidget>("tableUrls"), rows); }
    // Shows the tab of the table and gives it the focus, which a dialog before may have taken.
    void focusTable(const char* name, int tab);
    int outputRow(const QString& name) const;

    // A scripted server on loopback that the update check and the country lookup reach instead of the web.
    void startServer()
    {
        m_server = startLoopbackServer();
        QVERIFY(m_server);
    }
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<DialogAnswerer> m_dialogs;
    std::unique_ptr<DesktopCapture> m_desktop;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<FakeHttpServer> m_server;
};

void WindowTest::focusTable(const char* name, int tab)
{
    // A widget on a hidden tab cannot take the focus.
    child<QTabWidget>("tabWidget")->setCurrentIndex(tab);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    child<QTableWidget>(name)->setFocus();
    QTRY_VERIFY(child<QTableWidget>(name)->hasFocus());
}

int WindowTest::outputRow(const QString& name) const
{
    const QList<QTableWidgetItem*> found =
        child<QTableWidget>("tableLists")->findItems("     " + name, Qt::MatchExactly);
    return found.isEmpty() ? -1 : found.first()->row();
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
