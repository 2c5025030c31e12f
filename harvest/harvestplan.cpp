#include "harvest/harvestplan.h"

namespace HarvestPlan {

QVector<Block> splitIntoBlocks(int urlCount, int fetchers)
{
    QVector<Block> blocks;
    if (fetchers <= 0 || urlCount <= 0)
        return blocks;
    const int perFetcher = urlCount / fetchers;
    const int rest = urlCount - fetchers * perFetcher;
    for (int t = 0; t < fetchers; ++t)
        blocks.append({t * perFetcher, perFetcher});
    blocks.last().count += rest;
    return blocks;
}

quint32 progressPercent(quint32 completed, int fetchers)
{
    return fetchers <= 0 ? 0 : 100u * completed / static_cast<quint32>(fetchers);
}

} // namespace HarvestPlan
