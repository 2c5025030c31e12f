#include "util/memorypages.h"

bool MemoryPages::put(const QString& name, const QByteArray& text)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 replaced = m_pages.value(name).size();
    if (m_bytes - replaced + text.size() > m_budget)
        return false;
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
    }
}
