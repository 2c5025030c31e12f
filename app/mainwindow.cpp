#include "app/mainwindow.h"

#include "app/harvestplan.h"
#include "util/appinfo.h"
#include "util/domaincheck.h"
#include "util/externalhosts.h"
#include "util/formatting.h"
#include "leech/leechlinks.h"
#include "leech/leechlist.h"
#include "leech/leechsocket.h"
#include "settings/config.h"
#include "settings/configwindow.h"
#include "settings/userfolders.h"
#include "ui_mainwindow.h"
#include "windows/aboutwindow.h"
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
#include <QLockFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSet>
#include <QTextStream>
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
    m_runStamp = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());

    m_extraction.setRunStamp(m_runStamp);
    m_extraction.setConfig(m_settings);
    // Counted where it is emitted and shown a few times a second while the extraction runs: one queued call
    // per line would flood the window on a run of many thousands.
    connect(&m_extraction, &CLeechProxies::signifyNewProxy, this, &MainWindow::countProxy, Qt::DirectConnection);
    m_tallyTimer.setInterval(40);
    connect(&m_tallyTimer, &QTimer::timeout, this, &MainWindow::showUnshownProxies);

    // The fetchers make their run folders below the data folder, so the folders come first. The run folder is
    // claimed before it exists, so that another start never takes it for a leftover.
    setUpFolders();
    m_runFolderLock = UserFolders::lockRunFolder(m_runStamp);
    UserFolders::removeLeftoverRunFolders(m_runStamp);
    createFetchers();

    m_completedCount = 0;
    setWindowTitle(AppInfo::windowTitle);

    connect(m_ui->tableUrls->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::urlTableColumnClick);
    connect(&m_extraction, &CLeechProxies::harvestComplete, this, &MainWindow::refreshControls);
    connect(&m_extraction, &CLeechProxies::noProxyResults, this, &MainWindow::noProxyResults);
    connect(&m_extraction, &CLeechProxies::outputWriteFailed, this, &MainWindow::outputWriteFailed);

    refreshOutputLists();
    m_ui->tableLists->verticalHeader()->hide();

    m_configWindow = new ConfigWindow(this);
    m_configWindow->setConfig(m_settings);
    m_ipToCountry = new IPToCountry(this);

    m_linkCrawler = new CLeechLinks;
    connect(m_linkCrawler, &CLeechLinks::linkLeechingComplete, this, &MainWindow::linkLeechingComplete);
    connect(m_linkCrawler, &CLeechLinks::newLeechUrl, this, &MainWindow::newLeechUrlFound);
}

MainWindow::~MainWindow()
{
    removeAllRows(m_ui->tableUrls);

    // exit() alone does not end run(). A running extraction is stopped like Stop does and waited for, so its
    // file is closed and named and its pages removed before the thread object goes. A run that has not opened
    // its file yet does not take the request, so it is repeated until the run ends.
    if (m_extraction.isRunning()) {
        m_extraction.exit(0);
        m_extraction.closeOutput();
        while (!m_extraction.wait(20))
            m_extraction.closeOutput();
    }

    delete m_configWindow;
    delete m_ipToCountry;
    delete m_leechList;
    delete m_settings; // writes the settings file
    delete m_linkCrawler;

    // The fetchers' threads only run an idle event loop, so asking them to leave it and waiting is enough.
    for (CLeechSocket* fetcher : std::as_const(m_fetchers)) {
        fetcher->exit(0);
        fetcher->wait();
        delete fetcher;
    }
    m_fetchers.clear();

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
    ensureFolder(UserFolders::makerFolder());
    ensureFolder(UserFolders::baseFolder());
    ensureFolder(UserFolders::dataFolder());
    ensureFolder(UserFolders::outputFolder());
}

void MainWindow::ensureFolder(const QString& folder)
{
    if (QDir(folder).exists())
        return;
    if (QDir().mkdir(folder))
        return;

    QMessageBox box(QMessageBox::NoIcon, AppInfo::messageTitle,
                    QStringLiteral("Error establishing data directory, please restart the application"),
                    QMessageBox::Ok, this);
    box.exec();
    m_startupFailed = true;
    close();
}

void MainWindow::createFetchers()
{
    for (int i = 0; i < fetcherCount; ++i) {
        auto* fetcher = new CLeechSocket;
        fetcher->setDataFolder(m_runStamp);
        connect(fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrieved, fetcher, &CLeechSocket::processData,
                Qt::DirectConnection);
        connect(fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrievalError, fetcher, &CLeechSocket::processError,
                Qt::DirectConnection);
        connect(fetcher, &CLeechSocket::urlListProcessed, this, &MainWindow::crawlCompleted, Qt::QueuedConnection);
        connect(fetcher, &CLeechSocket::pageNotStored, this, &MainWindow::pageNotStored);
        m_fetchers.append(fetcher);
        fetcher->start(QThread::InheritPriority);
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
    if (m_ui->rbHarvestFurther->isChecked())
        startLinkCrawl();
    else
        startHarvest();
}

void MainWindow::startLinkCrawl()
{
    m_linkCrawler->setMaxDepth(m_settings->depth());
    for (const QString& url : urlList())
        m_linkCrawler->addUrl(url);
    m_linkCrawler->startCrawl();
    m_ui->cbThreads->setEnabled(false);
    m_ui->btnStart->setEnabled(false);
    m_ui->btnStop->setEnabled(true);
}

void MainWindow::newLeechUrlFound(const QString& strLink)
{
    appendUrlRow(strLink);
    setUrlTabTitle();
    m_ui->tableUrls->resizeColumnsToContents();
}

void MainWindow::linkLeechingComplete()
{
    startHarvest();
}

void MainWindow::startHarvest()
{
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
    m_ui->lblProxies->setText(QStringLiteral("PE: 0"));

    const int rows = m_ui->tableUrls->rowCount();
    // The list can have been emptied while a link crawl ran: nothing to fetch, the controls come back.
    if (rows == 0) {
        m_ui->cbThreads->setEnabled(true);
        m_ui->btnStart->setEnabled(true);
        m_ui->btnStop->setEnabled(false);
        return;
    }
    if (rows <= m_ui->cbThreads->currentIndex())
        m_ui->cbThreads->setCurrentIndex(rows - 1);

    const QStringList urls = urlList();
    const QVector<HarvestPlan::Block> blocks = HarvestPlan::splitIntoBlocks(rows, fetchersInUse());
    m_completedCount = 0;
    m_unstoredPages.clear();
    for (int t = 0; t < blocks.size(); ++t) {
        CLeechSocket* fetcher = m_fetchers[t];
        fetcher->reset();
        fetcher->clearQueue();
        fetcher->setTimeout(CConfig::timeoutMilliseconds(m_settings->timeout()));
        for (int i = blocks[t].first; i < blocks[t].first + blocks[t].count; ++i) {
            CLeechUrl url;
            url.parse(urls[i], 0, QString());
            fetcher->addUrl(url);
        }
        fetcher->setSocketDescriptor(t);
        fetcher->fetchQueue();
    }
}

void MainWindow::crawlCompleted(int)
{
    ++m_completedCount;
    const int inUse = fetchersInUse();
    const quint32 percent = HarvestPlan::progressPercent(m_completedCount, inUse);
    if (percent <= 100)
        m_ui->crawlProgress->setValue(static_cast<int>(percent));
    if (m_completedCount != static_cast<quint32>(inUse))
        return;

    m_extraction.start(QThread::InheritPriority);
    m_tallyTimer.start();
    for (int t = 0; t < inUse; ++t)
        for (const CCrawlResult& result : m_fetchers[t]->results())
            showPageSize(result);
    tellUnstoredPages();
}

void MainWindow::pageNotStored(const QString& strPath, const QString& strReason)
{
    m_unstoredPages << strPath;
    m_unstoredReason = strReason;
}

// Told once a harvest's pages are all in, while its extraction runs over those that were stored.
void MainWindow::tellUnstoredPages()
{
    if (m_unstoredPages.isEmpty())
        return;
    const QString text = QStringLiteral("%1 of the pages fetched could not be stored in\n%2\n%3\nTheir proxies are "
                                        "missing from this harvest.")
                             .arg(m_unstoredPages.size())
                             .arg(QFileInfo(m_unstoredPages.first()).absolutePath(), m_unstoredReason);
    m_unstoredPages.clear();
    inform(QMessageBox::Warning, text);
}

void MainWindow::showPageSize(const CCrawlResult& result)
{
    QTableWidget* table = m_ui->tableUrls;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* address = table->item(row, 1);
        if (address && address->text() == result.url()) {
            auto* cell = new QTableWidgetItem(formatByteSize(static_cast<quint32>(result.bytes())));
            cell->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, 2, cell);
            return;
        }
    }
}

void MainWindow::on_btnStop_clicked()
{
    m_extraction.closeOutput();
    // Every fetcher reports its list as processed, so a harvest under way reaches its extraction.
    for (CLeechSocket* fetcher : std::as_const(m_fetchers)) {
        fetcher->abort();
        if (fetcher->isRunning())
            fetcher->exit(0);
        fetcher->clearQueue();
    }
    m_ui->cbThreads->setEnabled(true);
    m_ui->btnStart->setEnabled(true);
    m_ui->btnStop->setEnabled(false);
    refreshOutputLists();
}

void MainWindow::refreshControls()
{
    // The extraction counted its last line before it reported its end, so the counter shows every line of
    // the run before anything else of the end happens.
    showUnshownProxies();
    m_ui->crawlProgress->setValue(0);
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
    m_ui->lblProxies->setText(QStringLiteral("PE: 0"));
    m_ui->cbThreads->setEnabled(true);
    m_ui->btnStart->setEnabled(true);
    m_ui->btnStop->setEnabled(false);
    m_ui->tabWidget->setCurrentIndex(1);
    refreshOutputLists();
}

void MainWindow::on_cbThreads_currentIndexChanged(int)
{
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
}

int MainWindow::fetchersInUse() const
{
    return m_ui->cbThreads->currentIndex() + 1;
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
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8); // as Save writes it
        for (QString line = stream.readLine(); !line.isNull(); line = stream.readLine())
            if (passesDomainCheck(line))
                appendUrlRow(line);
    }
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
    // The label is the only record of the count: "PE: " and the number.
    const int shown = m_ui->lblProxies->text().mid(4).toInt(nullptr, 10);
    m_ui->lblProxies->setText(QStringLiteral("PE: ") + QString::number(shown + count));
}

void MainWindow::countProxy()
{
    // On the extraction thread: only a count. A call posted to the window per line, or even per line that
    // finds the window caught up, cost a quarter of the extraction's time on a run of 150,000 lines, since
    // an idle window catches up after nearly every line.
    m_unshownProxies.fetch_add(1, std::memory_order_relaxed);
}

void MainWindow::showUnshownProxies()
{
    // A finished run has counted all its lines, so this catch-up is the timer's last. Checked here rather than
    // on QThread::finished: a queued connection there has Qt's finishing thread call into our objects after
    // run(), ordered before their deletion only by QThread::wait(), which the thread sanitizer cannot see.
    if (m_extraction.isFinished())
        m_tallyTimer.stop();
    const int count = m_unshownProxies.exchange(0);
    if (count != 0)
        incrementProxyTally(count);
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

    static const QRegularExpression recognised(QRegularExpression::anchoredPattern(CLeechProxies::outputNamePattern),
                                               QRegularExpression::CaseInsensitiveOption);
    // Rows follow the order the file system lists the files in.
    const QFileInfoList entries = QDir(UserFolders::outputFolder()).entryInfoList(QDir::Files, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!recognised.match(name).hasMatch())
            continue;

        const QStringList fields = name.split(QLatin1Char('-'), Qt::SkipEmptyParts);
        QString endField = fields.at(5);
        endField.remove(QStringLiteral(".txt"), Qt::CaseSensitive);
        const int end = endField.toInt(nullptr, 10);
        const int start = fields.at(4).toInt(nullptr, 10);
        const QString cells[] = {
            QStringLiteral("     ") + name,
            formatByteSize(static_cast<quint64>(entry.size())),
            fields.at(0),
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
