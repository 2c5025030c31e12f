#pragma once

#include "serve/upstream.h"

#include <QHash>
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

    // A list from a recheck: an upstream that stays keeps its time aside.
    void setUpstreams(const std::vector<Upstream>& upstreams);

    // The next healthy upstream with one of the `protocols` (CheckResult::Protocol flags), not among the ProxyEndpoint
    // keys `tried`; none when there is none.
    const Upstream* next(qint64 now, int protocols, const QSet<quint64>& tried);
    // By the proxy, not by a place in the list, which a recheck may change while a request is under way; one no
    // longer listed is passed over.
    void failed(const ProxyEndpoint& proxy, qint64 now);
    void worked(const ProxyEndpoint& proxy);

    int size() const { return int(m_upstreams.size()); }
    int healthy(qint64 now) const;
    // When the first upstream set aside comes back; -1 when none is aside.
    qint64 firstBack(qint64 now) const;

private:
    struct Entry
    {
        Upstream upstream;
        qint64 asideUntil = 0;
        int failures = 0;
    };

    Entry* find(const ProxyEndpoint& proxy);

    std::vector<Entry> m_upstreams;
    QHash<quint64, size_t> m_places; // by ProxyEndpoint::key()
    size_t m_next = 0;
};
