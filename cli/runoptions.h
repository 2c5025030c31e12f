#pragma once

#include "check/geolookup.h"
#include "check/proxyendpoint.h"
#include "cli/checkrun.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// Everything one command-line run needs, read from its arguments. parse() also does what must be done before the
// run starts, so that bad input stops it at once: it opens the reports for writing, reads the URL list or the proxy
// list and opens the country and network databases.
class RunOptions
{
public:
    // What the arguments came to (below).
    struct Parsed;

    static Parsed parse(const QStringList& arguments);

    bool check = false;                 // --check: a check of checkFile, or of what the harvest found
    QString checkFile;                  // empty: a harvest
    QStringList urls;                   // of the harvest
    std::vector<ProxyEndpoint> proxies; // of checkFile
    bool classic = false;               // the window's harvest: its fetching, its list check, its extraction
    bool insecure = false;              // certificates that fail verification accepted
    QString reportPath;                 // the source report, empty for none
    int threads = 5;
    int depth = 0;                   // 0: no link crawl
    int timeoutChoice = -1;          // the index of the fetch time-out given; -1: the stored one
    QString lineTemplate;            // upper-cased; empty: the stored one
    CCheckRun::Options checkOptions; // its line template, run stamp and terminal are filled in where the run starts
    std::unique_ptr<GeoLookup> geo;  // what checkOptions.geo points to
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
