#pragma once

#include "extraction/leechproxies.h"
#include "qtlib/updatesys/updatequery.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <memory>

#include <atomic>

namespace Ui {
class MainWindow;
}

class AboutWindow;
class CCrawlResult;
class CConfig;
class CLeechLinks;
class CLeechList;
class CLeechSocket;
class ConfigWindow;
class IPToCountry;
class QLockFile;
class QTableWidget;

// The program's one window: the leech URL table with the harvest controls, and the output lists.
// It owns every long-lived object of the program and creates them all in its constructor.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int fetcherCount = 20;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // True when a per-user folder could not be made; the program then ends instead of running without them.
    bool startupFailed() const { return m_startupFailed; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void crawlCompleted(int iSocketDescriptor);
    void urlTableColumnClick(int column);
    void refreshControls();
    void incrementProxyTally(int count = 1);
    void noProxyResults();
    void outputWriteFailed(const QString& strMessage);
    void pageNotStored(const QString& strPath, const QString& strReason);
    void linkLeechingComplete();
    void newLeechUrlFound(const QString& strLink);
    void on_action_Exit_triggered();
    void on_actionImport_Urls_triggered();
    void on_action_Updates_triggered();
    void on_action_About_triggered();
    void on_action_Learn_More_triggered();
    void on_actionGet_Leech_List_triggered();
    void on_btnClear_clicked();
    void on_btnSave_clicked();
    void on_btnStart_clicked();
    void on_btnStop_clicked();
    void on_btnRemoveDuplicates_clicked();
    void on_btnAdd_clicked();
    void on_cbThreads_currentIndexChanged(int index);
    void on_actionOutput_Folder_triggered();
    void on_tableLists_doubleClicked(const QModelIndex& index);
    void on_actionConfig_triggered();
    void on_actionIP_Country_Lookup_triggered();

private:
    void setUpTableHeaders();
    void fillThreadSelector();
    void setUpFolders();
    void ensureFolder(const QString& folder);
    void createFetchers();
    void refreshOutputLists();
    void deleteSelectedOutputFile();
    static void removeAllRows(QTableWidget* table);

    void startLinkCrawl();
    void startHarvest();
    void showPageSize(const CCrawlResult& result);
    void tellUnstoredPages();
    int fetchersInUse() const;
    QStringList urlList() const;
    void appendUrlRow(const QString& url);
    void setUrlTabTitle();
    void deleteSelectedUrl();
    static bool confirm(const QString& title, const QString& text, bool withProgramIcon);
    static void inform(QMessageBox::Icon icon, const QString& text);
    void countProxy();
    void showUnshownProxies();

    Ui::MainWindow* m_ui = nullptr;
    ConfigWindow* m_configWindow = nullptr;
    IPToCountry* m_ipToCountry = nullptr;
    CLeechList* m_leechList = nullptr;
    QVector<CLeechSocket*> m_fetchers;
    TXL::QtLib::UpdateSys::CUpdateQuery m_updateQuery;
    CConfig* m_settings = nullptr;
    CLeechProxies m_extraction;
    CLeechLinks* m_linkCrawler = nullptr;
    quint32 m_completedCount = 0;
    QStringList m_unstoredPages; // of the harvest under way
    QString m_unstoredReason;
    quint32 m_runStamp = 0;
    std::unique_ptr<QLockFile> m_runFolderLock; // tells other starts that this run's pages are live
    bool m_startupFailed = false;
    // Lines the extraction has written that the counter does not show yet.
    std::atomic<int> m_unshownProxies{0};
    QTimer m_tallyTimer;
};
