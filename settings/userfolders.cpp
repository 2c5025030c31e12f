#include "settings/userfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

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

namespace {

std::unique_ptr<QLockFile> tryLockRunFolder(const QString& folder)
{
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
    // A run may hold its folder for days: only a holder that is gone (or a reboot) frees it, never age.
    lock->setStaleLockTime(0);
    return lock->tryLock(0) ? std::move(lock) : nullptr;
}

bool holdsOnlyPages(const QDir& folder)
{
    static const QRegularExpression pageName(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+-[0-9]+\\.dat")));
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!entry.isFile() || entry.isSymLink() || !pageName.match(entry.fileName()).hasMatch())
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<QLockFile> lockRunFolder(quint32 runStamp)
{
    return tryLockRunFolder(runFolder(runStamp));
}

void removeLeftoverRunFolders(quint32 ownRunStamp)
{
    QDir data(dataFolder());
    const QStringList names = data.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : names) {
        bool ok = false;
        const quint32 stamp = name.toUInt(&ok);
        // Only folders named exactly as we name them; anything else there is not ours to remove.
        if (!ok || name != QString::number(stamp) || stamp == ownRunStamp)
            continue;
        const std::unique_ptr<QLockFile> lock = tryLockRunFolder(data.filePath(name));
        if (!lock)
            continue; // a running program's pages
        QDir run(data.filePath(name));
        if (!holdsOnlyPages(run))
            continue;
        for (const QString& page : run.entryList(QDir::Files | QDir::Hidden | QDir::System))
            run.remove(page);
        data.rmdir(name);
    }
}

} // namespace UserFolders
