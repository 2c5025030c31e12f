#include "util/textfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

bool fileExists(const QString& path)
{
    return QFileInfo(path).isFile();
}

QString readTextFile(const QString& path)
{
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    return stream.readAll();
}

bool writeTextFile(const QString& path, const QString& text)
{
    if (path.isEmpty() || text.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream << text;
    stream.flush();
    file.close();
    return true;
}
