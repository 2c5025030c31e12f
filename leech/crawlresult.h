#pragma once

#include "qtlib/web/fetchoutcome.h"

#include <QString>

// What one URL of a fetcher's block gave: the reply's length, 0 when the fetch failed; how the fetch ended
// and the name of the page file it was stored as, if any.
class CCrawlResult
{
public:
    CCrawlResult() = default;
    CCrawlResult(int iSocketDescriptor, int bytes, const QString& url);
    // A URL whose fetch never ended, of the given fetcher: the harvest or its crawl was stopped first.
    static CCrawlResult stopped(int iSocketDescriptor, const QString& url);

    int socketDescriptor() const { return m_socketDescriptor; }
    int bytes() const { return m_bytes; }
    QString url() const { return m_url; }
    CFetchOutcome outcome() const { return m_outcome; }
    void setOutcome(const CFetchOutcome& outcome) { m_outcome = outcome; }
    QString pageName() const { return m_pageName; }
    void setPageName(const QString& name) { m_pageName = name; }

private:
    int m_socketDescriptor = 0;
    int m_bytes = 0;
    QString m_url;
    CFetchOutcome m_outcome;
    QString m_pageName;
};
