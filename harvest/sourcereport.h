#pragma once

#include "leech/leechsocket.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What each source of a harvest gave: one tab-separated line per URL under a header line, and a one-line
// summary. Built from the fetchers' results and the lines the extraction wrote from each page.
class CSourceReport
{
public:
    CSourceReport(const QList<CCrawlResult>& results, const QHash<QString, int>& linesPerPage);

    QByteArray text() const;
    // "sources: N gave proxies, N gave none, N failed"
    QString summary() const;

private:
    struct Source
    {
        CCrawlResult result;
        int proxies = 0;
    };
    static bool failed(const Source& source);

    QList<Source> m_sources;
};
