#pragma once

#include <QVector>
#include <QtGlobal>

// How a harvest shares the URL list among its page fetchers and how far along it is.
namespace HarvestPlan {

struct Block
{
    int first = 0; // position of the block's first URL in the list
    int count = 0;
};

// Contiguous blocks of urlCount / fetchers URLs each, in fetcher order; the last fetcher also takes the rest.
QVector<Block> splitIntoBlocks(int urlCount, int fetchers);

// Percentage shown after `completed` of `fetchers` reports, rounded down; may exceed 100 after extra reports.
quint32 progressPercent(quint32 completed, int fetchers);

} // namespace HarvestPlan
