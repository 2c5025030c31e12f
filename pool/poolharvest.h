#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// One harvest as the pool keeps it: when it ran, and what each page gave, as the harvest's source report tells it.
struct PoolHarvest
{
    struct Page
    {
        QString url;
        QString outcome; // as the source report writes it: "ok", "http 404", "timed out"...
        int status = 0;  // 0: no reply came
        qint64 bytes = 0;
        qint64 ms = 0;
        int proxies = 0; // the proxies the page gave, each once (the source report's "proxies")
        // Those proxies' texts, one a line as the harvest writes them ("a.b.c.d:port"), or as a list may give them,
        // with credentials and a scheme (ProxyList).
        QByteArray texts;
        bool failed = false; // no whole page came: its set of proxies tells nothing
        // The page's proxies go on in the next page given, more of the same fetch: a page of millions of proxies is
        // written a piece at a time, with the same fields in each piece.
        bool more = false;
    };

    quint32 runStamp = 0;
    qint64 started = 0; // seconds since the epoch
    qint64 ended = 0;
    std::vector<Page> pages;
};
