#include "pool/poolfilter.h"

bool PoolFilter::matches(const ProxyRecord& record) const
{
    const CheckResult& result = record.result;
    const double uptime = record.history ? record.history->uptime7d : -1;
    if (minUptime >= 0 && (uptime < 0 || uptime < minUptime))
        return false;
    if (!countries.isEmpty() && !countries.contains(record.place.country))
        return false;
    if (!exitCountries.isEmpty() && !exitCountries.contains(record.exit.country))
        return false;
    if (protocols != 0 && (result.protocols & protocols) == 0)
        return false;
    // Elite above anonymous above transparent, as the enumeration orders them.
    if (anonymity != CheckResult::Unknown && result.anonymity < anonymity)
        return false;
    return maxMs < 0 || (result.firstByteMs >= 0 && result.firstByteMs <= maxMs);
}
