#pragma once

#include "cli/checkrun.h"
#include "cli/harvestrun.h"
#include "cli/runoptions.h"
#include "cli/servepool.h"
#include "cli/serverecheck.h"
#include "cli/serverun.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>

class NamedOutput;
class PoolRecording;
class RunStampClaim;
class QSocketNotifier;

// The program without a window: `sievra --harvest FILE [options]` harvests the file's URLs and prints the output
// file's path on standard output; `sievra --check FILE` checks the proxies a file names; `--harvest FILE --check`
// harvests, then checks what it found. Reads the options, starts the run, passes Ctrl+C on to it and ends the
// program with the run's status.
class CCommandLine : public QObject
{
    Q_OBJECT

public:
    CCommandLine();
    ~CCommandLine() override;

    // The exit status; runs the event loop of the core application that must exist.
    int run(const QStringList& arguments);

private:
    bool makeFolders();
    bool prepareOutputs();
    bool openPool();
    int startRecheck();
    bool startCheckOfFile();
    void startCheckOfHarvest();
    void startCheck(const std::vector<ProxyEndpoint>& proxies, quint32 runStamp,
                    const QHash<quint64, QStringList>* sources = nullptr);
    void checkFinished(int status);
    int startServeOfPool();
    void keepServing(const std::vector<ProxyEndpoint>& listed);
    void catchStopSignals();
    void stopSignalled();

    std::optional<RunOptions> m_options;
    // The reports named, under their temporary names until the run writes them.
    std::unique_ptr<NamedOutput> m_report;
    std::unique_ptr<NamedOutput> m_checkReport;
    std::unique_ptr<PoolRecording> m_pool; // none: the run keeps nothing
    std::unique_ptr<CHarvestRun> m_harvestRun;
    std::unique_ptr<RunStampClaim> m_runClaim; // of a check of a file; a harvest's engine holds its own
    std::unique_ptr<CCheckRun> m_checkRun;
    std::unique_ptr<CServeRun> m_serveRun;
    std::unique_ptr<CServePool> m_servePool;       // while serving with a pool
    std::unique_ptr<CServeRecheck> m_serveRecheck; // while serving, unless --recheck-every 0
    QSocketNotifier* m_signalNotifier = nullptr;
    bool m_serving = false;
};
