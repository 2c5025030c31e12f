#pragma once

#include <QtGlobal>

#include <vector>

// The proxies written from one page so far, each with the numbers of the writes that took it out of the
// page (a proxy can be written again when later removals join its text anew). Keys are proxy texts packed
// by PageScanner; the table is open addressing because a page can hold a million of them.
//
// A bit filter over the keys' middle groups answers most "was anything like this written?" questions without
// touching the table, which for a big page is far out of the cache.
class WrittenProxies
{
public:
    // Empties the set for a page of `pageSize` bytes.
    void clear(qsizetype pageSize);
    bool isEmpty() const { return m_used == 0; }

    // Writes are numbered from 1 upwards and added in that order.
    void add(quint64 key, quint64 middle, quint32 write);
    // False when no key with those middle groups was written; true may be wrong now and then.
    bool mayHoldMiddle(quint64 middle) const;
    // The first write of `key` numbered above `after`, or 0 when there is none.
    quint32 writeAfter(quint64 key, quint32 after) const;

private:
    struct Slot
    {
        quint64 key = 0;
        quint32 firstWrite = 0;  // 0: the slot is free
        quint32 laterWrites = 0; // 1 + index into m_laterWrites, 0 when written once
    };

    qsizetype slotOf(quint64 key) const;
    void grow();

    std::vector<quint64> m_middleBits;
    std::vector<Slot> m_slots;
    std::vector<std::vector<quint32>> m_laterWrites;
    qsizetype m_used = 0;
};
