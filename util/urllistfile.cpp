#include "util/urllistfile.h"

#include "util/domaincheck.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

bool readUrlListFile(const QString& path, QStringList* urls, QString* failure)
{
    QFile file(path);
    // A folder opens on Linux and reads as nothing; it is no list.
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (failure)
            *failure = QFileInfo(path).isDir() ? QStringLiteral("Is a directory") : file.errorString();
        return false;
    }
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    for (QString line = stream.readLine(); !line.isNull(); line = stream.readLine())
        if (passesDomainCheck(line))
            *urls << line;
    return true;
}
