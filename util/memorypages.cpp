#include "util/memorypages.h"

bool MemoryPages::hasRoom(qint64 bytes) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return bytes <= m_budget / 8 && m_bytes + bytes <= m_budget &&
           (!m_shared || m_shared->held() + bytes <= m_shared->limit());
}

bool MemoryPages::put(const QString& name, const QByteArray& text)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 replaced = m_pages.value(name).size();
    const qint64 growth = text.size() - replaced;
    if (m_bytes + growth > m_budget || (m_shared && growth > 0 && !m_shared->tryTake(growth)))
        return false;
    if (m_shared && growth < 0)
        m_shared->give(-growth);
    m_bytes += text.size() - replaced;
    m_pages.insert(name, text);
    return true;
}

QList<MemoryPages::Page> MemoryPages::takeAll()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    QList<Page> pages;
    pages.reserve(m_pages.size());
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page)
        pages.append({page.key(), page.value()});
    m_pages.clear();
    if (m_shared)
        m_shared->give(m_bytes);
    m_bytes = 0;
    return pages;
}

void MemoryPages::giveBack(const QList<Page>& pages)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    // A page stored since under the same name is the newer one and stays.
    for (const Page& page : pages) {
        if (m_pages.contains(page.name))
            continue;
        m_pages.insert(page.name, page.text);
        m_bytes += page.text.size();
        if (m_shared)
            m_shared->take(page.text.size());
    }
}
