#include "leech/leechlinks.h"

QStringList CLinkExtractor::extractLinks(const QString&, const QString&) const
{
    // Filled in with the link crawl.
    return QStringList();
}

CLeechLinks::CLeechLinks() : CWebSocket(nullptr, 0)
{
    connect(this, &CWebSocket::dataRetrieved, this, &CLeechLinks::processUrl);
    connect(this, &CWebSocket::dataRetrievalError, this, &CLeechLinks::processUrl);
    start(QThread::InheritPriority);
}

CLeechLinks::~CLeechLinks()
{
    quit();
    wait();
}

void CLeechLinks::addUrl(const QString& url)
{
    CLeechUrl record;
    record.parse(url, 0, QString());
    m_queue.append(record);
}

void CLeechLinks::startCrawl()
{
    // Filled in with the link crawl.
}

void CLeechLinks::processUrl() {}
