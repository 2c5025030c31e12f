#pragma once

#include <QSet>
#include <QtGlobal>

#include <array>
#include <limits>

// A set of proxy texts ("a.b.c.d:port"), each kept as a 128-bit key rather than a string of its own: a text is at
// most 21 characters of twelve kinds, four bits each, so the key is exact, and inserting allocates nothing but the
// set's own table. A harvest meets hundreds of thousands of them.
class ProxyTextSet
{
public:
    struct Key
    {
        quint64 high = 0;
        quint64 low = 0;
        friend bool operator==(const Key& a, const Key& b) { return a.high == b.high && a.low == b.low; }
        // Qt hashes a 64-bit number as itself, and a key's low bits are its last few characters, of twelve kinds
        // each: the table's probes ran long. Both halves are mixed through every bit.
        friend size_t qHash(const Key& key, size_t seed = 0) noexcept
        {
            quint64 mixed = (key.high ^ seed) * 0x9e3779b97f4a7c15ULL + key.low * 0xc2b2ae3d27d4eb4fULL;
            mixed ^= mixed >> 32;
            mixed *= 0xd6e8feb86659fd93ULL;
            mixed ^= mixed >> 32;
            return size_t(mixed);
        }
    };

    // Past `capacity` texts the set remembers no more, and every text it does not hold counts as new: for those
    // who pass over repeats only to save room, and must not spend more on it than a bound.
    explicit ProxyTextSet(qsizetype capacity = std::numeric_limits<qsizetype>::max()) : m_capacity(capacity) {}

    // The longest text with a key: two 64-bit halves at four bits a character.
    static constexpr qsizetype longestKeyed = 32;

    void reserve(qsizetype size) { m_keys.reserve(qMin(size, m_capacity)); }
    // True when `text` was not in the set before; texts too long for a key (none a proxy text) always are.
    bool insert(const char* text, qsizetype length);
    qsizetype size() const { return m_keys.size(); }
    // The text's key; false for a text too long to have one. Inline: the extraction takes one for every text of a
    // run, and a call with a test of each character's kind and half cost more than the look-up after it.
    static bool keyOf(const char* text, qsizetype length, Key* key)
    {
        if (length > longestKeyed)
            return false;
        const qsizetype split = qMin(length, longestKeyed / 2);
        key->high = fold(text, 0, split);
        key->low = fold(text, split, length);
        return true;
    }

private:
    // 1 to 10 for the digits, 11 for the dot, 12 for anything else (the colon); 0 is no character, so lengths differ
    // too.
    static constexpr quint8 codeOf(int c) { return c >= '0' && c <= '9' ? quint8(c - '0' + 1) : c == '.' ? 11 : 12; }
    static quint64 fold(const char* text, qsizetype from, qsizetype to)
    {
        static constexpr auto codes = [] {
            std::array<quint8, 256> table{};
            for (int c = 0; c < 256; ++c)
                table[size_t(c)] = codeOf(c);
            return table;
        }();
        quint64 half = 0;
        for (qsizetype i = from; i < to; ++i)
            half = (half << 4) | codes[uchar(text[i])];
        return half;
    }

    QSet<Key> m_keys;
    const qsizetype m_capacity;
};
