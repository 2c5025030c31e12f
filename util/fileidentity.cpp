#include "util/fileidentity.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// A dangling link's identity is that of the file it would create: its target's.
QString followedLinks(const QString& path)
{
    QString at = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(at);
        if (!info.isSymLink())
            return at;
        at = info.symLinkTarget();
    }
    return at;
}

} // namespace

FileIdentity FileIdentity::of(const QString& path)
{
    FileIdentity identity;
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        identity.m_known = true;
        identity.m_device = status.st_dev;
        identity.m_inode = status.st_ino;
        return identity;
    }
    const QFileInfo target(followedLinks(path));
    if (::stat(QFile::encodeName(target.absolutePath()).constData(), &status) != 0)
        return identity;
    identity.m_known = true;
    identity.m_device = status.st_dev;
    identity.m_inode = status.st_ino;
    identity.m_name = target.fileName();
    return identity;
}

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return m_known && other.m_known && m_device == other.m_device && m_inode == other.m_inode && m_name == other.m_name;
}
