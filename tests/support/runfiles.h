#pragma once

// The files of one harvest run in the test's home: its page folder and the output lists.
#include "settings/userfolders.h"
#include "tests/support/testkit.h"

#include <QDir>
#include <QMap>

// The run stamp under which the fetchers and the extraction of a test store and read their pages.
constexpr uint runStamp = 1341302400;

// The run's page folder, where fetchers store pages and the extraction reads them.
inline QDir pageFolder()
{
    return QDir(UserFolders::runFolder(runStamp));
}

// A page file of the run; null when there is none.
inline QByteArray pageBytes(int fetcher, int page)
{
    return readFile(pageFolder().filePath(QStringLiteral("%1-%2.dat").arg(fetcher).arg(page)));
}

inline void writePage(const QString& name, const QByteArray& content)
{
    QVERIFY(writeFile(pageFolder().filePath(name), content));
}

inline QStringList pageNames()
{
    return pageFolder().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Every file of the output folder, by name.
inline QMap<QString, QByteArray> outputFiles()
{
    QMap<QString, QByteArray> files;
    const QDir output(UserFolders::outputFolder());
    for (const QString& name : output.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        files.insert(name, readFile(output.filePath(name)));
    return files;
}
