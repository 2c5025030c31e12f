#include "util/outputlist.h"

#include "util/outputlists.h"

#include <QDir>

#include <unistd.h>

OutputList::~OutputList()
{
    if (!m_finished)
        discard();
}

bool OutputList::create(const QString& folder, quint32 runStamp, QString* failure, const QString& extension)
{
    m_folder = folder;
    m_failure.clear();
    m_finished = false;
    m_created = OutputLists::create(&m_file, folder, runStamp, &m_name, failure, extension);
    m_unfinishedPath = QDir(folder).filePath(m_name.unfinished());
    return m_created;
}

bool OutputList::write(const QByteArray& bytes)
{
    if (!m_failure.isEmpty())
        return false;
    if (m_file.write(bytes) == bytes.size() && m_file.error() == QFileDevice::NoError)
        return true;
    m_failure = m_file.errorString();
    return false;
}

bool OutputList::close()
{
    if (!m_file.isOpen())
        return m_failure.isEmpty();
    // On disk before anything that depends on it goes, such as the pages the list was read from.
    const bool synced = m_file.flush() && ::fsync(m_file.handle()) == 0;
    if (!synced && m_failure.isEmpty())
        m_failure = m_file.errorString();
    m_file.close();
    return m_failure.isEmpty();
}

bool OutputList::finish(int count, QString* finishedPath)
{
    if (!close())
        return false;
    const QString finished = QDir(m_folder).filePath(m_name.finished(count));
    QString reason;
    if (!OutputLists::renameNoReplace(m_unfinishedPath, finished, &reason)) {
        m_failure = reason;
        return false;
    }
    m_finished = true;
    *finishedPath = finished;
    return true;
}

void OutputList::discard()
{
    if (m_file.isOpen())
        m_file.close();
    // Only a file this list created: the name may be another run's when creating failed.
    if (m_created && !m_finished)
        QFile::remove(m_unfinishedPath);
    m_created = false;
}
