#include "settings/userfolders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

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

// One level only: the folder above must be there already. Another run may make it between our look and our
// mkdir, which then fails: the folder is there all the same.
bool makeFolder(const QString& folder)
{
    return QFileInfo(folder).isDir() || QDir().mkdir(folder) || QFileInfo(folder).isDir();
}

std::unique_ptr<QLockFile> tryLockRunFolder(const QString& folder)
{
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
    // A run may hold its folder for days: only a holder that is gone (or a reboot) frees it, never age.
    lock->setStaleLockTime(0);
    return lock->tryLock(0) ? std::move(lock) : nullptr;
}

QFileInfoList entriesOf(const QDir& folder)
{
    return folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A page, or one a writer had not finished: it writes under a hidden name first (".0-1.dat.part").
bool isPage(const QFileInfo& entry)
{
    static const QRegularExpression pageName(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+-[0-9]+\\.dat|\\.[0-9]+-[0-9]+\\.dat\\.part")));
    return entry.isFile() && !entry.isSymLink() && pageName.match(entry.fileName()).hasMatch();
}

// The folder an extraction moved its pages into and, ended by a crash, never emptied: pages all the same.
bool isLeftoverClaim(const QFileInfo& entry)
{
    static const QRegularExpression claimName(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(claimFolderTemplate.chopped(6)) + QStringLiteral("[A-Za-z0-9]{6}")));
    if (!entry.isDir() || entry.isSymLink() || !claimName.match(entry.fileName()).hasMatch())
        return false;
    const QFileInfoList inside = entriesOf(QDir(entry.filePath()));
    return std::all_of(inside.begin(), inside.end(), isPage);
}

} // namespace

QStringList makeUserFolders()
{
    QStringList failed;
    for (const QString& folder : {makerFolder(), baseFolder(), dataFolder(), outputFolder()})
        if (!makeFolder(folder))
            failed << folder;
    return failed;
}

bool makeRunFolder(quint32 runStamp)
{
    return makeFolder(runFolder(runStamp));
}

void removeLeftoverRunFolders(quint32 ownRunStamp)
{
    QDir data(dataFolder());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QStringList names = data.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : names) {
        bool ok = false;
        const quint32 stamp = name.toUInt(&ok);
        // Only folders named exactly as we name them; anything else there is not ours to remove.
        // A folder of the current second may be the mark of a run that ended in it.
        if (!ok || name != QString::number(stamp) || stamp == ownRunStamp || qint64(stamp) >= now)
            continue;
        const std::unique_ptr<QLockFile> lock = tryLockRunFolder(data.filePath(name));
        if (!lock)
            continue; // a running program's pages
        QDir run(data.filePath(name));
        const QFileInfoList entries = entriesOf(run);
        if (!std::all_of(entries.begin(), entries.end(),
                         [](const QFileInfo& entry) { return isPage(entry) || isLeftoverClaim(entry); }))
            continue;
        for (const QFileInfo& entry : entries) {
            if (entry.isDir()) {
                QDir claim(entry.filePath());
                for (const QString& page : claim.entryList(QDir::Files | QDir::Hidden | QDir::System))
                    claim.remove(page);
                run.rmdir(entry.fileName());
            } else {
                run.remove(entry.fileName());
            }
        }
        data.rmdir(name);
    }
}

} // namespace UserFolders
