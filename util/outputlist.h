#pragma once

#include "util/outputfilename.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

// One new list of the output folder, a harvest's or a check's: created exclusively under its unfinished name
// (OutputLists::create), written, synced and then renamed to the finished name that carries its count, never over
// another file. Until then the window does not list it; a list discarded or never finished leaves nothing.
class OutputList
{
public:
    OutputList() = default;
    ~OutputList();
    OutputList(const OutputList&) = delete;
    OutputList& operator=(const OutputList&) = delete;

    // False with the system's reason when the file cannot be created.
    bool create(const QString& folder, quint32 runStamp, QString* failure,
                const QString& extension = QStringLiteral("txt"));
    bool isOpen() const { return m_file.isOpen(); }
    // False once any write has failed; failure() then tells why.
    bool write(const QByteArray& bytes);
    // Room for `size` more bytes, to be written in place and then kept by wrote(); nullptr once a write has failed.
    // A list of hundreds of thousands of lines is made this way without a copy or an array's bookkeeping a line.
    char* room(qsizetype size);
    // The `size` bytes written into the last room() belong to the list; false once any write has failed.
    bool wrote(qsizetype size);
    const QString& failure() const { return m_failure; }
    QString unfinishedPath() const { return m_unfinishedPath; }
    // Syncs and closes the file; false with failure() set when what was written may not be on disk whole.
    bool close();
    // Gives the closed list its finished name for `count` lines; false with failure() set.
    bool finish(int count, QString* finishedPath);
    // Removes the list, finished or not.
    void discard();

private:
    // QFile's own buffer is as large: no more is held back than before.
    static constexpr qsizetype pieceSize = qsizetype(16) * 1024;
    // Written since the disk was last asked to start on it.
    static constexpr qsizetype syncStep = qsizetype(1024) * 1024;

    bool writePending();
    void startWriteBack();

    QFile m_file;
    std::vector<char> m_pending; // room for what is written and not yet handed to the file
    qsizetype m_used = 0;        // of m_pending
    qsizetype m_unsynced = 0;
    OutputFileName m_name;
    QString m_folder;
    QString m_unfinishedPath;
    QString m_failure;
    bool m_created = false;
    bool m_finished = false;
};
