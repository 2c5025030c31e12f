#include "app/mainwindow.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>
#include <time.h>

using Files = QList<QPair<QString, int>>; // name and size in bytes
Q_DECLARE_METATYPE(Files)

namespace {

const QString sample = QStringLiteral("37-2012-07-03-1341302400-1341306000.txt");

// Changes the local time zone for as long as it lives.
class LocalZone
{
public:
    explicit LocalZone(const QByteArray& zone) : m_previous(qgetenv("TZ")), m_hadZone(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        if (m_hadZone)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_previous;
    bool m_hadZone;
};

} // namespace

// The main window's side of the extraction: the proxy counter, the no-results notice, and the table of
// output files with its open and delete actions.
class OutputListsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void proxyTally_data();
    void proxyTally();
    void noProxyResults_showsNoticeAndLeavesLabel();

    void table_data();
    void table();
    void cells_centredAndReadOnly();
    void date_isLocalTime_data();
    void date_isLocalTime();
    void missingFolder_emptyTableWithoutMessage();
    void keyPress_rebuildsFromFolder();

    void doubleClick_opensRowFile_data();
    void doubleClick_opensRowFile();
    void doubleClick_withoutFocus_opensNothing();

    void deleteKey_data();
    void deleteKey();
    void deleteKey_withoutSelectionOrFocus_asksNothing();
    void deleteKey_fileThatCannotBeRemoved_saysSoAndListsItAgain();

    void closingWindowDuringExtraction_stopsItAndKeepsItsLines();

private:
    void writeOutputFile(const QString& name, int size);
    QString outputPath(const QString& name) const { return QDir(UserFolders::outputFolder()).filePath(name); }
    // A fresh window reads the output folder in its constructor.
    void openWindow();
    void focusListsTable();
    QStringList rowTexts(int row) const;
    QList<QStringList> sortedRows() const;
    int rowOf(const QString& name) const;
    void selectRow(int row);
    void pressDelete();

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<DialogAnswerer> m_dialogs;
    std::unique_ptr<DesktopCapture> m_desktop;
    std::unique_ptr<MainWindow> m_window;
    QTableWidget* m_table = nullptr;
    QLabel* m_label = nullptr;
};

void OutputListsTest::init()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QVERIFY(QDir().mkpath(UserFolders::outputFolder()));
    m_dialogs = std::make_unique<DialogAnswerer>();
    m_desktop = std::make_unique<DesktopCapture>();
}

void OutputListsTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    m_window.reset();
    m_table = nullptr;
    m_label = nullptr;
    m_desktop.reset();
    m_dialogs.reset();
    m_home.reset();
}

void OutputListsTest::writeOutputFile(const QString& name, int size)
{
    QFile file(outputPath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(size, '1')), qint64(size));
}

void OutputListsTest::openWindow()
{
    m_window = std::make_unique<MainWindow>();
    m_table = m_window->findChild<QTableWidget*>(QStringLiteral("tableLists"));
    m_label = m_window->findChild<QLabel*>(QStringLiteral("lblProxies"));
    QVERIFY(m_table);
    QVERIFY(m_label);
}

void OutputListsTest::focusListsTable()
{
    // The table lives on the second tab; a hidden widget cannot take the focus.
    m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_table->setFocus();
    QTRY_VERIFY(m_table->hasFocus());
}

QStringList OutputListsTest::rowTexts(int row) const
{
    QStringList texts;
    for (int column = 0; column < m_table->columnCount(); ++column) {
        const QTableWidgetItem* item = m_table->item(row, column);
        texts << (item ? item->text() : QStringLiteral("<no item>"));
    }
    return texts;
}

QList<QStringList> OutputListsTest::sortedRows() const
{
    // The rows follow the file system's own order, which the tests do not rely on.
    QList<QStringList> rows;
    for (int row = 0; row < m_table->rowCount(); ++row)
        rows << rowTexts(row);
    std::sort(rows.begin(), rows.end(),
              [](const QStringList& a, const QStringList& b) { return a.first() < b.first(); });
    return rows;
}

int OutputListsTest::rowOf(const QString& name) const
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, 0) && m_table->item(row, 0)->text().trimmed() == name)
            return row;
    }
    return -1;
}

void OutputListsTest::selectRow(int row)
{
    m_table->setCurrentCell(row, 0);
    m_table->selectRow(row);
}

void OutputListsTest::pressDelete()
{
    // Sent to the table: it leaves the key to the window, as it does for the user.
    QTest::keyClick(m_table, Qt::Key_Delete);
}

void OutputListsTest::proxyTally_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QString>("after");
    QTest::newRow("form text with two blanks") << "PE:  0" << 1 << "PE: 1";
    QTest::newRow("harvest start text") << "PE: 0" << 37 << "PE: 37";
    QTest::newRow("counting on") << "PE: 41" << 1 << "PE: 42";
    QTest::newRow("tail not a number reads as 0") << "PE: x" << 1 << "PE: 1";
    QTest::newRow("text shorter than the prefix") << "PE:" << 2 << "PE: 2";
    QTest::newRow("blanks round the number") << "PE:  7 " << 1 << "PE: 8";
    QTest::newRow("first four characters dropped whatever they are") << "PE:7" << 1 << "PE: 1";
}

void OutputListsTest::proxyTally()
{
    QFETCH(QString, before);
    QFETCH(int, calls);
    QFETCH(QString, after);
    openWindow();
    m_label->setText(before);
    for (int i = 0; i < calls; ++i)
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "incrementProxyTally"));
    QCOMPARE(m_label->text(), after);
}

void OutputListsTest::noProxyResults_showsNoticeAndLeavesLabel()
{
    openWindow();
    QCOMPARE(m_label->text(), QStringLiteral("PE:  0"));
    m_dialogs->pressButton(QMessageBox::Ok);
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "noProxyResults"));

    QCOMPARE(m_dialogs->count(), 1);
    const DialogRecord box = m_dialogs->last();
    QCOMPARE(box.title, QStringLiteral("Sievra v1.03"));
    QCOMPARE(box.text, QStringLiteral("No proxies found"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.hasWindowIcon);
    QCOMPARE(m_label->text(), QStringLiteral("PE:  0"));
}

void OutputListsTest::table_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QList<QStringList>>("rows"); // sorted by the Filename cell

    const QString blanks = QStringLiteral("     ");
    QTest::newRow("recognised file") << Files{{sample, 1536}}
                                     << QList<QStringList>{{blanks + sample, "1.50 kB", "37", "1h", "03/07/2012"}};
    QTest::newRow("same start and end: empty Compile")
        << Files{{"5-2012-07-03-1341302400-1341302400.txt", 10}}
        << QList<QStringList>{{blanks + "5-2012-07-03-1341302400-1341302400.txt", "10 bytes", "5", "", "03/07/2012"}};
    QTest::newRow("empty file") << Files{{"1-2012-07-03-1341302400-1341302461.txt", 0}}
                                << QList<QStringList>{{blanks + "1-2012-07-03-1341302400-1341302461.txt", "0 bytes",
                                                       "1", "1m 1s", "03/07/2012"}};
    QTest::newRow("days of compile and a count with zeros")
        << Files{{"00042-2012-07-04-1341302400-1341392461.txt", 2}}
        << QList<QStringList>{{blanks + "00042-2012-07-04-1341302400-1341392461.txt", "2 bytes", "00042", "1d 1h 1m 1s",
                               "04/07/2012"}};
    QTest::newRow("six-digit count not listed")
        << Files{{"123456-2012-07-03-1341302400-1341306000.txt", 5}} << QList<QStringList>{};
    QTest::newRow("nine-digit time not listed")
        << Files{{"3-2012-07-03-1341302400-134130600.txt", 5}} << QList<QStringList>{};
    QTest::newRow("other extension not listed") << Files{{"3-2012-07-03-1341302400-1341306000.dat", 5},
                                                         {"3-2012-07-03-1341302400-1341306000", 5},
                                                         {"3-2012-07-03-1341302400-1341306000.txt.bak", 5}}
                                                << QList<QStringList>{};
    QTest::newRow("temporary file not listed")
        << Files{{"2012-07-03-1341302400-1341306000.txt", 5}} << QList<QStringList>{};
    QTest::newRow("others skipped beside recognised ones")
        << Files{{"notes.txt", 3},
                 {"2012-07-03-1341302400-1341306000.txt", 5},
                 {sample, 1536},
                 {"2-2012-07-03-1341302400-1341309600.txt", 2048}}
        << QList<QStringList>{{blanks + "2-2012-07-03-1341302400-1341309600.txt", "2.00 kB", "2", "2h", "03/07/2012"},
                              {blanks + sample, "1.50 kB", "37", "1h", "03/07/2012"}};
    // The name is matched ignoring case but ".txt" is cut off case-sensitively, so the end time of an
    // upper-case name does not read as a number and counts as 0.
    QTest::newRow("upper-case extension: end time reads as 0")
        << Files{{"4-2012-07-03-1341302400-1341306000.TXT", 1}}
        << QList<QStringList>{{blanks + "4-2012-07-03-1341302400-1341306000.TXT", "1 bytes", "4",
                               "4883w 4d 22h 28m 16s", "01/01/1970"}};
}

void OutputListsTest::table()
{
    QFETCH(Files, files);
    QFETCH(QList<QStringList>, rows);
    const LocalZone utc("UTC0");
    for (const auto& file : std::as_const(files))
        writeOutputFile(file.first, file.second);
    // A folder named like an output file is no file.
    QVERIFY(QDir(UserFolders::outputFolder()).mkdir("9-2012-07-03-1341302400-1341306000.txt"));
    openWindow();
    QCOMPARE(sortedRows(), rows);
}

void OutputListsTest::cells_centredAndReadOnly()
{
    writeOutputFile(sample, 1);
    openWindow();
    QCOMPARE(m_table->rowCount(), 1);
    for (int column = 0; column < 5; ++column) {
        const QTableWidgetItem* item = m_table->item(0, column);
        QVERIFY(item);
        QCOMPARE(item->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(item->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
}

void OutputListsTest::date_isLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("date");
    // 1341306000 is 3 July 2012, 09:00 UTC.
    QTest::newRow("UTC") << QByteArray("UTC0") << "03/07/2012";
    QTest::newRow("eleven hours behind") << QByteArray("<-11>11") << "02/07/2012";
    QTest::newRow("fourteen hours ahead") << QByteArray("<+14>-14") << "03/07/2012";
    QTest::newRow("fifteen hours ahead") << QByteArray("<+15>-15") << "04/07/2012";
}

void OutputListsTest::date_isLocalTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, date);
    const LocalZone local(zone);
    writeOutputFile(sample, 1);
    openWindow();
    QCOMPARE(m_table->rowCount(), 1);
    QCOMPARE(m_table->item(0, 4)->text(), date);
}

void OutputListsTest::missingFolder_emptyTableWithoutMessage()
{
    writeOutputFile(sample, 1);
    openWindow();
    QCOMPARE(m_table->rowCount(), 1);
    QVERIFY(QDir(UserFolders::outputFolder()).removeRecursively());
    QTest::keyClick(m_window.get(), Qt::Key_F5);
    QCOMPARE(m_table->rowCount(), 0);
    QCOMPARE(m_dialogs->count(), 0);
}

void OutputListsTest::keyPress_rebuildsFromFolder()
{
    writeOutputFile(sample, 1);
    openWindow();
    QCOMPARE(m_table->rowCount(), 1);

    // Any key that reaches the window rebuilds the table: no rows are added twice, new files appear
    // and removed ones go.
    QTest::keyClick(m_window.get(), Qt::Key_A);
    QCOMPARE(m_table->rowCount(), 1);
    writeOutputFile("2-2012-07-03-1341302400-1341309600.txt", 1);
    QTest::keyClick(m_window.get(), Qt::Key_A);
    QCOMPARE(m_table->rowCount(), 2);
    QVERIFY(QFile::remove(outputPath(sample)));
    QTest::keyClick(m_window.get(), Qt::Key_A);
    QCOMPARE(m_table->rowCount(), 1);
    QCOMPARE(m_table->item(0, 2)->text(), QStringLiteral("2"));
}

void OutputListsTest::doubleClick_opensRowFile_data()
{
    QTest::addColumn<int>("column");
    QTest::newRow("Filename cell") << 0;
    QTest::newRow("Date cell opens the row's file") << 4;
}

void OutputListsTest::doubleClick_opensRowFile()
{
    QFETCH(int, column);
    writeOutputFile(sample, 1);
    writeOutputFile("2-2012-07-03-1341302400-1341309600.txt", 1);
    openWindow();
    focusListsTable();
    const int row = rowOf(sample);
    QVERIFY(row >= 0);

    const QPoint centre = m_table->visualItemRect(m_table->item(row, column)).center();
    QTest::mouseClick(m_table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(m_table->viewport(), Qt::LeftButton, {}, centre);

    QCOMPARE(m_desktop->urls(), QList<QUrl>{QUrl::fromLocalFile(outputPath(sample))});
}

void OutputListsTest::doubleClick_withoutFocus_opensNothing()
{
    writeOutputFile(sample, 1);
    openWindow();
    m_table->setCurrentCell(0, 0);
    QVERIFY(!m_table->hasFocus());
    QVERIFY(
        QMetaObject::invokeMethod(m_window.get(), "on_tableLists_doubleClicked", Q_ARG(QModelIndex, QModelIndex())));
    QCOMPARE(m_desktop->urls(), QList<QUrl>());
}

void OutputListsTest::deleteKey_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("removed");
    QTest::newRow("Yes removes file and row") << int(QMessageBox::Yes) << true;
    QTest::newRow("No keeps both") << int(QMessageBox::No) << false;
}

void OutputListsTest::deleteKey()
{
    QFETCH(int, answer);
    QFETCH(bool, removed);
    const QString other = QStringLiteral("2-2012-07-03-1341302400-1341309600.txt");
    writeOutputFile(sample, 1);
    writeOutputFile(other, 1);
    openWindow();
    focusListsTable();
    selectRow(rowOf(sample));

    m_dialogs->pressButton(QMessageBox::StandardButton(answer));
    pressDelete();

    QCOMPARE(m_dialogs->count(), 1);
    const DialogRecord box = m_dialogs->last();
    QCOMPARE(box.title, QStringLiteral("Confirm"));
    QCOMPARE(box.text, QStringLiteral("Delete: ") + sample + QStringLiteral(" ..."));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::No);

    QCOMPARE(QFile::exists(outputPath(sample)), !removed);
    QVERIFY(QFile::exists(outputPath(other)));
    QCOMPARE(m_table->rowCount(), removed ? 1 : 2);
    QCOMPARE(rowOf(sample) >= 0, !removed);
    QVERIFY(rowOf(other) >= 0);
}

void OutputListsTest::deleteKey_withoutSelectionOrFocus_asksNothing()
{
    writeOutputFile(sample, 1);
    openWindow();
    focusListsTable();
    m_table->clearSelection();
    pressDelete();

    // Without the focus the key belongs to whatever has it.
    selectRow(0);
    m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(0);
    m_window->findChild<QWidget*>(QStringLiteral("btnStart"))->setFocus();
    QTRY_VERIFY(!m_table->hasFocus());
    QTest::keyClick(m_window.get(), Qt::Key_Delete);

    QCOMPARE(m_dialogs->count(), 0);
    QVERIFY(QFile::exists(outputPath(sample)));
    QCOMPARE(m_table->rowCount(), 1);
}

void OutputListsTest::deleteKey_fileThatCannotBeRemoved_saysSoAndListsItAgain()
{
    writeOutputFile(sample, 1);
    openWindow();
    focusListsTable();
    selectRow(0);

    // Between listing and removal the name comes to stand for a folder, which a file removal cannot take
    // away (not even for root); it is a file again by the time the table is rebuilt.
    QVERIFY(QFile::remove(outputPath(sample)));
    QVERIFY(QDir(UserFolders::outputFolder()).mkdir(sample));
    struct Restorer : QObject
    {
        QString path;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            auto* box = qobject_cast<QMessageBox*>(watched);
            if (event->type() == QEvent::Show && box && box->text() == QLatin1String("File could not be removed") &&
                QDir().rmdir(path)) {
                QFile file(path);
                if (file.open(QIODevice::WriteOnly))
                    file.write("1");
            }
            return false;
        }
    } restorer;
    restorer.path = outputPath(sample);
    qApp->installEventFilter(&restorer);

    m_dialogs->pressButton(QMessageBox::Yes);
    m_dialogs->pressButton(QMessageBox::Yes);
    pressDelete();
    qApp->removeEventFilter(&restorer);

    QCOMPARE(m_dialogs->count(), 2);
    const DialogRecord box = m_dialogs->last();
    QCOMPARE(box.title, QStringLiteral("Sievra v1.03"));
    QCOMPARE(box.text, QStringLiteral("File could not be removed"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(box.hasWindowIcon);

    QVERIFY(QFileInfo(outputPath(sample)).isFile());
    QCOMPARE(m_table->rowCount(), 1);
    QCOMPARE(m_table->item(0, 0)->text().trimmed(), sample);
}

void OutputListsTest::closingWindowDuringExtraction_stopsItAndKeepsItsLines()
{
    openWindow();
    // The fetchers made the run folder of the window's run stamp.
    const QStringList runs = QDir(UserFolders::dataFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(runs.size(), 1);
    const QDir pages(QDir(UserFolders::dataFolder()).filePath(runs.first()));
    QByteArray all;
    for (int p = 0; p < 40; ++p) {
        QByteArray page;
        for (int i = 0; i < 2000; ++i) {
            const QByteArray proxy =
                QString::asprintf("%03d.%03d.%03d.%03d:%05d", 100 + p, i / 256, i % 256, 7, 10000 + i).toLatin1();
            page += proxy + "\n\n";
            all += proxy + "\r\n";
        }
        QFile file(pages.filePath(QString::asprintf("%03d-1.dat", p)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(page);
    }

    // One fetcher in use and its report in: the window's engine starts its extraction.
    m_window->findChild<QComboBox*>(QStringLiteral("cbThreads"))->setCurrentIndex(0);
    QVERIFY(QMetaObject::invokeMethod(m_window->findChild<CHarvestEngine*>(), "crawlCompleted", Q_ARG(int, 0)));

    // Close while lines are being written.
    const QDir output(UserFolders::outputFolder());
    QElapsedTimer waited;
    waited.start();
    auto written = [&output] {
        const QFileInfoList files = output.entryInfoList(QDir::Files);
        return files.size() == 1 && files.first().size() > 0;
    };
    while (!written() && waited.elapsed() < 60000)
        QThread::msleep(1);
    QVERIFY(written());
    m_window.reset();

    const QStringList names = output.entryList(QDir::Files);
    QCOMPARE(names.size(), 1);
    const QStringList fields = names.first().split(QLatin1Char('-'));
    QCOMPARE(fields.size(), 6);
    const int count = fields.first().toInt();
    QVERIFY(count > 0 && count < 40 * 2000);
    QFile file(output.filePath(names.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QCOMPARE(int(content.count("\r\n")), count);
    QVERIFY(all.startsWith(content));
    QCOMPARE(pages.entryList(QDir::Files), QStringList());
}

QTEST_MAIN(OutputListsTest)
#include "tst_outputlists.moc"
