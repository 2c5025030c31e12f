#pragma once

#include <QString>
#include <QtGlobal>

// A byte count as text with a binary unit: 512 bytes, 1.50 kB, 4.77 MB.
QString formatByteSize(quint64 bytes);

// A number of seconds as its non-zero weeks, days, hours, minutes and seconds: 1d 1h 1m 1s.
QString formatDuration(quint32 seconds);
