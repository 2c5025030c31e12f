#include "extraction/proxytextset.h"

bool ProxyTextSet::keyOf(const char* text, qsizetype length, Key* key)
{
    if (length > longestKeyed)
        return false;
    *key = Key();
    for (qsizetype i = 0; i < length; ++i) {
        // 1 to 10 for the digits, 11 for the dot, 12 for anything else (the colon); 0 is no character, so lengths
        // differ too.
        const char c = text[i];
        const quint64 code = c >= '0' && c <= '9' ? quint64(c - '0' + 1) : c == '.' ? 11 : 12;
        quint64& half = i < longestKeyed / 2 ? key->high : key->low;
        half = (half << 4) | code;
    }
    return true;
}

bool ProxyTextSet::insert(const char* text, qsizetype length)
{
    Key key;
    if (!keyOf(text, length, &key))
        return true;
    if (m_keys.size() >= m_capacity)
        return !m_keys.contains(key);
    const qsizetype before = m_keys.size();
    m_keys.insert(key);
    return m_keys.size() != before;
}
