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

double uptime(const std::vector<std::pair<qint64, bool>>& checks, qint64 now)
{
    if (checks.empty())
        return -1;
    const qint64 windowStart = now - 7 * day;
    const qint64 start = std::max(checks.front().first, windowStart);
    const qint64 whole = now - start;
    if (whole <= 0)
        return checks.back().second ? 100.0 : 0.0;
    // In half seconds, so that a stretch half up stays whole.
    qint64 up = 0;
    for (size_t i = 0; i + 1 < checks.size(); ++i) {
        const qint64 from = std::max(checks[i].first, start);
        const qint64 to = std::max(checks[i + 1].first, start);
        up += (to - from) * (int(checks[i].second) + int(checks[i + 1].second));
    }
    up += (now - std::max(checks.back().first, start)) * 2 * int(checks.back().second);
    return std::round(double(up) * 1000.0 / double(2 * whole)) / 10.0;
}

} // namespace PoolSchedule
