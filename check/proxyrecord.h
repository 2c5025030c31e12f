#pragma once

#include "check/checkresult.h"
#include "check/geolookup.h"
#include "check/proxyendpoint.h"

#include <QHash>
#include <QStringList>

#include <optional>
#include <vector>

// One checked proxy with where it is: what the JSON and CSV lists and the check report give of it.
struct ProxyRecord
{
    ProxyEndpoint proxy;
    CheckResult result;
    GeoLookup::Place place;
    GeoLookup::Place exit; // of the address the judge saw through the proxy; empty when it saw none
    QStringList sources;   // the URLs of a harvest's sources that gave the proxy

    // What a pool knows of the proxy over time (its export's records): seconds since the epoch, -1 for never.
    struct History
    {
        qint64 firstSeen = -1;
        qint64 lastSeen = -1;
        qint64 lastChecked = -1;
        qint64 lastWorked = -1;
        int checks7d = 0;
        int worked7d = 0;
        double uptime7d = -1; // percent, by time; negative when never checked
        int streak = 0;       // checks in a row with the last outcome, negative for failures
    };
    std::optional<History> history;

    // The records of a check, all or only the working ones, in list order. `sources` by ProxyEndpoint::key(); a
    // proxy whose judge saw its own address gets its own place as the exit's.
    static ProxyRecord of(const ProxyEndpoint& proxy, const CheckResult& result, const GeoLookup& geo,
                          const QStringList& sources);
    static std::vector<ProxyRecord> fromCheck(const std::vector<ProxyEndpoint>& proxies,
                                              const std::vector<CheckResult>& results, const GeoLookup& geo,
                                              const QHash<quint64, QStringList>& sources, bool workingOnly);
};
