#include "pool/poolschedule.h"

#include <algorithm>
#include <cmath>

namespace PoolSchedule {

qint64 recheckAfter(int streak)
{
    if (streak > 0)
        return 30 * minute;
    // 1, 2, 4 ... hours; past 24 the doubling stops mattering, and a long streak must not overflow the shift.
    const int failures = std::min(-streak, 6);
    return std::min(hour << (failures - 1), day);
}

bool retires(int streak, qint64 firstFailure, qint64 lastCheck)
{
    return streak <= -7 && lastCheck - firstFailure >= 7 * day;
}

double uptime(qint64 up, qint64 start, qint64 now, qint64 lastAt, bool lastWorked)
{
    const qint64 whole = now - start;
    if (whole <= 0)
        return lastWorked ? 100.0 : 0.0;
    up += (now - std::max(lastAt, start)) * 2 * int(lastWorked);
    return std::round(double(up) * 1000.0 / double(2 * whole)) / 10.0;
}

} // namespace PoolSchedule
