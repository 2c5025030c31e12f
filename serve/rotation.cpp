#include "serve/rotation.h"

void Rotation::setUpstreams(const std::vector<Upstream>& upstreams)
{
    // One that stays keeps its time aside: a recheck that still finds it working does not undo what the serve saw.
    QHash<quint64, Entry> before;
    for (const Entry& entry : m_upstreams)
        before.insert(entry.upstream.proxy.key(), entry);
    m_upstreams.clear();
    m_places.clear();
    for (const Upstream& upstream : upstreams) {
        m_places.insert(upstream.proxy.key(), m_upstreams.size());
        const auto kept = before.constFind(upstream.proxy.key());
        if (kept != before.cend() && kept->upstream.proxy == upstream.proxy)
            m_upstreams.push_back({upstream, kept->asideUntil, kept->failures});
        else
            m_upstreams.push_back({upstream, 0, 0});
    }
    m_next = m_upstreams.empty() ? 0 : m_next % m_upstreams.size();
}

const Upstream* Rotation::next(qint64 now, int protocols, const QSet<quint64>& tried)
{
    const size_t count = m_upstreams.size();
    for (size_t step = 0; step < count; ++step) {
        const size_t index = (m_next + step) % count;
        const Entry& entry = m_upstreams[index];
        if (entry.asideUntil > now || (entry.upstream.protocols & protocols) == 0 ||
            tried.contains(entry.upstream.proxy.key()))
            continue;
        m_next = index + 1;
        return &entry.upstream;
    }
    return nullptr;
}

Rotation::Entry* Rotation::find(const ProxyEndpoint& proxy)
{
    const auto place = m_places.constFind(proxy.key());
    if (place == m_places.cend() || !(m_upstreams[*place].upstream.proxy == proxy))
        return nullptr;
    return &m_upstreams[*place];
}

void Rotation::failed(const ProxyEndpoint& proxy, qint64 now)
{
    Entry* entry = find(proxy);
    if (!entry)
        return;
    const qint64 aside = qMin(longestAsideMs, asideMs << qMin(entry->failures, 16));
    entry->asideUntil = now + aside;
    ++entry->failures;
}

void Rotation::worked(const ProxyEndpoint& proxy)
{
    if (Entry* entry = find(proxy))
        entry->failures = 0;
}

int Rotation::healthy(qint64 now) const
{
    int count = 0;
    for (const Entry& entry : m_upstreams)
        count += entry.asideUntil <= now ? 1 : 0;
    return count;
}

qint64 Rotation::firstBack(qint64 now) const
{
    qint64 first = -1;
    for (const Entry& entry : m_upstreams)
        if (entry.asideUntil > now && (first < 0 || entry.asideUntil < first))
            first = entry.asideUntil;
    return first;
}
