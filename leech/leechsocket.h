#pragma once

#include "leech/leechurl.h"
#include "qtlib/web/websocket.h"

#include <QList>
#include <QString>

// What one URL of a fetcher's block gave: the reply's length, 0 when the fetch failed.
class CCrawlResult
{
public:
    CCrawlResult() = default;
    CCrawlResult(int iSocketDescriptor, int bytes, const QString& url)
        : m_socketDescriptor(iSocketDescriptor), m_bytes(bytes), m_url(url)
    {
    }

    int socketDescriptor() const { return m_socketDescriptor; }
    int bytes() const { return m_bytes; }
    QString url() const { return m_url; }

private:
    int m_socketDescriptor = 0;
    int m_bytes = 0;
    QString m_url;
};

// A page fetcher of a harvest: works through its queue of URLs, stores every reply, reduced to the
// characters an address can be made of, as one page file of the run folder, and records each page's size.
class CLeechSocket : public TXL::QtLib::Web::CWebSocket
{
    Q_OBJECT

public:
    explicit CLeechSocket(QObject* parent = nullptr);

    void setDataFolder(uint runStamp);
    void clearQueue();
    void addUrl(const CLeechUrl& url);
    void fetchQueue();
    void abort();
    QList<CCrawlResult> results() const { return m_results; }

signals:
    void urlListProcessed(int iSocketDescriptor);

public slots:
    void processData();
    void processError();

private:
    // The reply reduced to digits, dots, colons and line ends, after the marked site's rewrite.
    static QString pageText(const QString& reply, const QString& host);
    QString pageFile(int page) const;
    void finishUrl(bool retrieved);
    void fetch(const CLeechUrl& url);

    QList<CLeechUrl> m_queue;
    CLeechUrl m_current;
    CLeechUrl m_next;
    int m_pageCounter = 0;
    uint m_runStamp = 0;
    int m_previousTotal = 0;
    QList<CCrawlResult> m_results;
    QString m_pageText;
};
