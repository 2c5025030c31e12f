#include "extraction/proxytextset.h"

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
