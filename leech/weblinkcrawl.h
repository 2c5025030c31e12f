#pragma once

#include "leech/leechlinks.h"
#include "qtlib/web/curlpages.h"

#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QVector>

// The command line's link crawl (--depth) over today's web: the crawl of the window's CLeechLinks, one page at a
// time down to the depth, with its pages fetched through libcurl (https, ports, redirects) and their links taken
// as whole URLs with their case kept. Every distinct link found is told once, in the order first found.
class WebLinkCrawl : public QObject
{
    Q_OBJECT

public:
    // The crawl's pages share the multi handle's connections with whoever else uses it.
    explicit WebLinkCrawl(TXL::QtLib::Web::CurlMulti& multi, QObject* parent = nullptr);

    void setInsecure(bool insecure) { m_pages.setInsecure(insecure); }
    void setTimeout(int msecs) { m_pages.setTimeout(msecs); }
    // A negative depth fetches only the given pages, like 0.
    void setMaxDepth(int depth) { m_maxDepth = depth; }
    void addUrl(const QString& url);
    void startCrawl();
    bool crawling() const { return !m_queue.isEmpty(); }
    // Ends a crawl at once, the fetch under way included, and reports nothing of it.
    void abort();

signals:
    void linkLeechingComplete();
    void newLeechUrl(const QString& strLink);

private:
    struct Queued
    {
        QUrl url;
        int level = 0;
    };

    void fetchFirst();
    void pageFetched(const CFetchOutcome& outcome, const QByteArray& page);

    TXL::QtLib::Web::CurlPages m_pages;
    CLinkExtractor m_extractor;
    QVector<Queued> m_queue;
    QSet<QString> m_found;
    QStringList m_foundInOrder;
    int m_maxDepth = 0;
};
