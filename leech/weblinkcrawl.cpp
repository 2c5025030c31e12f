#include "leech/weblinkcrawl.h"

#include "util/weburl.h"

namespace {
// As long as the window's crawler waits for a page.
constexpr int crawlTimeout = 25000;
} // namespace

WebLinkCrawl::WebLinkCrawl(TXL::QtLib::Web::CurlMulti& multi, QObject* parent) : QObject(parent), m_pages(multi)
{
    m_pages.setTimeout(crawlTimeout);
    connect(&m_pages, &TXL::QtLib::Web::CurlPages::pageFetched, this,
            [this](int, const CFetchOutcome& outcome, const QByteArray& page) { pageFetched(outcome, page); });
}

void WebLinkCrawl::addUrl(const QString& url)
{
    m_queue.append({WebUrl::fromText(url), 0});
}

void WebLinkCrawl::startCrawl()
{
    if (!m_queue.isEmpty())
        fetchFirst();
}

void WebLinkCrawl::abort()
{
    m_pages.cancelAll();
    m_queue.clear();
    m_found.clear();
    m_foundInOrder.clear();
}

void WebLinkCrawl::fetchFirst()
{
    m_pages.fetch(m_queue.first().url, 0);
}

void WebLinkCrawl::pageFetched(const CFetchOutcome& outcome, const QByteArray& page)
{
    if (m_queue.isEmpty())
        return;
    const Queued current = m_queue.takeFirst();
    // Links are taken from any page that came, as the window's crawler takes them from any reply.
    const QUrl base(outcome.finalUrl());
    for (const QString& link : m_extractor.extractWebLinks(QString::fromLatin1(page), base)) {
        const QUrl url(link);
        if (m_extractor.isUnwantedFile(url.host() + url.path()))
            continue;
        if (!m_found.contains(link)) {
            m_found.insert(link);
            m_foundInOrder << link;
        }
        // Queued again even when already found: a page linked from several pages is fetched for each.
        if (current.level < m_maxDepth)
            m_queue.append({url, current.level + 1});
    }
    if (!m_queue.isEmpty()) {
        fetchFirst();
        return;
    }
    const QStringList found = std::exchange(m_foundInOrder, {});
    m_found.clear();
    for (const QString& link : found)
        emit newLeechUrl(link);
    emit linkLeechingComplete();
}
