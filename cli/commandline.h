#pragma once

#include "cli/checkrun.h"
#include "harvest/harvestengine.h"

#include <QObject>
#include <QStringList>
#include <memory>

class CConfig;
class RunStampClaim;
class QSocketNotifier;

// A harvest without a window: `sievra --harvest FILE [options]`. Reads the options, runs the engine over the
// file's URLs, shows progress on standard error and prints the output file's path on standard output.
// `sievra --check FILE` checks the proxies a file names; `--harvest FILE --check` harvests, then checks.
class CCommandLine : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Written = 0, BadInput = 1, NoProxies = 2 };

    CCommandLine();
    ~CCommandLine() override;

    // The exit status; runs the event loop of the core application that must exist.
    int run(const QStringList& arguments);

private:
    bool parse(const QStringList& arguments);
    bool parseCheck(const class QCommandLineParser& parser);
    bool openGeo(const class QCommandLineParser& parser);
    bool readUrls(const QString& file);
    bool makeFolders();
    bool startHarvest();
    bool startCheckOfFile();
    void startCheckOfHarvest();
    void startCheck(const std::vector<ProxyEndpoint>& proxies, quint32 runStamp,
                    const QHash<quint64, QStringList>* sources = nullptr);
    void checkFinished(int status);
    void catchStopSignals();
    void stopSignalled();
    void showProgress(bool last = false);
    void finish();
    void writeReport(const QHash<QString, int>* workingPerPage = nullptr);

    std::unique_ptr<CConfig> m_config;
    std::unique_ptr<CHarvestEngine> m_engine;
    std::unique_ptr<RunStampClaim> m_runClaim; // of a check of a file; a harvest's engine holds its own
    std::unique_ptr<CCheckRun> m_checkRun;
    std::unique_ptr<GeoLookup> m_geo;
    CCheckRun::Options m_checkOptions;
    bool m_check = false;
    QString m_checkFile; // a check of a file rather than of a harvest
    bool m_stopRequested = false;
    QSocketNotifier* m_signalNotifier = nullptr;
    QStringList m_urls;
    bool m_classic = false;  // the window's harvest: its fetching, its list check, its extraction
    bool m_insecure = false; // certificates that fail verification accepted
    QString m_reportPath;
    int m_threads = 5;
    int m_depth = 0; // 0: no link crawl
    bool m_terminal = false;
    int m_pagesDone = 0;
    int m_pagesTotal = 0;
    int m_proxies = 0;
    QString m_shown; // the progress last shown
    QString m_outputPath;
    QString m_failure;
};
