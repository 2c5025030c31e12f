#pragma once

#include "check/checkresult.h"
#include "check/proxyrecord.h"

#include <QByteArray>
#include <QString>

#include <vector>

// What the check of each proxy found: one tab-separated line per proxy under a header line, and a summary line.
namespace CheckReport {

// Where a proxy is, and with `withSources` the sources that gave it, after what the check found.
QByteArray text(const std::vector<ProxyRecord>& records, bool withSources);
// "proxies: N working of N checked"
QString summary(const std::vector<CheckResult>& results);

} // namespace CheckReport
