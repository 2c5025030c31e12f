#pragma once

#include "harvest/harvestjob.h"
#include "harvest/pagefetching.h"
#include "leech/leechlinks.h"
#include "leech/leechsocket.h"

#include <QVector>

#include <functional>

// The window's fetching: twenty page fetchers, each fetching its own block of the list over HTTP/1.0 on port
// 80, one page after the other, and the link crawler of a Multiple Crawl.
class ClassicFetching : public PageFetching
{
    Q_OBJECT

public:
    static constexpr int fetcherCount = HarvestJob::maxThreads;

    // `inUse` tells how many fetchers the harvest uses; it is asked again at every report, so a change of the
    // thread count during a harvest counts, as it always has. The job tells how its pages are read.
    ClassicFetching(std::function<int()> inUse, const HarvestJob& job, QObject* parent = nullptr);
    ~ClassicFetching() override;

    int prepare(quint32 runStamp) override;
    void fetch(const QStringList& urls, int threads, int timeoutMs) override;
    void abort() override;
    QList<CCrawlResult> results() const override;
    QList<CCrawlResult> resultsSoFar() const override;
    void crawl(const QStringList& urls, int depth) override;
    void stopCrawl() override;
    bool crawling() const override;

private:
    void fetcherReported();

    QVector<CLeechSocket*> m_fetchers;
    CLeechLinks* m_crawler = nullptr;
    std::function<int()> m_inUse;
    quint32 m_completed = 0;
};
