#include "settings/userfolders.h"

#include <QDir>

namespace UserFolders {

QString makerFolder()
{
    return QDir(QDir::homePath()).filePath(QStringLiteral(".tarnix"));
}

QString baseFolder()
{
    return QDir(makerFolder()).filePath(QStringLiteral("sievra"));
}

QString dataFolder()
{
    return QDir(baseFolder()).filePath(QStringLiteral("data"));
}

QString outputFolder()
{
    return QDir(baseFolder()).filePath(QStringLiteral("output"));
}

QString configFile()
{
    return QDir(baseFolder()).filePath(QStringLiteral("config.xml"));
}

QString runFolder(quint32 runStamp)
{
    return QDir(dataFolder()).filePath(QString::number(runStamp));
}

} // namespace UserFolders
