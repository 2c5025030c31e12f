#pragma once

#include "leech/crawlresult.h"
#include "util/memorypages.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// How a harvest's pages are fetched and stored in its run folder. The window (and --classic) fetch with the
// twenty page fetchers of old (ClassicFetching); the command line fetches today's web through libcurl
// (WebFetching). Whoever sets a run up picks one and hands it to the engine.
class PageFetching : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Readies the page store of the run; returns how many fetchers could not make its folder (each is told).
    virtual int prepare(quint32 runStamp) = 0;
    // Fetches every URL, `threads` at a time, and stores each page; reports as the fetchers finish.
    virtual void fetch(const QStringList& urls, int threads, int timeoutMs) = 0;
    // Ends the fetches under way. The pages already in are stored, and every fetcher still reports.
    virtual void abort() = 0;
    // What the fetchers hold: the URLs done, in list order.
    virtual QList<CCrawlResult> results() const = 0;
    // The whole list in order, a URL not done yet as stopped: the harvest's sources at Stop.
    virtual QList<CCrawlResult> resultsSoFar() const = 0;
    // Follows the pages' links `depth` levels deep (a Multiple Crawl, --depth); tells every distinct link found,
    // then the end. Stop leaves a crawl alone; stopCrawl() ends it and tells nothing more.
    virtual void crawl(const QStringList& urls, int depth) = 0;
    virtual void stopCrawl() = 0;
    virtual bool crawling() const = 0;
    // Where pages are kept in memory instead of the run folder, for the extraction to read; none by default.
    virtual MemoryPages* memoryPages() { return nullptr; }
    // Told, on a worker thread, of each page kept in memory as soon as it is read: how its fetch ended and its proxy
    // texts, one a line, each once. Pages that are not kept are told by the extraction only. Set before fetch().
    using PageRead = std::function<void(const CCrawlResult& result, const QByteArray& texts)>;
    virtual void setPageRead(const PageRead& read) { Q_UNUSED(read) }

signals:
    // One URL of the list is done, fetched or not.
    void urlFinished();
    void pageNotStored(const QString& path, const QString& reason);
    // A fetcher has done its part of the list and its pages are stored: `completed` of `inUse` so far.
    void reported(quint32 completed, int inUse);
    // Every fetcher has reported: the pages can be extracted.
    void allReported();
    void linkFound(const QString& link);
    void crawlDone();
};
