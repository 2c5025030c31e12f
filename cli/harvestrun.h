#pragma once

#include "check/proxyendpoint.h"
#include "extraction/leechproxies.h"
#include "harvest/harvestjob.h"
#include "harvest/pagefetching.h"
#include "leech/leechsocket.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class CHarvestEngine;
class NamedOutput;

// A harvest without a window: runs the engine over the URLs, shows progress on standard error, prints the summary
// and the output list's path, and writes the source report when asked.
class CHarvestRun : public QObject
{
    Q_OBJECT

public:
    // The source report, when the job asks for one, is written to `report`, prepared before the run starts.
    CHarvestRun(const HarvestJob& job, bool terminal, NamedOutput* report = nullptr, QObject* parent = nullptr);
    ~CHarvestRun() override;

    // False, told on standard error, when the run cannot claim its stamp.
    bool start();
    // As Stop, and a link crawl ends too: the pages so far are extracted, or a running extraction keeps its lines so
    // far. A stopped harvest is not checked.
    void stop();

    quint32 runStamp() const;
    // The proxies the harvest wrote, in the order of its list, and the URLs of the sources that gave each, by
    // ProxyEndpoint::key().
    std::vector<ProxyEndpoint> foundProxies(QHash<quint64, QStringList>* sources) const;
    QList<CLeechProxies::PageProxies> proxiesPerPage() const;
    // What each page came to, in list order, and the lines written from it, by page name (the source report's).
    QList<CCrawlResult> sourceResults() const;
    QHash<QString, int> linesPerPage() const;
    // Each page's proxies as soon as the extraction has read the page (CLeechProxies::setPageSink); set before start().
    void setPageSink(CLeechProxies::PageSink sink) { m_pageSink = std::move(sink); }
    // The pages read while the harvest still fetches (PageFetching::setPageRead): the page sink is not told of them.
    // Set before start().
    void setPageRead(PageFetching::PageRead read) { m_pageRead = std::move(read); }
    // A check of the list follows: readyForCheck() comes instead of finished().
    // The source report, when one is asked for; after a check, with the working proxies of each page.
    void writeReport(const QHash<QString, int>* workingPerPage = nullptr) const;

signals:
    // The fetches are about to start, after a link crawl where there is one; runStamp() is known.
    void fetchStarting();
    // Every page is in and sourceResults() is whole; the page sink is told next, from the extraction's thread.
    void extractionStarting();
    // The list is written and the check follows; the source report waits for its figures.
    void readyForCheck();
    // Nothing follows; the exit status (ExitCode): the list is written, no proxy was found, or it could not be written.
    void finished(int status);

private:
    void showProgress(bool last = false);
    void end();

    std::unique_ptr<CHarvestEngine> m_engine;
    HarvestJob m_job;
    NamedOutput* m_report;
    CLeechProxies::PageSink m_pageSink;
    PageFetching::PageRead m_pageRead;
    bool m_terminal;
    bool m_stopped = false;
    int m_pagesDone = 0;
    int m_pagesTotal = 0;
    int m_proxies = 0;
    QString m_shown; // the progress last shown
    QString m_outputPath;
    QString m_failure;
};
