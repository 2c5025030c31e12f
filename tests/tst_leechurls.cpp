#include "app/mainwindow.h"
#include "harvest/harvestplan.h"
#include "settings/userfolders.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"
#include "util/domaincheck.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

using HarvestPlan::Block;

class LeechUrlsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void domainCheck_data();
    void domainCheck();
    void blocks_data();
    void blocks();
    void progress_data();
    void progress();
    void add_appendsRowForAcceptedUrl_data();
    void add_appendsRowForAcceptedUrl();
    void removeDuplicates_keepsFirstOfEachGroup_data();
    void removeDuplicates_keepsFirstOfEachGroup();
    void removeAll_asksFirst_data();
    void removeAll_asksFirst();
    void save_thenImport_givesTheSameUrls();
    void save_toUnwritableFile_saysSo_data();
    void save_toUnwritableFile_saysSo();
    void import_skipsEmptyAndRejectedLines();
    void deleteKey_removesSelectedUrlAfterAsking_data();
    void deleteKey_removesSelectedUrlAfterAsking();

private:
    static QStringList column(QTableWidget* table, int column);
    static void addRow(QTableWidget* table, const QStringList& cells);
};

void LeechUrlsTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
}

QStringList LeechUrlsTest::column(QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

void LeechUrlsTest::addRow(QTableWidget* table, const QStringList& cells)
{
    const int row = table->rowCount();
    table->insertRow(row);
    for (int i = 0; i < cells.size(); ++i)
        if (!cells[i].isNull())
            table->setItem(row, i, new QTableWidgetItem(cells[i]));
}

void LeechUrlsTest::domainCheck_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("name and top label") << "http://example.com/list.html" << true;
    QTest::newRow("www, name and top label") << "http://www.example.com/" << true;
    QTest::newRow("three labels with path") << "http://sub.example.com/a/b.htm" << true;
    QTest::newRow("two short top labels, no scheme") << "example.co.uk" << true;
    QTest::newRow("www and two short top labels") << "www.example.co.uk/x" << true;
    QTest::newRow("upper-case host") << "http://WWW.EXAMPLE.COM/" << true;
    QTest::newRow("four-letter top label") << "http://example.info" << true;
    QTest::newRow("five-letter top label") << "http://example.museum" << false;
    QTest::newRow("one-letter top label") << "http://example.x" << false;
    QTest::newRow("four labels") << "http://a.b.example.com/" << false;
    QTest::newRow("secure scheme") << "https://www.example.com/" << false;
    QTest::newRow("scheme in capitals") << "HTTP://www.example.com/" << false;
    QTest::newRow("dotted address") << "http://192.168.1.1/list" << false;
    QTest::newRow("host with port") << "http://www.example.com:8080/list" << false;
    QTest::newRow("no dot") << "http://localhost/" << false;
    QTest::newRow("empty host") << "http:///path" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("words") << "some words here" << false;
    QTest::newRow("trailing blank") << "www.example.com " << false;
    QTest::newRow("trailing CR") << "http://www.example.com/list\r" << true;
}

void LeechUrlsTest::domainCheck()
{
    QFETCH(QString, url);
    QFETCH(bool, accepted);
    QCOMPARE(passesDomainCheck(url), accepted);
}

void LeechUrlsTest::blocks_data()
{
    QTest::addColumn<int>("urls");
    QTest::addColumn<int>("fetchers");
    QTest::addColumn<QList<int>>("firsts");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("7 over 5") << 7 << 5 << QList<int>{0, 1, 2, 3, 4} << QList<int>{1, 1, 1, 1, 3};
    QTest::newRow("3 over 3") << 3 << 3 << QList<int>{0, 1, 2} << QList<int>{1, 1, 1};
    QTest::newRow("1 over 1") << 1 << 1 << QList<int>{0} << QList<int>{1};
    QTest::newRow("10 over 4") << 10 << 4 << QList<int>{0, 2, 4, 6} << QList<int>{2, 2, 2, 4};
    QTest::newRow("20 over 20") << 20 << 20
                                << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}
                                << QList<int>(20, 1);
    QTest::newRow("nothing to share") << 0 << 3 << QList<int>{} << QList<int>{};
}

void LeechUrlsTest::blocks()
{
    QFETCH(int, urls);
    QFETCH(int, fetchers);
    QFETCH(QList<int>, firsts);
    QFETCH(QList<int>, counts);
    const QVector<Block> blocks = HarvestPlan::splitIntoBlocks(urls, fetchers);
    QList<int> gotFirsts, gotCounts;
    for (const Block& block : blocks) {
        gotFirsts << block.first;
        gotCounts << block.count;
    }
    QCOMPARE(gotFirsts, firsts);
    QCOMPARE(gotCounts, counts);
}

void LeechUrlsTest::progress_data()
{
    QTest::addColumn<int>("fetchers");
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("5 fetchers") << 5 << QList<int>{20, 40, 60, 80, 100, 120};
    QTest::newRow("3 fetchers") << 3 << QList<int>{33, 66, 100, 133};
    QTest::newRow("1 fetcher") << 1 << QList<int>{100, 200};
    QTest::newRow("7 fetchers") << 7 << QList<int>{14, 28, 42, 57, 71, 85, 100};
}

void LeechUrlsTest::progress()
{
    QFETCH(int, fetchers);
    QFETCH(QList<int>, values);
    for (int i = 0; i < values.size(); ++i)
        QCOMPARE(int(HarvestPlan::progressPercent(quint32(i + 1), fetchers)), values[i]);
}

void LeechUrlsTest::add_appendsRowForAcceptedUrl_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("sizeCell");
    QTest::newRow("32 characters") << "http://www.example.com/list.htm" << true << "         248 bytes";
    QTest::newRow("three labels, 32 characters") << "http://sub.proxies.com/lists.htm" << true << "         256 bytes";
    QTest::newRow("no scheme") << "example.co.uk" << true << "         104 bytes";
    QTest::newRow("secure scheme") << "https://www.example.com/" << true << QString();
    QTest::newRow("address") << "http://10.0.0.1/list" << true << QString();
    QTest::newRow("port") << "http://www.example.com:81/" << true << QString();
    QTest::newRow("cancelled") << "http://www.example.com/" << false << QString();
    QTest::newRow("empty") << "" << true << QString();
}

void LeechUrlsTest::add_appendsRowForAcceptedUrl()
{
    QFETCH(QString, typed);
    QFETCH(bool, accept);
    QFETCH(QString, sizeCell);
    TestHome home;
    MainWindow window;
    DialogAnswerer dialogs;
    dialogs.enterText(typed, accept);
    window.findChild<QPushButton*>(QStringLiteral("btnAdd"))->click();

    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.last().title, QStringLiteral("Add Url"));
    QCOMPARE(dialogs.last().text, QStringLiteral("Please provide a URL"));
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    if (sizeCell.isNull()) {
        QCOMPARE(table->rowCount(), 0);
        return;
    }
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), sizeCell);
    QCOMPARE(table->item(0, 0)->textAlignment(), int(Qt::AlignVCenter | Qt::AlignLeft));
    QCOMPARE(table->item(0, 1)->text(), typed);
    QVERIFY(!table->item(0, 2));
    // Adding by hand leaves the tab title alone.
    QCOMPARE(window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(0), QStringLiteral("Leech Urls"));
}

void LeechUrlsTest::removeDuplicates_keepsFirstOfEachGroup_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QStringList>("kept");
    const QString a = QStringLiteral("a.com"), b = QStringLiteral("b.com"), c = QStringLiteral("c.com");
    QTest::newRow("A B A A C")
        << QList<QStringList>{{"s", a, ""}, {"s", b, ""}, {"s", a, ""}, {"s", a, ""}, {"s", c, ""}}
        << QStringList{a, b, c};
    QTest::newRow("size makes rows differ")
        << QList<QStringList>{{"s", a, "1.00 kB"}, {"s", a, ""}, {"s", a, ""}} << QStringList{a, a};
    QTest::newRow("missing cell equals empty text")
        << QList<QStringList>{{"s", a, QString()}, {"s", a, ""}} << QStringList{a};
    QTest::newRow("case matters") << QList<QStringList>{{"s", a, ""}, {"s", "A.com", ""}} << QStringList{a, "A.com"};
    QTest::newRow("no rows") << QList<QStringList>{} << QStringList{};
}

void LeechUrlsTest::removeDuplicates_keepsFirstOfEachGroup()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(QStringList, kept);
    TestHome home;
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    for (const QStringList& row : rows)
        addRow(table, row);
    auto* button = window.findChild<QPushButton*>(QStringLiteral("btnRemoveDuplicates"));
    button->click();
    QCOMPARE(column(table, 1), kept);
    QVERIFY(button->isEnabled());
}

void LeechUrlsTest::removeAll_asksFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<QString>("tabTitle");
    QTest::newRow("yes") << QMessageBox::Yes << 0 << "Leech Urls";
    QTest::newRow("no") << QMessageBox::No << 12 << "Leech Urls (12)";
}

void LeechUrlsTest::removeAll_asksFirst()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, rowsLeft);
    QFETCH(QString, tabTitle);
    TestHome home;
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    for (int i = 0; i < 12; ++i)
        addRow(table, {"s", QStringLiteral("www.site%1.com").arg(i)});
    tabs->setTabText(0, QStringLiteral("Leech Urls (12)"));

    DialogAnswerer dialogs;
    dialogs.pressButton(answer);
    window.findChild<QPushButton*>(QStringLiteral("btnClear"))->click();
    QCOMPARE(dialogs.count(), 1);
    const DialogRecord box = dialogs.last();
    QCOMPARE(box.title, QStringLiteral("Sievra v1.03"));
    QCOMPARE(box.text, QStringLiteral("Confirm deletion of 12 URLs..."));
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::No);
    QCOMPARE(box.icon, QMessageBox::Question);
    QVERIFY(box.hasWindowIcon);
    QCOMPARE(table->rowCount(), rowsLeft);
    QCOMPARE(tabs->tabText(0), tabTitle);

    // With no rows there is nothing to ask.
    if (rowsLeft == 0) {
        window.findChild<QPushButton*>(QStringLiteral("btnClear"))->click();
        QCOMPARE(dialogs.count(), 1);
    }
}

void LeechUrlsTest::save_thenImport_givesTheSameUrls()
{
    TestHome home;
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    const QStringList urls = {"http://www.one.com/a.html", "two.co.uk", "http://sub.three.net/x?y=1",
                              "http://www.caf\u00e9.com/liste-\u20ac.html"};
    for (const QString& url : urls)
        addRow(table, {"s", url});

    const QString path = QDir(home.path()).filePath(QStringLiteral("list.txt"));
    DialogAnswerer dialogs;
    dialogs.chooseFile(path);
    dialogs.pressButton(QMessageBox::Ok);
    window.findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    QCOMPARE(dialogs.count(), 2);
    QCOMPARE(dialogs.records()[0].title, QStringLiteral("Sievra 1.03"));
    QCOMPARE(dialogs.records()[1].text, QStringLiteral("Url list successfully saved."));
    QCOMPARE(dialogs.records()[1].icon, QMessageBox::Information);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("http://www.one.com/a.html\ntwo.co.uk\nhttp://sub.three.net/x?y=1\n"
                                        "http://www.caf\xc3\xa9.com/liste-\xe2\x82\xac.html\n"));
    file.close();
    QCOMPARE(window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(0), QStringLiteral("Leech Urls (4)"));

    dialogs.chooseFile(path);
    window.findChild<QAction*>(QStringLiteral("actionImport_Urls"))->trigger();
    QCOMPARE(column(table, 1), urls + urls);
    QCOMPARE(window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(0), QStringLiteral("Leech Urls (8)"));
}

void LeechUrlsTest::save_toUnwritableFile_saysSo_data()
{
    QTest::addColumn<QString>("path");
    // Opens, even for root, but every write fails.
    QTest::newRow("device full") << "/dev/full";
}

void LeechUrlsTest::save_toUnwritableFile_saysSo()
{
    QFETCH(QString, path);
    TestHome home;
    MainWindow window;
    addRow(window.findChild<QTableWidget*>(QStringLiteral("tableUrls")), {"s", "www.one.com"});
    DialogAnswerer dialogs;
    dialogs.chooseFile(path);
    dialogs.pressButton(QMessageBox::Yes); // the file dialog asks before replacing an existing file
    dialogs.pressButton(QMessageBox::Ok);
    window.findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    QCOMPARE(dialogs.last().text, QStringLiteral("Url list could not be saved to ") + path);
    QCOMPARE(dialogs.last().icon, QMessageBox::Warning);
    QCOMPARE(dialogs.last().title, QStringLiteral("Sievra v1.03"));
}

void LeechUrlsTest::import_skipsEmptyAndRejectedLines()
{
    TestHome home;
    MainWindow window;
    const QString path = QDir(home.path()).filePath(QStringLiteral("import.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("http://www.good.com/list\r\n\r\njust some words\r\nwww.trailing.com \r\nhttps://x.com/\r\nb.org");
    file.close();

    DialogAnswerer dialogs;
    dialogs.chooseFile(path);
    window.findChild<QAction*>(QStringLiteral("actionImport_Urls"))->trigger();
    QCOMPARE(column(window.findChild<QTableWidget*>(QStringLiteral("tableUrls")), 1),
             QStringList({"http://www.good.com/list", "b.org"}));
    QCOMPARE(window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(0), QStringLiteral("Leech Urls (2)"));

    // Cancelling the file dialog adds nothing and leaves the title.
    dialogs.chooseFile(path, false);
    window.findChild<QAction*>(QStringLiteral("actionImport_Urls"))->trigger();
    QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("tableUrls"))->rowCount(), 2);
}

void LeechUrlsTest::deleteKey_removesSelectedUrlAfterAsking_data()
{
    QTest::addColumn<int>("selectedRow"); // -1: none
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QString>("tabTitle");
    QTest::newRow("yes removes the row") << 1 << QMessageBox::Yes << QStringList{"www.a.com", "www.c.com"}
                                         << "Leech Urls (2)";
    QTest::newRow("no keeps it") << 1 << QMessageBox::No << QStringList{"www.a.com", " www.b.com ", "www.c.com"}
                                 << "Leech Urls";
    QTest::newRow("nothing selected") << -1 << QMessageBox::Yes << QStringList{"www.a.com", " www.b.com ", "www.c.com"}
                                      << "Leech Urls";
}

void LeechUrlsTest::deleteKey_removesSelectedUrlAfterAsking()
{
    QFETCH(int, selectedRow);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, left);
    QFETCH(QString, tabTitle);
    TestHome home;
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableUrls"));
    for (const char* url : {"www.a.com", " www.b.com ", "www.c.com"})
        addRow(table, {"s", QString::fromLatin1(url)});
    window.show();
    QApplication::setActiveWindow(&window);
    table->setFocus();
    QTRY_VERIFY(table->hasFocus());
    table->clearSelection();
    if (selectedRow >= 0) {
        table->setCurrentCell(selectedRow, 1);
        table->selectRow(selectedRow);
    }
    // An output file put in place meanwhile shows up: every key press reads the output folder again.
    QFile output(QDir(UserFolders::outputFolder()).filePath(QStringLiteral("3-2012-07-03-1341302400-1341306000.txt")));
    QVERIFY(output.open(QIODevice::WriteOnly));
    output.close();

    DialogAnswerer dialogs;
    dialogs.pressButton(answer);
    QTest::keyClick(table, Qt::Key_Delete);
    if (selectedRow < 0) {
        QCOMPARE(dialogs.count(), 0);
    } else {
        QCOMPARE(dialogs.count(), 1);
        QCOMPARE(dialogs.last().title, QStringLiteral("Confirm"));
        QCOMPARE(dialogs.last().text, QStringLiteral("Delete Url: www.b.com ..."));
        QCOMPARE(dialogs.last().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(dialogs.last().defaultButton, QMessageBox::No);
        QCOMPARE(dialogs.last().icon, QMessageBox::Question);
    }
    QCOMPARE(column(table, 1), left);
    QCOMPARE(window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->tabText(0), tabTitle);
    QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("tableLists"))->rowCount(), 1);
}

QTEST_MAIN(LeechUrlsTest)
#include "tst_leechurls.moc"
