#pragma once

#include <QtGlobal>

// The time a run goes by, in seconds since the epoch: the system's, or a time a test sets, which then stands still
// so that the schedule, uptime and retirement can be tested without waiting for them.
class RunClock
{
public:
    // The system's clock.
    RunClock() = default;
    // A clock that stands at `seconds`.
    explicit RunClock(qint64 seconds) : m_fixed(seconds) {}
    // SIEVRA_CLOCK, an ISO 8601 UTC time ("2026-12-06T10:00:00Z"), sets the clock; without it, the system's.
    static RunClock fromEnvironment();

    qint64 now() const;

private:
    qint64 m_fixed = -1;
};
