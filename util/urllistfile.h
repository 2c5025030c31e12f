#pragma once

#include <QString>
#include <QStringList>

// Lines of a list file that name no usable URL: how many, and the first of them. Blank lines and lines
// starting with "#" are no URL lines and are not counted.
struct SkippedLines
{
    int count = 0;
    QString first;
};

// The URLs of a list file as Import takes them: one a line, read as UTF-8 as Save writes it, each line that
// passes the domain check. False, with the reason, when the file cannot be read.
bool readUrlListFile(const QString& path, QStringList* urls, QString* failure = nullptr,
                     SkippedLines* skipped = nullptr);
// The http:// and https:// URLs of a list file, blanks around them taken off, for fetching today's web.
bool readWebUrlListFile(const QString& path, QStringList* urls, QString* failure, SkippedLines* skipped);
