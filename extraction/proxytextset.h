#pragma once

#include <QSet>
#include <QtGlobal>

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
    // The text's key; false for a text too long to have one.
    static bool keyOf(const char* text, qsizetype length, Key* key);

private:
    QSet<Key> m_keys;
    const qsizetype m_capacity;
};
