#pragma once

#include "extraction/leechproxies.h"
#include "leech/crawlresult.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What each source of a harvest gave: one tab-separated line per URL under a header line, and a one-line
// summary. Built from the fetchers' results and what the extraction found in each page: the proxies it gave, and
// the new ones, that no line before it gave.
class CSourceReport
{
public:
    // `pages`, the proxies of each page, give the new ones; without them the column stays empty.
    CSourceReport(const QList<CCrawlResult>& results, const QHash<QString, CLeechProxies::PageTally>& tallies,
                  const QList<CLeechProxies::PageProxies>& pages = {});

    // Adds the "working" column: the proxies of each page that a check found working, by page file name.
    void setWorkingPerPage(const QHash<QString, int>& workingPerPage);

    QByteArray text() const;
    // "sources: N gave proxies, N gave none, N failed"
    QString summary() const;

private:
    struct Source
    {
        CCrawlResult result;
        CLeechProxies::PageTally tally;
        int fresh = 0;
        int working = 0;
    };
    static bool failed(const Source& source);

    QList<Source> m_sources;
    bool m_checked = false;
};
