#include "util/outputlist.h"

#include "util/outputlists.h"

#include <QDir>

#include <cstring>

#include <fcntl.h>
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
    char* to = room(bytes.size());
    if (!to)
        return false;
    std::memcpy(to, bytes.constData(), size_t(bytes.size()));
    return wrote(bytes.size());
}

char* OutputList::room(qsizetype size)
{
    if (!m_failure.isEmpty())
        return nullptr;
    if (m_used + size > qsizetype(m_pending.size())) {
        if (!writePending())
            return nullptr;
        if (size > qsizetype(m_pending.size()))
            m_pending.resize(size_t(qMax(size, 2 * pieceSize)));
    }
    return m_pending.data() + m_used;
}

bool OutputList::wrote(qsizetype size)
{
    // Gathered here and handed to the file in pieces of the size its own buffer has: through the file line by line,
    // a list of 750,000 lines spent 40 % of its writing in the device's bookkeeping of each.
    m_used += size;
    return m_used < pieceSize || writePending();
}

bool OutputList::writePending()
{
    if (m_used == 0 || !m_failure.isEmpty())
        return m_failure.isEmpty();
    const bool written = m_file.write(m_pending.data(), m_used) == m_used && m_file.error() == QFileDevice::NoError;
    m_unsynced += m_used;
    m_used = 0; // the room stays for the next piece
    if (!written)
        m_failure = m_file.errorString();
    else if (m_unsynced >= syncStep)
        startWriteBack();
    return written;
}

void OutputList::startWriteBack()
{
    // The disk starts on what is written while the list goes on, so that the sync at the close waits for the last
    // step alone: all at the close, it was 20 ms of a run's end for a list of 12 MB. Only a start: it waits for
    // nothing.
    m_unsynced = 0;
    if (m_file.flush())
        ::sync_file_range(m_file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool OutputList::close()
{
    if (!m_file.isOpen())
        return m_failure.isEmpty();
    // On disk before anything that depends on it goes, such as the pages the list was read from.
    const bool synced = writePending() && m_file.flush() && ::fsync(m_file.handle()) == 0;
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
    m_used = 0;
    std::vector<char>().swap(m_pending);
    if (m_file.isOpen())
        m_file.close();
    // Only a file this list created: the name may be another run's when creating failed.
    if (m_created && !m_finished)
        QFile::remove(m_unfinishedPath);
    m_created = false;
}
