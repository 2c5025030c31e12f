#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

// When a proxy is checked again, when it is given up, and how much of the time it worked.
namespace PoolSchedule {

constexpr qint64 minute = 60;
constexpr qint64 hour = 60 * minute;
constexpr qint64 day = 24 * hour;

// After a check that leaves this streak (positive: working in a row; negative: failures in a row): 30 minutes
// after one that worked; after failures 1 hour, doubled for each failure in a row, at most 24 hours.
qint64 recheckAfter(int streak);
// Retired: at least 7 failures in a row, the first of them at least 7 days before the last.
bool retires(int streak, qint64 firstFailure, qint64 lastCheck);

// Percent of the time a proxy worked over the 7 days before `now`, or since its first check if later: counted from
// `start` on. Each stretch between two checks counts as up when both worked, down when both failed, half up when they
// differ; `up` is the sum of the stretches from `start` to the last check in half seconds (twice the length when up,
// once when half up); the stretch from the last check, at `lastAt`, to now as that check's outcome.
double uptime(qint64 up, qint64 start, qint64 now, qint64 lastAt, bool lastWorked);

} // namespace PoolSchedule
