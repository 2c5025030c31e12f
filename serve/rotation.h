#pragma once

#include "serve/upstream.h"

#include <QSet>

#include <vector>

// The upstreams in turn: each request takes the next healthy one that speaks what it needs, so that a client
// keeping its connection alive still rotates. One that fails is set aside for 5 minutes, doubled while it keeps
// failing. Times are milliseconds of the caller's clock.
class Rotation
{
public:
    static constexpr qint64 asideMs = qint64{5} * 60 * 1000;
    static constexpr qint64 longestAsideMs = qint64{24} * 60 * 60 * 1000;

    void setUpstreams(const std::vector<Upstream>& upstreams);

    // The next healthy upstream with one of the `protocols` (CheckResult::Protocol flags), not among `tried`; -1 when
    // there is none.
    int next(qint64 now, int protocols, const QSet<int>& tried);
    void failed(int index, qint64 now);
    void worked(int index);

    const Upstream& upstream(int index) const { return m_upstreams[size_t(index)].upstream; }
    int size() const { return int(m_upstreams.size()); }
    int healthy(qint64 now) const;

private:
    struct Entry
    {
        Upstream upstream;
        qint64 asideUntil = 0;
        int failures = 0;
    };

    std::vector<Entry> m_upstreams;
    size_t m_next = 0;
};
