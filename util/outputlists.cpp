#include "util/outputlists.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace OutputLists {

namespace {

// A finished list of this name's second: only a run that held the unfinished name can have made one, so while we
// hold it no new one appears.
bool finishedListExists(const QDir& folder, const OutputFileName& name)
{
    return !folder.entryList({QStringLiteral("*-") + name.unfinished()}, QDir::Files | QDir::Hidden | QDir::System)
                .isEmpty();
}

} // namespace

bool create(QFile* file, const QString& folder, quint32 runStamp, OutputFileName* name, QString* failure,
            const QString& extension)
{
    const QDir dir(folder);
    for (;;) {
        *name = {QDate::currentDate(), runStamp, QDateTime::currentSecsSinceEpoch(), extension};
        const QString path = dir.filePath(name->unfinished());
        const QByteArray nativePath = QFile::encodeName(path);
        const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            *failure = qt_error_string(errno);
            return false;
        }
        if (fd >= 0) {
            if (!finishedListExists(dir, *name)) {
                if (file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
                    return true;
                *failure = file->errorString();
                ::close(fd);
                ::unlink(nativePath.constData());
                return false;
            }
            ::close(fd);
            ::unlink(nativePath.constData());
        }
        waitForNextSecond();
    }
}

bool renameNoReplace(const QString& from, const QString& to, QString* failure)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the flag says so with EINVAL; a hard link is just as exclusive there.
    if (errno == EINVAL || errno == ENOSYS) {
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return true;
        }
    }
    if (failure)
        *failure = qt_error_string(errno);
    return false;
}

void waitForNextSecond()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QThread::msleep(static_cast<unsigned long>(1000 - now % 1000 + 1));
}

} // namespace OutputLists
