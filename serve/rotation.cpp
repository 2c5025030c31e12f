#include "serve/rotation.h"

void Rotation::setUpstreams(const std::vector<Upstream>& upstreams)
{
    m_upstreams.clear();
    for (const Upstream& upstream : upstreams)
        m_upstreams.push_back({upstream, 0, 0});
    m_next = 0;
}

int Rotation::next(qint64 now, int protocols, const QSet<int>& tried)
{
    const size_t count = m_upstreams.size();
    for (size_t step = 0; step < count; ++step) {
        const size_t index = (m_next + step) % count;
        const Entry& entry = m_upstreams[index];
        if (entry.asideUntil > now || (entry.upstream.protocols & protocols) == 0 || tried.contains(int(index)))
            continue;
        m_next = index + 1;
        return int(index);
    }
    return -1;
}

void Rotation::failed(int index, qint64 now)
{
    // An index from before the list changed.
    if (index < 0 || size_t(index) >= m_upstreams.size())
        return;
    Entry& entry = m_upstreams[size_t(index)];
    const qint64 aside = qMin(longestAsideMs, asideMs << qMin(entry.failures, 16));
    entry.asideUntil = now + aside;
    ++entry.failures;
}

void Rotation::worked(int index)
{
    if (index < 0 || size_t(index) >= m_upstreams.size())
        return;
    m_upstreams[size_t(index)].failures = 0;
}

int Rotation::healthy(qint64 now) const
{
    int count = 0;
    for (const Entry& entry : m_upstreams)
        count += entry.asideUntil <= now ? 1 : 0;
    return count;
}
