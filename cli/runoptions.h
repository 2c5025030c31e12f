#pragma once

#include "check/checkjob.h"
#include "check/geolookup.h"
#include "check/proxyendpoint.h"
#include "harvest/harvestjob.h"
#include "pool/pooljob.h"
#include "serve/servejob.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// One command-line run, read from its arguments: the harvest and the check it describes. parse() reads the
// arguments and the input files (the URL list or the proxy list, the country and network databases, the stored
// settings that stand for what is not given) and refuses bad input with one line. It creates, empties or opens
// for writing nothing: the outputs are prepared once every refusal is past.
class RunOptions
{
public:
    // What the arguments came to (below).
    struct Parsed;

    static Parsed parse(const QStringList& arguments);

    bool check = false;                 // --check: a check of checkFile, or of what the harvest found
    QString checkFile;                  // empty: a harvest
    std::vector<ProxyEndpoint> proxies; // of checkFile
    HarvestJob harvest;
    CheckJob checkJob;
    PoolJob pool;                   // where the run is kept, or what it asks of the pool
    std::unique_ptr<GeoLookup> geo; // what checkJob.geo points to
    std::optional<ServeJob> serve;  // --serve: the local proxy, of the pool's alive proxies or of the check's
    QString serveLog;               // --serve-log FILE; empty: none
};

// The options to run with, or the end of the program with its status.
struct RunOptions::Parsed
{
    std::optional<RunOptions> options; // none: the program ends with exitCode
    int exitCode = 0;
    QString refusal;     // the one line on standard error that says why, "sievra: ..."
    QString output;      // for standard output: the help or the version
    QStringList notices; // lines on standard error before the refusal or the run, in order
};
