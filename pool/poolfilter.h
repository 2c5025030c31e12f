#pragma once

#include "check/checkresult.h"
#include "check/proxyrecord.h"

#include <QStringList>

// Which of the pool's proxies an export lists; every condition set must hold. A proxy never checked has no
// places, protocols, anonymity or time, and so meets none of the conditions on them.
struct PoolFilter
{
    bool aliveOnly = true;     // worked at its last check, at most aliveHours old; false: every proxy not retired
    double minUptime = -1;     // uptime_7d at least this, in percent; negative: any
    QStringList countries;     // of the proxy's address, upper case; empty: any
    QStringList exitCountries; // of the address the judge saw
    int protocols = 0;         // CheckResult::Protocol flags, one of which worked at the last check; 0: any
    CheckResult::Anonymity anonymity = CheckResult::Unknown; // that level or better; Unknown: any
    int maxMs = -1;                                          // the last first-byte time at most this; negative: any

    static constexpr int aliveHours = 24;

    bool matches(const ProxyRecord& record) const;
};
