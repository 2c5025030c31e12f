#pragma once

#include "leech/leechurl.h"
#include "qtlib/web/websocket.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// Takes the links out of one fetched page.
class CLinkExtractor
{
public:
    QStringList extractLinks(const QString& text, const QString& host) const;
};

// Follows the links of the user's pages down to the configured depth and reports every distinct link
// found, then the end of the crawl.
class CLeechLinks : public TXL::QtLib::Web::CWebSocket
{
    Q_OBJECT

public:
    CLeechLinks();
    ~CLeechLinks() override;

    void setMaxDepth(int depth) { m_maxDepth = depth; }
    void addUrl(const QString& url);
    void startCrawl();

signals:
    void linkLeechingComplete();
    void newLeechUrl(QString strLink);

private slots:
    void processUrl();

private:
    QSet<QString> m_foundLinks;
    QVector<CLeechUrl> m_queue;
    CLinkExtractor m_extractor;
    int m_maxDepth = 0;
};
