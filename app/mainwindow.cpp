#include "app/mainwindow.h"

#include "app/util/appinfo.h"
#include "app/util/externalhosts.h"
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
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QResizeEvent>
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

template <std::size_t N>
void installHeader(QTableWidget* table, const HeaderColumn (&columns)[N])
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
    connect(&m_extraction, &CLeechProxies::signifyNewProxy, this, &MainWindow::incrementProxyTally);

    // The fetchers make their run folders below the data folder, so the folders come first.
    setUpFolders();
    createFetchers();

    m_completedCount = 0;
    setWindowTitle(AppInfo::windowTitle);

    connect(m_ui->tableUrls->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::urlTableColumnClick);
    connect(&m_extraction, &CLeechProxies::harvestComplete, this, &MainWindow::refreshControls);
    connect(&m_extraction, &CLeechProxies::noProxyResults, this, &MainWindow::noProxyResults);

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

    // A running extraction is stopped like Stop does and waited for, so its file is closed, named and
    // its pages removed before the thread object goes.
    if (m_extraction.isRunning()) {
        m_extraction.closeOutput();
        m_extraction.exit(0);
        m_extraction.wait();
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
        connect(fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrieved, fetcher, &CLeechSocket::processData, Qt::DirectConnection);
        connect(fetcher, &TXL::QtLib::Web::CWebSocket::dataRetrievalError, fetcher, &CLeechSocket::processError,
                Qt::DirectConnection);
        connect(fetcher, &CLeechSocket::urlListProcessed, this, &MainWindow::crawlCompleted, Qt::QueuedConnection);
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
    // Deleting rows of either table comes with the table editing work.
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

// The harvest, the table editing and the output lists come with their own work; until then these
// slots are connected but do nothing.

void MainWindow::crawlCompleted(int) {}

void MainWindow::refreshControls() {}

void MainWindow::incrementProxyTally() {}

void MainWindow::noProxyResults() {}

void MainWindow::linkLeechingComplete() {}

void MainWindow::newLeechUrlFound(const QString&) {}

void MainWindow::on_actionImport_Urls_triggered() {}

void MainWindow::on_actionGet_Leech_List_triggered() {}

void MainWindow::on_btnClear_clicked() {}

void MainWindow::on_btnSave_clicked() {}

void MainWindow::on_btnStart_clicked() {}

void MainWindow::on_btnStop_clicked() {}

void MainWindow::on_btnRemoveDuplicates_clicked() {}

void MainWindow::on_btnAdd_clicked() {}

void MainWindow::on_cbThreads_currentIndexChanged(int)
{
    m_ui->lblUrls->setText(QStringLiteral("TC:"));
}

void MainWindow::on_tableLists_doubleClicked(const QModelIndex&) {}

void MainWindow::refreshOutputLists() {}
