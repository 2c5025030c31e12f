#include "extraction/writtenproxies.h"

#include <algorithm>

namespace {

constexpr qsizetype smallestTable = 64;

// Two bits of one word per middle: one cache line read answers the question.
inline quint64 middleHash(quint64 middle)
{
    return middle * 0xD6E8FEB86659FD93ull;
}

inline quint64 middleMask(quint64 hash)
{
    return (1ull << (hash & 63)) | (1ull << ((hash >> 6) & 63));
}

} // namespace

void WrittenProxies::clear(qsizetype pageSize)
{
    // One word per 64 bytes of page: a page holds at most one proxy per ten bytes, so that is at least ten
    // bits per middle, and about twenty for a list of one proxy a line.
    qsizetype words = 16;
    while (words * 64 < pageSize)
        words *= 2;
    if (qsizetype(m_middleBits.size()) == words)
        std::fill(m_middleBits.begin(), m_middleBits.end(), 0);
    else
        std::vector<quint64>(size_t(words), 0).swap(m_middleBits);
    if (m_used == 0 && m_laterWrites.empty())
        return;

    // A big page's table is given back rather than kept for the small pages that usually follow.
    if (m_slots.size() > smallestTable * 16)
        std::vector<Slot>().swap(m_slots);
    else
        std::fill(m_slots.begin(), m_slots.end(), Slot());
    std::vector<std::vector<quint32>>().swap(m_laterWrites);
    m_used = 0;
}

qsizetype WrittenProxies::slotOf(quint64 key) const
{
    // Fibonacci hashing spreads the packed digit groups over the table; the table size is a power of two.
    const qsizetype mask = qsizetype(m_slots.size()) - 1;
    qsizetype slot = qsizetype((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;
    while (m_slots[slot].firstWrite != 0 && m_slots[slot].key != key)
        slot = (slot + 1) & mask;
    return slot;
}

void WrittenProxies::grow()
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(std::max<qsizetype>(smallestTable, qsizetype(old.size()) * 2), Slot());
    for (const Slot& slot : old) {
        if (slot.firstWrite != 0)
            m_slots[slotOf(slot.key)] = slot;
    }
}

bool WrittenProxies::mayHoldMiddle(quint64 middle) const
{
    const quint64 hash = middleHash(middle);
    const quint64 mask = middleMask(hash);
    return (m_middleBits[(hash >> 40) & (m_middleBits.size() - 1)] & mask) == mask;
}

void WrittenProxies::add(quint64 key, quint64 middle, quint32 write)
{
    const quint64 hash = middleHash(middle);
    m_middleBits[(hash >> 40) & (m_middleBits.size() - 1)] |= middleMask(hash);

    if ((m_used + 1) * 2 > qsizetype(m_slots.size()))
        grow();
    Slot& slot = m_slots[slotOf(key)];
    if (slot.firstWrite == 0) {
        slot.key = key;
        slot.firstWrite = write;
        ++m_used;
        return;
    }
    if (slot.laterWrites == 0) {
        m_laterWrites.emplace_back();
        slot.laterWrites = quint32(m_laterWrites.size());
    }
    m_laterWrites[slot.laterWrites - 1].push_back(write);
}

quint32 WrittenProxies::writeAfter(quint64 key, quint32 after) const
{
    if (m_used == 0)
        return 0;
    const Slot& slot = m_slots[slotOf(key)];
    if (slot.firstWrite == 0)
        return 0;
    if (slot.firstWrite > after)
        return slot.firstWrite;
    if (slot.laterWrites == 0)
        return 0;
    const std::vector<quint32>& later = m_laterWrites[slot.laterWrites - 1];
    const auto next = std::upper_bound(later.begin(), later.end(), after);
    return next == later.end() ? 0 : *next;
}
