#include "app/mainwindow.h"

#include "harvest/harvestplan.h"
#include "leech/crawlresult.h"
#include "leech/leechlist.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "ui_mainwindow.h"
#include "util/appinfo.h"
#include "util/domaincheck.h"
#include "util/externalhosts.h"
#include "util/formatting.h"
#include "util/outputfilename.h"
#include "util/urllistfile.h"
#include "windows/aboutwindow.h"
#include "windows/configwindow.h"
#include "windows/iptocountry.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSet>
#include <QUrl>

namespace {

struct HeaderColumn
{
    const char* text;
    const char* icon;
    int width;
};

const HeaderColumn urlColumns[] = {
    {"Url Size", "size_icon.png", 100},
    {"Url Address", "link_icon.png", 300},
    {"Bytes", "bytes_received_icon.png", 100},
};

const HeaderColumn listColumns[] = {
    {"Filename", "filename_icon.png", 200}, {"File Size", "size_icon.png", 100}, {"Proxies", "proxy_ip.png", 100},
    {"Compile", "compilet_icon.png", 100},  {"Date", "date_icon.png", 100},
};

template <std::size_t N> void installHeader(QTableWidget* table, const HeaderColumn (&columns)[N])
{
    table->setColumnCount(static_cast<int>(N));
    for (std::size_t i = 0; i < N; ++i) {
        auto* item = new QTableWidgetItem(QIcon(QStringLiteral(":/formIcons/Icons/") + QLatin1String(columns[i].icon)),
                                          QString::fromLatin1(columns[i].text));
        item->setTextAlignment(Qt::AlignVCenter);
        item->setSizeHint(QSize(columns[i].width, 32));
        table->setHorizontalHeaderItem(static_cast<int>(i), item);
    }
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), m_ui(new Ui::MainWindow)
{
    m_ui->setupUi(this); // also binds the on_<object>_<signal> slots by name
    setUpTableHeaders();
    fillThreadSelector();

    m_leechList = new CLeechList(this);
    m_settings = new CConfig;

    // The fetchers make their run folders below the data folder, so the folders come first.
    setUpFolders();
    m_engine = new CHarvestEngine(m_settings, this);
    tellRunFolderFailures();
    m_engine->setThreads(m_ui->cbThreads->currentIndex() + 1);
    m_engine->setUrlSource([this] { return urlList(); });

    setWindowTitle(AppInfo::windowTitle);

    connect(m_ui->tableUrls->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::urlTableColumnClick);
    connect(m_engine, &CHarvestEngine::harvestStarting, this, &MainWindow::harvestStarting);
    connect(m_engine, &CHarvestEngine::nothingToFetch, this, &MainWindow::nothingToFetch);
    connect(m_engine, &CHarvestEngine::threadsLimited, this,
            [this](int threads) { m_ui->cbThreads->setCurrentIndex(threads - 1); });
    connect(m_engine, &CHarvestEngine::reportCounted, this, &MainWindow::reportCounted);
    connect(m_engine, &CHarvestEngine::pagesFetched, this, &MainWindow::showPageSizes);
    connect(m_engine, &CHarvestEngine::pagesNotStored, this, &MainWindow::pagesNotStored);
    connect(m_engine, &CHarvestEngine::proxiesFound, this, &MainWindow::incrementProxyTally);
    connect(m_engine, &CHarvestEngine::harvestComplete, this, &MainWindow::refreshControls);
    connect(m_engine, &CHarvestEngine::outputWritten, this,
            [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
    connect(m_engine, &CHarvestEngine::noProxyResults, this, &MainWindow::noProxyResults);
    connect(m_engine, &CHarvestEngine::outputWriteFailed, this, &MainWindow::outputWriteFailed);
    connect(m_engine, &CHarvestEngine::newLeechUrl, this, &MainWindow::newLeechUrlFound);

    refreshOutputLists();
    m_ui->tableLists->verticalHeader()->hide();

    m_configWindow = new ConfigWindow(this);
    m_configWindow->setConfig(m_settings);
    m_ipToCountry = new IPToCountry(this);
}

MainWindow::~MainWindow()
{
    removeAllRows(m_ui->tableUrls);

    // Waits for a running extraction, which closes and names its file.
    delete m_engine;

    delete m_configWindow;
    delete m_ipToCountry;
    delete m_leechList;
    delete m_settings; // writes the settings file

    delete m_ui;
}

void MainWindow::setUpTableHeaders()
{
    installHeader(m_ui->tableUrls, urlColumns);
    m_ui->tableUrls->verticalHeader()->hide();
    installHeader(m_ui->tableLists, listColumns);
}

void MainWindow::fillThreadSelector()
{
    for (int i = 0; i < fetcherCount; ++i) {
        const QString unit = i == 0 ? QStringLiteral(" thread") : QStringLiteral(" threads");
        m_ui->cbThreads->addItem(QStringLiteral("       ") + QString::number(i + 1) + unit);
    }
    m_ui->cbThreads->setCurrentIndex(4);
}

void MainWindow::setUpFolders()
{
    // One box for every folder that is missing and cannot be made.
    for (qsizetype i = UserFolders::makeUserFolders().size(); i > 0; --i) {
        QMessageBox box(QMessageBox::NoIcon, AppInfo::messageTitle,
                        QStringLiteral("Error establishing data directory, please restart the application"),
                        QMessageBox::Ok, this);
        box.exec();
        m_startupFailed = true;
        close();
    }
}

void MainWindow::tellRunFolderFailures()
{
    // Every page fetcher tried to make the run's page folder, and each one that failed says so.
    for (int i = m_engine->runFolderFailures(); i > 0; --i) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Sievra"), QStringLiteral("Error creating data directory"),
                        QMessageBox::Ok);
        box.exec();
    }
}

void MainWindow::removeAllRows(QTableWidget* table)
{
    while (table->rowCount() != 0)
        table->removeRow(0);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    const int width = event->size().width();
    const int height = event->size().height();

    QTabWidget* tabs = m_ui->tabWidget;
    tabs->setGeometry(10, 10, width - 16, height - 52);
    const int tabWidth = tabs->geometry().width();
    const int tabHeight = tabs->geometry().height();
    m_ui->tableUrls->setGeometry(10, 8, tabWidth - 25, tabHeight - 110);
    m_ui->tableLists->setGeometry(10, 8, tabWidth - 25, tabHeight - 40);

    // The five boxes keep their size and line up in one row under the URL table.
    const int boxTop = m_ui->tableUrls->geometry().height() + 15;
    QWidget* const boxes[] = {m_ui->gbScanOption, m_ui->gbSockets, m_ui->gbLeechListOptions, m_ui->gbProgramActions,
                              m_ui->gbStatus};
    boxes[0]->move(10, boxTop);
    boxes[1]->move(boxes[0]->geometry().width() + 19, boxTop);
    for (int i = 2; i < 5; ++i)
        boxes[i]->move(boxes[i - 1]->geometry().x() + boxes[i - 1]->geometry().width() + 9, boxTop);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    QMainWindow::keyPressEvent(event);
    if (event->key() == Qt::Key_Delete && m_ui->tableLists->hasFocus() && m_ui->tableLists->rowCount() > 0)
        deleteSelectedOutputFile();
    else if (event->key() == Qt::Key_Delete && m_ui->tableUrls->hasFocus())
        deleteSelectedUrl();

    // Whatever the key, the output lists are read again.
    refreshOutputLists();
}

void MainWindow::urlTableColumnClick(int)
{
    // Neither table sorts: a header click changes nothing.
}

void MainWindow::on_action_Exit_triggered()
{
    close();
}

void MainWindow::on_actionConfig_triggered()
{
    m_configWindow->show();
}

void MainWindow::on_actionIP_Country_Lookup_triggered()
{
    m_ipToCountry->show();
}

void MainWindow::on_action_About_triggered()
{
    auto* about = new AboutWindow(this);
    about->setVersion(AppInfo::version);
    about->show();
}

void MainWindow::on_action_Updates_triggered()
{
    m_updateQuery.setShowIfCurrent(true);
    m_updateQuery.query(AppInfo::productId, AppInfo::version);
}

void MainWindow::on_action_Learn_More_triggered()
{
    QDesktopServices::openUrl(QUrl(ExternalHosts::guidePage));
}

void MainWindow::on_actionOutput_Folder_triggered()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(UserFolders::outputFolder() + QLatin1Char('/')));
}

// Harvest control ------------------------------------------------------------------------------------------

void MainWindow::on_btnStart_clicked()
{
    if (m_ui->tableUrls->rowCount() == 0)
        return;
    if (m_ui->rbHarvestFurther->isChecked()) {
        m_engine->start(CHarvestEngine::MultipleCrawl);
        m_ui->cbThreads->setEnabled(false);
        m_ui->btnStart->setEnabled(false);
        m_ui->btnStop->setEnabled(true);
    } else {
        m_engine->start(CHarvestEngine::SingleCrawl);
    }
}

void MainWindow::newLeechUrlFound(const QString& strLink)
{
    appendUrlRow(strLink);
    setUrlTabTitle();
    m_ui->tableUrls->resizeColumnsToContents();
}

void MainWindow::harvestStarting()
{
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
    showProxyCount(0);
}

void MainWindow::nothingToFetch()
{
    m_ui->cbThreads->setEnabled(true);
    m_ui->btnStart->setEnabled(true);
    m_ui->btnStop->setEnabled(false);
}

void MainWindow::reportCounted(quint32 completed, int inUse)
{
    const quint32 percent = HarvestPlan::progressPercent(completed, inUse);
    if (percent <= 100)
        m_ui->crawlProgress->setValue(static_cast<int>(percent));
}

// Told once a harvest's pages are all in, while its extraction runs over those that were stored.
void MainWindow::pagesNotStored(const QStringList& paths, const QString& strReason)
{
    const QString text = QStringLiteral("%1 of the pages fetched could not be stored in\n%2\n%3\nTheir proxies are "
                                        "missing from this harvest.")
                             .arg(paths.size())
                             .arg(QFileInfo(paths.first()).absolutePath(), strReason);
    inform(QMessageBox::Warning, text);
}

void MainWindow::showPageSizes(const QList<CCrawlResult>& results)
{
    QTableWidget* table = m_ui->tableUrls;
    for (const CCrawlResult& result : results) {
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem* address = table->item(row, 1);
            if (address && address->text() == result.url()) {
                auto* cell = new QTableWidgetItem(formatByteSize(static_cast<quint32>(result.bytes())));
                cell->setTextAlignment(Qt::AlignCenter);
                table->setItem(row, 2, cell);
                break;
            }
        }
    }
}

void MainWindow::on_btnStop_clicked()
{
    m_engine->stop();
    m_ui->cbThreads->setEnabled(true);
    m_ui->btnStart->setEnabled(true);
    m_ui->btnStop->setEnabled(false);
    refreshOutputLists();
}

void MainWindow::refreshControls()
{
    // The engine reported the run's last lines just before, so the counter showed every line of the run.
    m_ui->crawlProgress->setValue(0);
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
    showProxyCount(0);
    m_ui->cbThreads->setEnabled(true);
    m_ui->btnStart->setEnabled(true);
    m_ui->btnStop->setEnabled(false);
    m_ui->tabWidget->setCurrentIndex(1);
    refreshOutputLists();
}

void MainWindow::on_cbThreads_currentIndexChanged(int index)
{
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
    // The selector is filled before the engine exists.
    if (m_engine)
        m_engine->setThreads(index + 1);
}

QStringList MainWindow::urlList() const
{
    QStringList urls;
    for (int row = 0; row < m_ui->tableUrls->rowCount(); ++row) {
        const QTableWidgetItem* address = m_ui->tableUrls->item(row, 1);
        urls << (address ? address->text() : QString());
    }
    return urls;
}

// Leech URL table ------------------------------------------------------------------------------------------

void MainWindow::appendUrlRow(const QString& url)
{
    QTableWidget* table = m_ui->tableUrls;
    auto* size = new QTableWidgetItem(QStringLiteral("         ") + formatByteSize(quint64(url.size()) * 8));
    size->setTextAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, size);
    table->setItem(row, 1, new QTableWidgetItem(url));
}

void MainWindow::setUrlTabTitle()
{
    m_ui->tabWidget->setTabText(0, QStringLiteral("Leech Urls (") + QString::number(m_ui->tableUrls->rowCount()) +
                                       QLatin1Char(')'));
}

void MainWindow::on_btnAdd_clicked()
{
    const QString url = QInputDialog::getText(this, QStringLiteral("Add Url"), QStringLiteral("Please provide a URL"),
                                              QLineEdit::Normal, QString(), nullptr, Qt::Dialog);
    if (url.isEmpty() || !passesDomainCheck(url))
        return;
    appendUrlRow(url);
    m_ui->tableUrls->resizeColumnsToContents();
}

void MainWindow::on_actionImport_Urls_triggered()
{
    const QString fileName = QFileDialog::getOpenFileName(this, QStringLiteral("Import File..."));
    if (fileName.isNull())
        return;
    QStringList urls;
    readUrlListFile(fileName, &urls);
    for (const QString& url : std::as_const(urls))
        appendUrlRow(url);
    setUrlTabTitle();
    m_ui->tableUrls->resizeColumnsToContents();
    m_ui->tableUrls->resizeRowsToContents();
}

void MainWindow::on_actionGet_Leech_List_triggered()
{
    // Whatever the start-up download has brought so far; nothing is fetched again.
    for (const QString& url : m_leechList->urlList())
        if (passesDomainCheck(url))
            appendUrlRow(url);
    setUrlTabTitle();
    m_ui->tableUrls->resizeColumnsToContents();
    m_ui->tableUrls->resizeRowsToContents();
}

void MainWindow::on_btnRemoveDuplicates_clicked()
{
    m_ui->btnRemoveDuplicates->setEnabled(false);
    QTableWidget* table = m_ui->tableUrls;
    QSet<QStringList> seen;
    for (int row = 0; row < table->rowCount();) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            cells << (item ? item->text() : QString());
        }
        if (seen.contains(cells)) {
            table->removeRow(row);
        } else {
            seen.insert(cells);
            ++row;
        }
    }
    m_ui->btnRemoveDuplicates->setEnabled(true);
}

void MainWindow::deleteSelectedUrl()
{
    QTableWidget* table = m_ui->tableUrls;
    const QModelIndexList selected = table->selectionModel()->selectedRows(1);
    if (selected.isEmpty())
        return;
    const QString url = selected.first().data().toString().trimmed();
    if (!confirm(QStringLiteral("Confirm"), QStringLiteral("Delete Url: ") + url + QStringLiteral(" ..."), false))
        return;
    table->removeRow(table->currentRow());
    setUrlTabTitle();
}

void MainWindow::on_btnClear_clicked()
{
    const int rows = m_ui->tableUrls->rowCount();
    if (rows == 0)
        return;
    if (!confirm(AppInfo::messageTitle,
                 QStringLiteral("Confirm deletion of ") + QString::number(rows) + QStringLiteral(" URLs..."), true))
        return;
    removeAllRows(m_ui->tableUrls);
    m_ui->tabWidget->setTabText(0, QStringLiteral("Leech Urls"));
}

void MainWindow::on_btnSave_clicked()
{
    const int rows = m_ui->tableUrls->rowCount();
    if (rows == 0)
        return;
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Sievra ") + AppInfo::version, QString(),
                                                          QStringLiteral(".txt"));
    if (fileName.isNull())
        return;

    QFile file(fileName);
    // Claiming success for a list that never reached the disk would lose it: say so instead.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        inform(QMessageBox::Warning, QStringLiteral("Url list could not be saved to ") + fileName);
        return;
    }
    // UTF-8, as Import reads it: a list must come back unchanged, whatever its URLs hold.
    for (const QString& url : urlList())
        file.write((url + QLatin1Char('\n')).toUtf8());
    file.flush();
    const bool written = file.error() == QFileDevice::NoError;
    file.close();
    setUrlTabTitle();
    if (written)
        inform(QMessageBox::Information, QStringLiteral("Url list successfully saved."));
    else
        inform(QMessageBox::Warning, QStringLiteral("Url list could not be saved to ") + fileName);
}

bool MainWindow::confirm(const QString& title, const QString& text, bool withProgramIcon)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (withProgramIcon)
        box.setWindowIcon(QIcon(AppInfo::programIcon));
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::inform(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, AppInfo::messageTitle, text, QMessageBox::Ok);
    box.setWindowIcon(QIcon(AppInfo::programIcon));
    box.exec();
}

// Extraction results and output lists -------------------------------------------------------------------

void MainWindow::incrementProxyTally(int count)
{
    showProxyCount(m_proxyCount + count);
}

void MainWindow::showProxyCount(int count)
{
    m_proxyCount = count;
    m_ui->lblProxies->setText(QStringLiteral("PE: ") + QString::number(count));
}

void MainWindow::noProxyResults()
{
    QMessageBox box(QMessageBox::Question, AppInfo::messageTitle, QStringLiteral("No proxies found"), QMessageBox::Ok);
    box.setWindowIcon(QIcon(AppInfo::programIcon));
    box.exec();
}

// The controls stay as after "No proxies found": the pages are kept and the next Start reads them again.
void MainWindow::outputWriteFailed(const QString& strMessage)
{
    inform(QMessageBox::Warning, strMessage);
}

void MainWindow::refreshOutputLists()
{
    QTableWidget* table = m_ui->tableLists;
    removeAllRows(table);

    // Rows follow the order the file system lists the files in.
    const QFileInfoList entries = QDir(UserFolders::outputFolder()).entryInfoList(QDir::Files, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        const std::optional<OutputFileName::Listed> listed = OutputFileName::parse(name);
        if (!listed)
            continue;
        const int start = listed->runStamp;
        const int end = listed->startTime;
        const QString cells[] = {
            QStringLiteral("     ") + name,
            formatByteSize(static_cast<quint64>(entry.size())),
            listed->lines,
            formatDuration(static_cast<quint32>(end - start)),
            QDateTime::fromSecsSinceEpoch(end).toString(QStringLiteral("dd/MM/yyyy")),
        };

        const int row = table->rowCount();
        table->insertRow(row);
        for (int column = 0; column < 5; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setTextAlignment(Qt::AlignCenter);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            table->setItem(row, column, item);
        }
    }
    table->resizeColumnToContents(0);
}

void MainWindow::on_tableLists_doubleClicked(const QModelIndex&)
{
    QTableWidget* table = m_ui->tableLists;
    if (!table->hasFocus() || table->rowCount() == 0)
        return;
    // Whichever cell was clicked, the row's file is opened: only the Filename cell holds its name.
    const QTableWidgetItem* cell = table->item(table->currentRow(), 0);
    if (!cell)
        return;
    const QString path = QDir(UserFolders::outputFolder()).filePath(cell->text().trimmed());
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::deleteSelectedOutputFile()
{
    QTableWidget* table = m_ui->tableLists;
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const QTableWidgetItem* cell = table->item(selected.first().row(), 0);
    const QString fileName = cell ? cell->text().trimmed() : QString();

    QMessageBox confirm(QMessageBox::Question, QStringLiteral("Confirm"),
                        QStringLiteral("Delete: ") + fileName + QStringLiteral(" ..."),
                        QMessageBox::Yes | QMessageBox::No);
    confirm.setDefaultButton(QMessageBox::No);
    if (confirm.exec() != QMessageBox::Yes)
        return;

    if (!QDir(UserFolders::outputFolder()).remove(fileName)) {
        QMessageBox failed(QMessageBox::Question, AppInfo::messageTitle, QStringLiteral("File could not be removed"),
                           QMessageBox::Yes);
        // No is named as the default although the box has no such button; Yes is all the user can press.
        failed.setDefaultButton(QMessageBox::No);
        failed.setWindowIcon(QIcon(AppInfo::programIcon));
        failed.exec();
    }
    // The row goes either way; the rebuild after the key brings back a file that stayed.
    table->removeRow(table->currentRow());
}
