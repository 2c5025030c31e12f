#include "pool/pooljob.h"

#include "settings/userfolders.h"

#include <QDir>

QString PoolJob::defaultPath()
{
    return QDir(UserFolders::baseFolder()).filePath(QStringLiteral("pool.sqlite"));
}
