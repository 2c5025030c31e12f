#pragma once

#include <QDate>
#include <QString>

#include <optional>

// The name of an output list: "<lines>-<yyyy>-<MM>-<dd>-<run stamp>-<start time>.txt", or ".json" or ".csv" for a
// check's records. While a list is written it goes without the line count, which is only known at the end.
struct OutputFileName
{
    QDate date;
    quint32 runStamp = 0;
    qint64 startTime = 0; // seconds since the epoch
    QString extension = QStringLiteral("txt");

    // The name while the list is written.
    QString unfinished() const;
    // The final name, for a list of `lines` lines.
    QString finished(int lines) const;

    // What the output tab reads from a final name.
    struct Listed
    {
        QString lines; // as written, leading zeros and all
        int runStamp = 0;
        int startTime = 0;
    };
    // Reads a final name of ours (matched ignoring case); nothing for any other name. The times read as the tab
    // has always read them: ".txt" is cut off case-sensitively, so a ".TXT" name starts at 0, and a time beyond
    // an int reads as 0.
    static std::optional<Listed> parse(const QString& name);
};
