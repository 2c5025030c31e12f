#include "app/mainwindow.h"
#include "harvest/harvestplan.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"
#include "util/domaincheck.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

// The leech URL table of the main window, the check every URL must pass to get there, and how a list is
// shared among the fetchers.
class LeechUrlsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void domainCheck_data();
    void domainCheck();
    void plan_restToTheLastFetcherAndWholePercents();
    void add_onlyWhatPassesTheDomainCheck();
    void removeDuplicates_keepsFirstOfEachGroup();
    void remove_asksFirst();
    void save_data();
    void save();
    void import_skipsEmptyAndRejectedLines();

private:
    template <class T> T* child(const char* name) const { return m_window->findChild<T*>(QLatin1String(name)); }
    QString tabTitle() const { return child<QTabWidget>("tabWidget")->tabText(0); }
    QStringList urls() const;
    // The Delete key on the URL table, which a dialog before may have left without the focus.
    void pressDelete();
    // Rows of size, address and bytes cells; a null text leaves its cell out.
    void addRows(const QList<QStringList>& rows);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<MainWindow> m_window;
    QTableWidget* m_table = nullptr;
};

void LeechUrlsTest::init()
{
    m_home = std::make_unique<TestHome>();
    m_window = std::make_unique<MainWindow>();
    m_table = child<QTableWidget>("tableUrls");
}

void LeechUrlsTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    m_window.reset();
    m_home.reset();
}

QStringList LeechUrlsTest::urls() const
{
    QStringList texts;
    for (int row = 0; row < m_table->rowCount(); ++row)
        texts << m_table->item(row, 1)->text();
    return texts;
}

void LeechUrlsTest::pressDelete()
{
    QApplication::setActiveWindow(m_window.get());
    m_table->setFocus();
    QTRY_VERIFY(m_table->hasFocus());
    QTest::keyClick(m_table, Qt::Key_Delete);
}

void LeechUrlsTest::addRows(const QList<QStringList>& rows)
{
    for (const QStringList& cells : rows) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        for (int i = 0; i < cells.size(); ++i)
            if (!cells[i].isNull())
                m_table->setItem(row, i, new QTableWidgetItem(cells[i]));
    }
}

void LeechUrlsTest::domainCheck_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("www and two short top labels, no scheme") << "www.example.co.uk/x" << true;
    QTest::newRow("upper-case host") << "http://WWW.EXAMPLE.COM/" << true;
    QTest::newRow("four-letter top label") << "http://example.info" << true;
    QTest::newRow("trailing CR") << "http://www.example.com/list\r" << true;
    QTest::newRow("five-letter top label") << "http://example.money" << false;
    QTest::newRow("one-letter top label") << "http://example.x" << false;
    QTest::newRow("four labels") << "http://a.b.example.com/" << false;
    QTest::newRow("secure scheme") << "https://www.example.com/" << false;
    QTest::newRow("scheme in capitals") << "HTTP://www.example.com/" << false;
    QTest::newRow("dotted address") << "http://192.168.1.1/list" << false;
    QTest::newRow("host with port") << "http://www.example.com:8080/list" << false;
    QTest::newRow("no dot") << "http://localhost/" << false;
    QTest::newRow("trailing blank") << "www.example.com " << false;
}

void LeechUrlsTest::domainCheck()
{
    QFETCH(QString, url);
    QFETCH(bool, accepted);

    QCOMPARE(passesDomainCheck(url), accepted);
}

void LeechUrlsTest::plan_restToTheLastFetcherAndWholePercents()
{
    // Each fetcher's block as its first URL and count.
    const auto blocks = [](int urls, int fetchers) {
        QStringList got;
        for (const HarvestPlan::Block& block : HarvestPlan::splitIntoBlocks(urls, fetchers))
            got << u"%1+%2"_s.arg(block.first).arg(block.count);
        return got.join(u' ');
    };
    QCOMPARE(blocks(7, 5), u"0+1 1+1 2+1 3+1 4+3"_s);
    QCOMPARE(blocks(10, 4), u"0+2 2+2 4+2 6+4"_s);
    QCOMPARE(blocks(0, 3), QString());
    // Cut, not rounded; reports beyond the fetchers in use go past 100.
    QCOMPARE(HarvestPlan::progressPercent(2, 3), 66u);
    QCOMPARE(HarvestPlan::progressPercent(4, 3), 133u);
    QCOMPARE(HarvestPlan::progressPercent(4, 7), 57u);
}

void LeechUrlsTest::add_onlyWhatPassesTheDomainCheck()
{
    DialogAnswerer dialogs;
    dialogs.enterText(u"http://www.example.com/list.htm"_s);
    dialogs.enterText(u"https://www.example.com/"_s);
    dialogs.enterText(u"http://www.example.com/"_s, false);
    for (int i = 0; i < 3; ++i)
        child<QPushButton>("btnAdd")->click();
    QCOMPARE(dialogs.count(), 3);
    for (const DialogRecord& asked : dialogs.records())
        QCOMPARE(asked.title + u": "_s + asked.text, u"Add Url: Please provide a URL"_s);
    QCOMPARE(urls(), QStringList{"http://www.example.com/list.htm"});
    // Eight bytes a character.
    QCOMPARE(m_table->item(0, 0)->text(), u"         248 bytes"_s);
    QCOMPARE(m_table->item(0, 0)->textAlignment(), int(Qt::AlignVCenter | Qt::AlignLeft));
    // Adding by hand leaves the tab title alone.
    QCOMPARE(tabTitle(), u"Leech Urls"_s);
}

void LeechUrlsTest::removeDuplicates_keepsFirstOfEachGroup()
{
    // Rows are equal when every cell is, in its case; a missing cell counts as empty text.
    addRows({{"s", "a.com", ""},
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
}

void LeechUrlsTest::remove_asksFirst()
{
    addRows({{"s", "www.a.com"}, {"s", " www.b.com "}, {"s", "www.c.com"}});
    child<QTabWidget>("tabWidget")->setTabText(0, u"Leech Urls (3)"_s);
    m_window->show();
    DialogAnswerer dialogs;
    // The Delete key: with nothing selected nothing is asked; No keeps the row, Yes removes it.
    m_table->clearSelection();
    pressDelete();
    QCOMPARE(dialogs.count(), 0);
    m_table->setCurrentCell(1, 1);
    m_table->selectRow(1);
    dialogs.pressButton(QMessageBox::No);
    pressDelete();
    QCOMPARE(urls(), QStringList({"www.a.com", " www.b.com ", "www.c.com"}));
    QCOMPARE(tabTitle(), u"Leech Urls (3)"_s);
    dialogs.pressButton(QMessageBox::Yes);
    pressDelete();
    QCOMPARE(urls(), QStringList({"www.a.com", "www.c.com"}));
    QCOMPARE(tabTitle(), u"Leech Urls (2)"_s);

    // Remove All, the same way; with no rows left there is nothing to ask.
    dialogs.pressButton(QMessageBox::No);
    child<QPushButton>("btnClear")->click();
    QCOMPARE(m_table->rowCount(), 2);
    dialogs.pressButton(QMessageBox::Yes);
    child<QPushButton>("btnClear")->click();
    QCOMPARE(m_table->rowCount(), 0);
    QCOMPARE(tabTitle(), u"Leech Urls"_s);
    child<QPushButton>("btnClear")->click();

    QStringList asked;
    for (const DialogRecord& box : dialogs.records()) {
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

void LeechUrlsTest::save_data()
{
    QTest::addColumn<QString>("file"); // in the home folder
    QTest::addColumn<QString>("told");

    QTest::newRow("saved as UTF-8") << "list.txt"
                                    << "Url list successfully saved.";
    // Opens, even for root, but every write fails.
    QTest::newRow("device full") << "/dev/full"
                                 << "Url list could not be saved to /dev/full";
}

void LeechUrlsTest::save()
{
    QFETCH(QString, file);
    QFETCH(QString, told);

    addRows({{"s", "http://www.one.com/a.html"}, {"s", "two.co.uk"}, {"s", u"http://www.caf\u00e9.com/\u20ac.html"_s}});
    const QString path = QDir(m_home->path()).filePath(file);
    DialogAnswerer dialogs;
    dialogs.chooseFile(path);
    if (QFile::exists(path))
        dialogs.pressButton(QMessageBox::Yes); // the file dialog asks before replacing a file
    dialogs.pressButton(QMessageBox::Ok);
    child<QPushButton>("btnSave")->click();
    QCOMPARE(dialogs.records().first().title, u"Sievra 1.03"_s);
    QCOMPARE(dialogs.last().title, u"Sievra v1.03"_s);
    QCOMPARE(dialogs.last().text, told);
    const bool failed = file.startsWith(u'/');
    QCOMPARE(dialogs.last().icon, failed ? QMessageBox::Warning : QMessageBox::Information);
    if (failed)
        return;
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(),
             "http://www.one.com/a.html\ntwo.co.uk\nhttp://www.caf\xc3\xa9.com/\xe2\x82\xac.html\n"_ba);
    QCOMPARE(tabTitle(), u"Leech Urls (3)"_s);
}

void LeechUrlsTest::import_skipsEmptyAndRejectedLines()
{
    const QString path = QDir(m_home->path()).filePath(u"import.txt"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("http://www.good.com/list\r\n\r\njust some words\r\nwww.trailing.com \r\nhttps://x.com/\r\n"
               "http://www.caf\xc3\xa9.com/\r\nb.org");
    file.close();

    DialogAnswerer dialogs;
    dialogs.chooseFile(path);
    child<QAction>("actionImport_Urls")->trigger();
    QCOMPARE(urls(), QStringList({"http://www.good.com/list", u"http://www.caf\u00e9.com/"_s, "b.org"}));
    QCOMPARE(tabTitle(), u"Leech Urls (3)"_s);

    // Cancelling the file dialog adds nothing.
    dialogs.chooseFile(path, false);
    child<QAction>("actionImport_Urls")->trigger();
    QCOMPARE(m_table->rowCount(), 3);
}

QTEST_MAIN(LeechUrlsTest)
#include "tst_leechurls.moc"
