#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What one source has been worth to the pool, as `sievra --sources` reports it. Times in seconds since the epoch,
// -1 for none.
struct PoolSource
{
    QString url;
    int harvests = 0;
    qint64 lastFetched = -1;
    QString lastOutcome;
    int proxiesLast = 0;
    int distinctEver = 0;
    int newToPoolLast = 0; // of the last time's proxies, those the pool had not seen before that harvest
    int aliveNow = 0;
    int uniqueAlive = 0; // alive ones no other source gave
    qint64 lastChanged = -1;

    // A header line, then one tab-separated line per source, in the order given.
    static QByteArray report(const std::vector<PoolSource>& sources);
    // Most alive first, then by URL.
    static void sort(std::vector<PoolSource>* sources);
    // "2026-12-06T10:00:00Z"; empty for -1.
    static QString isoTime(qint64 seconds);
};
