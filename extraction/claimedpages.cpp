#include "extraction/claimedpages.h"

#include "settings/userfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

ClaimedPages::ClaimedPages(const QString& runFolder, const QStringList& listing) : m_runFolder(runFolder)
{
    QTemporaryDir claim(QDir(runFolder).filePath(UserFolders::claimFolderTemplate));
    claim.setAutoRemove(false);
    if (claim.isValid())
        m_claimFolder = claim.path();
    const QDir run(runFolder);
    for (const QString& name : listing) {
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QString path = run.filePath(name);
        // Folders are not pages: they are neither read nor removed.
        const bool page = QFileInfo(path).isFile();
        const QString claimed = QDir(m_claimFolder).filePath(name);
        const bool moved = page && !m_claimFolder.isEmpty() && QFile::rename(path, claimed);
        m_names << name;
        m_paths << (moved ? claimed : path);
        m_claimed << moved;
    }
}

void ClaimedPages::remove()
{
    for (int i = 0; i < m_paths.size(); ++i) {
        if (m_claimed.at(i) || QFileInfo(m_paths.at(i)).isFile())
            QFile::remove(m_paths.at(i));
    }
    if (!m_claimFolder.isEmpty())
        QDir(m_runFolder).rmdir(m_claimFolder);
}

void ClaimedPages::giveBack()
{
    const QDir run(m_runFolder);
    for (int i = 0; i < m_paths.size(); ++i) {
        if (!m_claimed.at(i))
            continue;
        // QFile::rename never replaces an existing file, so a name taken in between only means the next one.
        const QString name = run.filePath(m_names.at(i));
        QString target = name;
        for (int n = 1; !QFile::rename(m_paths.at(i), target); ++n) {
            if (!QFileInfo::exists(target) || n == 1000)
                break;
            target = name + QLatin1Char('.') + QString::number(n);
        }
    }
    if (!m_claimFolder.isEmpty())
        QDir(m_runFolder).rmdir(m_claimFolder);
}
