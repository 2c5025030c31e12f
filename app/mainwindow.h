#pragma once

#include "harvest/harvestengine.h"
#include "qtlib/updatesys/updatequery.h"
#include "windows/updateprompt.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndex>
#include <QString>
#include <QStringList>

namespace Ui {
class MainWindow;
}

class AboutWindow;
class CCrawlResult;
class CConfig;
class CLeechList;
class ConfigWindow;
class IPToCountry;
class QTableWidget;

// The program's one window: the leech URL table with the harvest controls, and the output lists.
// It owns every long-lived object of the program and creates them all in its constructor; the harvest itself
// runs in its CHarvestEngine, and the window shows what the engine reports.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int fetcherCount = CHarvestEngine::fetcherCount;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // True when a per-user folder could not be made; the program then ends instead of running without them.
    bool startupFailed() const { return m_startupFailed; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void reportCounted(quint32 completed, int inUse);
    void urlTableColumnClick(int column);
    void refreshControls();
    void incrementProxyTally(int count = 1);
    void noProxyResults();
    void outputWriteFailed(const QString& strMessage);
    void pagesNotStored(const QStringList& paths, const QString& strReason);
    void harvestStarting();
    void nothingToFetch();
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
    void tellRunFolderFailures();
    void showProxyCount(int count);
    void refreshOutputLists();
    void deleteSelectedOutputFile();
    static void removeAllRows(QTableWidget* table);

    void showPageSizes(const QList<CCrawlResult>& results);
    QStringList urlList() const;
    void appendUrlRow(const QString& url);
    void setUrlTabTitle();
    void deleteSelectedUrl();
    static bool confirm(const QString& title, const QString& text, bool withProgramIcon);
    static void inform(QMessageBox::Icon icon, const QString& text);

    Ui::MainWindow* m_ui = nullptr;
    ConfigWindow* m_configWindow = nullptr;
    IPToCountry* m_ipToCountry = nullptr;
    CLeechList* m_leechList = nullptr;
    TXL::QtLib::UpdateSys::CUpdateQuery m_updateQuery;
    UpdatePrompt m_updatePrompt{&m_updateQuery};
    CConfig* m_settings = nullptr;
    CHarvestEngine* m_engine = nullptr;
    bool m_startupFailed = false;
    int m_proxyCount = 0; // lines the running harvest has written so far, as "PE:" shows
};
