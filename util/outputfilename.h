#pragma once

#include <QDate>
#include <QString>

// The name of an output list: "<lines>-<yyyy>-<MM>-<dd>-<run stamp>-<start time>.txt". While a list is written
// it goes without the line count, which is only known at the end.
struct OutputFileName
{
    QDate date;
    quint32 runStamp = 0;
    qint64 startTime = 0; // seconds since the epoch

    // The name while the list is written.
    QString unfinished() const;
    // The final name, for a list of `lines` lines.
    QString finished(int lines) const;

    // The final names the program recognises as its own: count, year, month, day, run stamp, start time.
    static const QString pattern;
};
