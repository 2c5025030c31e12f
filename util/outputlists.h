#pragma once

#include "util/outputfilename.h"

#include <QString>

class QFile;

// The output folder is shared by every run of every program on one home folder. A list takes its name by
// creating its file exclusively, and a finished list never replaces another: no run opens, empties or renames
// over a file that is not its own.
namespace OutputLists {

// Opens `file` write-only on a new file of `folder` under the unfinished name of `runStamp` and the current
// second. A second is taken when a file of that unfinished name exists, or a finished list of it (a list of the
// same stamp and extension written in that second); the list then waits for the next second. False, with the
// system's reason, when the file cannot be created.
bool create(QFile* file, const QString& folder, quint32 runStamp, OutputFileName* name, QString* failure,
            const QString& extension = QStringLiteral("txt"));

// Renames `from` to `to` unless `to` exists; false, with the reason, when it exists or the rename fails.
bool renameNoReplace(const QString& from, const QString& to, QString* failure = nullptr);

// Sleeps until the clock has passed into the next whole second.
void waitForNextSecond();

} // namespace OutputLists
