#pragma once

#include <QByteArray>
#include <QFile>

// Resident memory of this process in kB, from /proc/self/status: "VmRSS" now, "VmHWM" its peak so far.
inline long statusKb(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field + ':')))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLong();
    }
    return -1;
}
