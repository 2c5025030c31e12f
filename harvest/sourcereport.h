#pragma once

#include "leech/crawlresult.h"

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

    // Adds the "working" column: the proxies of each page that a check found working, by page file name.
    void setWorkingPerPage(const QHash<QString, int>& workingPerPage);

    QByteArray text() const;
    // "sources: N gave proxies, N gave none, N failed"
    QString summary() const;

private:
    struct Source
    {
        CCrawlResult result;
        int proxies = 0;
        int working = 0;
    };
    static bool failed(const Source& source);

    QList<Source> m_sources;
    bool m_checked = false;
};
