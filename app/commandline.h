#pragma once

#include "harvest/harvestengine.h"

#include <QObject>
#include <QStringList>
#include <memory>

class CConfig;
class QSocketNotifier;

// A harvest without a window: `sievra --harvest FILE [options]`. Reads the options, runs the engine over the
// file's URLs, shows progress on standard error and prints the output file's path on standard output.
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
    bool makeFolders();
    void catchStopSignals();
    void stopSignalled();
    void showProgress(bool last = false);
    void finish();
    void writeReport();

    std::unique_ptr<CConfig> m_config;
    std::unique_ptr<CHarvestEngine> m_engine;
    QSocketNotifier* m_signalNotifier = nullptr;
    QStringList m_urls;
    WebRules m_rules;
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
