#include "settings/runstampclaim.h"

#include "settings/userfolders.h"
#include "util/outputlists.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

RunStampClaim::RunStampClaim()
{
    for (;;) {
        m_stamp = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
        const QString folder = UserFolders::runFolder(m_stamp);
        auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
        // A run may hold its stamp for days: only a holder that is gone (or a reboot) frees it, never age.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            if (!QFileInfo::exists(folder)) {
                m_lock = std::move(lock);
                UserFolders::removeLeftoverRunFolders(m_stamp);
                return;
            }
        } else if (lock->error() != QLockFile::LockFailedError) {
            m_failure = lock->error() == QLockFile::PermissionError
                            ? QStringLiteral("cannot create %1: Permission denied").arg(lock->fileName())
                            : QStringLiteral("cannot create %1").arg(lock->fileName());
            return;
        }
        // Taken: the lock (when we had it) goes with `lock`.
        OutputLists::waitForNextSecond();
    }
}

RunStampClaim::~RunStampClaim()
{
    if (!m_lock)
        return;
    // A stamp that named pages or a list stays taken to the end of its second: a claim made later in it would take
    // the same stamp, and two runs one after the other would name their lists alike. Its empty folder stays as the
    // mark, which the next claim clears, so that no run waits for its second to end. A stamp that named nothing
    // (a run refused) leaves nothing.
    const QString folder = UserFolders::runFolder(m_stamp);
    if (QDateTime::currentSecsSinceEpoch() <= qint64(m_stamp) && named())
        QDir().mkdir(folder);
    else
        QDir().rmdir(folder);
}

bool RunStampClaim::named() const
{
    if (QFileInfo::exists(UserFolders::runFolder(m_stamp)))
        return true;
    const QStringList lists = QDir(UserFolders::outputFolder())
                                  .entryList({QStringLiteral("*-%1-*").arg(m_stamp)}, QDir::Files | QDir::Hidden);
    return !lists.isEmpty();
}
