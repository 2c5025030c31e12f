#include "util/urllistfile.h"

#include "util/domaincheck.h"
#include "util/weburl.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <functional>

namespace {

// The line to keep, or a null text when it is no usable URL.
using LineRule = std::function<QString(const QString& line)>;

bool readList(const QString& path, const LineRule& rule, QStringList* urls, QString* failure, SkippedLines* skipped)
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
    for (QString line = stream.readLine(); !line.isNull(); line = stream.readLine()) {
        const QString kept = rule(line);
        if (!kept.isNull()) {
            *urls << kept;
            continue;
        }
        const QString trimmed = line.trimmed();
        if (!skipped || trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (skipped->count++ == 0)
            skipped->first = trimmed;
    }
    return true;
}

} // namespace

bool readUrlListFile(const QString& path, QStringList* urls, QString* failure, SkippedLines* skipped)
{
    const LineRule rule = [](const QString& line) { return passesDomainCheck(line) ? line : QString(); };
    return readList(path, rule, urls, failure, skipped);
}

bool readWebUrlListFile(const QString& path, QStringList* urls, QString* failure, SkippedLines* skipped)
{
    const LineRule rule = [](const QString& line) {
        return WebUrl::fromText(line).isEmpty() ? QString() : line.trimmed();
    };
    return readList(path, rule, urls, failure, skipped);
}
