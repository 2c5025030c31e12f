#include "pool/poolstore.h"

#include "pool/sqlitepool.h"

std::unique_ptr<PoolStore> PoolStore::open(const QString& path, Access access, QString* failure)
{
    return SqlitePool::open(path, access, failure);
}

bool PoolStore::madeByWriters(const QString& path)
{
    return SqlitePool::canMake(path);
}

bool PoolStore::recordHarvest(const PoolHarvest& harvest)
{
    qint64 harvestId = 0;
    return beginHarvest(harvest, &harvestId) && recordPages(harvestId, harvest.started, harvest.pages) &&
           endHarvest(harvestId, harvest.ended);
}
