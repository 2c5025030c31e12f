#include "pool/poolstore.h"

#include "pool/sqlitepool.h"

std::unique_ptr<PoolStore> PoolStore::open(const QString& path, Access access, QString* failure)
{
    return SqlitePool::open(path, access, failure);
}
