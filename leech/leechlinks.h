#pragma once

#include "leech/leechurl.h"
#include "qtlib/web/websocket.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

// Takes the links out of one fetched page.
class CLinkExtractor
{
public:
    // Links of the page as host and path without "http://", in page order, duplicates kept. The page's
    // path only serves links relative to the page's folder.
    QStringList extractLinks(const QString& text, const QString& host, const QString& path = QStringLiteral("/")) const;
    // Today's web: the page's links as whole http:// and https:// URLs resolved against the page's URL, case
    // kept, in page order, duplicates kept. The same attributes are read as above.
    QStringList extractWebLinks(const QString& text, const QUrl& page) const;

    // Whether the link names a file of a type not worth crawling (images, archives, programs, style sheets,
    // scripts), judged by the extension of its last path segment.
    bool isUnwantedFile(const QString& link) const;
};

// Follows the links of the user's pages down to the configured depth and reports every distinct link found, in
// the order first found, then the end of the crawl. The links of an earlier crawl are reported again with the
// next crawl's: only abort() forgets them.
class CLeechLinks : public TXL::QtLib::Web::CWebSocket
{
    Q_OBJECT

public:
    CLeechLinks();
    ~CLeechLinks() override;

    // A negative depth fetches only the user's pages, like 0.
    void setMaxDepth(int depth) { m_maxDepth = depth; }
    void addUrl(const QString& url);
    void startCrawl();
    // Whether a crawl is under way.
    bool crawling() const { return !m_queue.isEmpty(); }
    // Ends a crawl at once, the fetch under way included, and reports nothing of it.
    void abort();

signals:
    void linkLeechingComplete();
    void newLeechUrl(QString strLink);

private slots:
    void processUrl();

private:
    void fetchFirst();

    QSet<QString> m_foundLinks;
    QStringList m_foundOrder; // m_foundLinks as first found
    QVector<CLeechUrl> m_queue;
    CLinkExtractor m_extractor;
    int m_maxDepth = 0;
};
