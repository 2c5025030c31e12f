#include "app/mainwindow.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

const QString sample = QStringLiteral("37-2012-07-03-1341302400-1341306000.txt");
const QString other = QStringLiteral("2-2012-07-03-1341302400-1341309600.txt");

QString outputPath(const QString& name)
{
    return QDir(UserFolders::outputFolder()).filePath(name);
}

// Sparse: a file of gigabytes costs nothing.
void writeOutputFile(const QString& name, qint64 size)
{
    QFile file(outputPath(name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
}

// The boxes of the output lists all ask a question.
void checkBox(const DialogRecord& box, const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
              bool windowIcon)
{
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, buttons);
    QCOMPARE(box.hasWindowIcon, windowIcon);
}

} // namespace

// The main window's side of the extraction: the proxy counter, the no-results notice, and the table of
// output files with its open and delete actions.
class OutputListsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void extractionReports_countedAndNoticed();
    void table_listsRecognisedFilesInLocalTime();
    void anyKey_rebuildsTheTableFromTheFolder();
    void doubleClick_opensTheRowsFile();
    void deleteKey_data();
    void deleteKey();

private:
    // A fresh window reads the output folder in its constructor.
    void openWindow();
    void focusListsTable();
    int rowOf(const QString& name) const;

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<DialogAnswerer> m_dialogs;
    std::unique_ptr<DesktopCapture> m_desktop;
    std::unique_ptr<MainWindow> m_window;
    QTableWidget* m_table = nullptr;
};

void OutputListsTest::initTestCase()
{
    // Eleven hours behind UTC, so a date in UTC or of the start time shows as another day.
    qputenv("TZ", "<-11>11");
    tzset();
}

void OutputListsTest::init()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(QDir().mkpath(UserFolders::outputFolder()));
    m_dialogs = std::make_unique<DialogAnswerer>();
    m_desktop = std::make_unique<DesktopCapture>();
}

void OutputListsTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    m_window.reset();
    m_desktop.reset();
    m_dialogs.reset();
    m_home.reset();
}

void OutputListsTest::openWindow()
{
    m_window = std::make_unique<MainWindow>();
    m_table = m_window->findChild<QTableWidget*>(QStringLiteral("tableLists"));
    QVERIFY(m_table);
}

void OutputListsTest::focusListsTable()
{
    // The table lives on the second tab; a hidden widget cannot take the focus.
    m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_table->setFocus();
    QTRY_VERIFY(m_table->hasFocus());
}

int OutputListsTest::rowOf(const QString& name) const
{
    const QList<QTableWidgetItem*> found = m_table->findItems(QStringLiteral("     ") + name, Qt::MatchExactly);
    return found.isEmpty() ? -1 : found.first()->row();
}

void OutputListsTest::extractionReports_countedAndNoticed()
{
    openWindow();
    auto* label = m_window->findChild<QLabel*>(QStringLiteral("lblProxies"));
    // The form's text has two blanks before its 0.
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "incrementProxyTally", Q_ARG(int, 41)));
    QCOMPARE(label->text(), QStringLiteral("PE: 41"));
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "incrementProxyTally"));
    QCOMPARE(label->text(), QStringLiteral("PE: 42"));
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "noProxyResults"));
    checkBox(m_dialogs->last(), "Sievra v1.03", "No proxies found", QMessageBox::Ok, true);
}

void OutputListsTest::table_listsRecognisedFilesInLocalTime()
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

    QStringList rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < 5; ++column) {
            const QTableWidgetItem* item = m_table->item(row, column);
            QVERIFY(item);
            QCOMPARE(item->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            cells << item->text();
        }
        rows << cells.join(" | ");
    }
    // The rows follow the file system's own order, which the test does not rely on.
    rows.sort();
    QCOMPARE(rows, QStringList({
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

void OutputListsTest::anyKey_rebuildsTheTableFromTheFolder()
{
    writeOutputFile(sample, 1);
    openWindow();
    writeOutputFile(other, 1);
    QVERIFY(QFile::remove(outputPath(sample)));
    QTest::keyClick(m_window.get(), Qt::Key_A);
    QCOMPARE(m_table->rowCount(), 1);
    QCOMPARE(rowOf(other), 0);
}

void OutputListsTest::doubleClick_opensTheRowsFile()
{
    writeOutputFile(sample, 1);
    writeOutputFile(other, 1);
    openWindow();
    focusListsTable();
    // Whichever cell is clicked: only the Filename cell holds the name.
    const QPoint date = m_table->visualItemRect(m_table->item(rowOf(sample), 4)).center();
    QTest::mouseClick(m_table->viewport(), Qt::LeftButton, {}, date);
    QTest::mouseDClick(m_table->viewport(), Qt::LeftButton, {}, date);
    QCOMPARE(m_desktop->urls(), QList<QUrl>{QUrl::fromLocalFile(outputPath(sample))});
}

void OutputListsTest::deleteKey_data()
{
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    // Between listing and removal the name comes to stand for a folder, which a file removal cannot take away
    // (not even for root).
    QTest::addColumn<bool>("folder");
    QTest::newRow("Yes removes file and row") << true << true << QMessageBox::Yes << false;
    QTest::newRow("No keeps both") << true << true << QMessageBox::No << false;
    QTest::newRow("no row selected: no question") << true << false << QMessageBox::Yes << false;
    QTest::newRow("focus elsewhere: no question") << false << true << QMessageBox::Yes << false;
    QTest::newRow("file that cannot be removed") << true << true << QMessageBox::Yes << true;
}

void OutputListsTest::deleteKey()
{
    QFETCH(bool, focused);
    QFETCH(bool, selected);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, folder);
    writeOutputFile(sample, 1);
    writeOutputFile(other, 1);
    openWindow();
    focusListsTable();
    m_table->clearSelection();
    if (selected)
        m_table->selectRow(rowOf(sample));
    if (!focused) {
        m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(0);
        m_window->findChild<QWidget*>(QStringLiteral("btnStart"))->setFocus();
        QTRY_VERIFY(!m_table->hasFocus());
    }
    if (folder)
        QVERIFY(QFile::remove(outputPath(sample)) && QDir(UserFolders::outputFolder()).mkdir(sample));
    m_dialogs->pressButton(answer);
    m_dialogs->pressButton(QMessageBox::Yes); // where a box says the file could not be removed
    // Sent to the table: it leaves the key to the window, as it does for the user.
    QTest::keyClick(focused ? static_cast<QWidget*>(m_table) : m_window.get(), Qt::Key_Delete);

    const bool asked = focused && selected;
    QCOMPARE(m_dialogs->count(), int(asked) + int(folder));
    if (asked) {
        const DialogRecord confirm = m_dialogs->records().first();
        checkBox(confirm, "Confirm", "Delete: " + sample + " ...", QMessageBox::Yes | QMessageBox::No, false);
        QCOMPARE(confirm.defaultButton, QMessageBox::No);
    }
    if (folder)
        checkBox(m_dialogs->last(), "Sievra v1.03", "File could not be removed", QMessageBox::Yes, true);
    const bool kept = !asked || answer == QMessageBox::No;
    QCOMPARE(QFileInfo::exists(outputPath(sample)), kept || folder);
    QCOMPARE(rowOf(sample) >= 0, kept);
    QVERIFY(QFile::exists(outputPath(other)) && rowOf(other) >= 0);
}

QTEST_MAIN(OutputListsTest)
#include "tst_outputlists.moc"
