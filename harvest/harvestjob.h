#pragma once

#include <QString>
#include <QStringList>

class CConfig;

// One harvest as whoever starts it describes it, built once where the run is set up: the command line from its
// options, the window from its settings at the moments a harvest takes them. The engine, the fetching and the
// extraction read this value, never the settings.
struct HarvestJob
{
    // The window's harvest, as it has always been (and the command line's --classic), or today's web: https,
    // redirects, libcurl's connections, pairs read out of a page's structure and copies removed by whole proxy.
    enum class Rules { Window, Web };

    // Page fetchers at most, and the fetcher count of the window's harvest.
    static constexpr int maxThreads = 20;
    // Pages a harvest of today's web keeps in memory, reduced, before it writes them to its run folder.
    static constexpr qint64 defaultMemoryBudget = qint64(256) * 1024 * 1024;

    Rules rules = Rules::Window;
    QStringList urls;
    int threads = 5;
    int depth = 0;         // links followed first, levels deep; 0: a Single Crawl
    int timeoutMs = 20000; // of each page's fetch
    QString lineTemplate = QStringLiteral("A:P");
    bool insecure = false;     // certificates that fail verification accepted
    bool checkFollows = false; // the proxies found are checked once the harvest ends
    bool keepProxies = false;  // the proxies each page gave are kept, for a check that follows or the pool
    qint64 memoryBudget = defaultMemoryBudget;
    QString reportPath; // the source report; empty for none

    // What the rules come to; read by the code they select and nowhere else.
    bool fetchesTodaysWeb() const { return rules == Rules::Web; }
    bool readsStructure() const { return rules == Rules::Web; }
    bool removesWholeProxyCopies() const { return rules == Rules::Web; }

    // The window's job at this moment: the time-out, depth and template its settings hold now.
    static HarvestJob fromSettings(const CConfig& config);
};
