#pragma once

#include "check/checkresult.h"
#include "check/proxyendpoint.h"

#include <QByteArray>
#include <QString>

#include <vector>

// What the check of each proxy found: one tab-separated line per proxy under a header line, and a summary line.
namespace CheckReport {

QByteArray text(const std::vector<ProxyEndpoint>& proxies, const std::vector<CheckResult>& results);
// "proxies: N working of N checked"
QString summary(const std::vector<CheckResult>& results);

} // namespace CheckReport
