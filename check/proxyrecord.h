#pragma once

#include "check/checkresult.h"
#include "check/geolookup.h"
#include "check/proxyendpoint.h"

#include <QHash>
#include <QStringList>

#include <vector>

// One checked proxy with where it is: what the JSON and CSV lists and the check report give of it.
struct ProxyRecord
{
    ProxyEndpoint proxy;
    CheckResult result;
    GeoLookup::Place place;
    GeoLookup::Place exit; // of the address the judge saw through the proxy; empty when it saw none
    QStringList sources;   // the URLs of a harvest's sources that gave the proxy

    // The records of a check, all or only the working ones, in list order. `sources` by ProxyEndpoint::key(); a
    // proxy whose judge saw its own address gets its own place as the exit's.
    static std::vector<ProxyRecord> fromCheck(const std::vector<ProxyEndpoint>& proxies,
                                              const std::vector<CheckResult>& results, const GeoLookup& geo,
                                              const QHash<quint64, QStringList>& sources, bool workingOnly);
};
