#include "util/latin1read.h"

QString latin1TextOfRead(QByteArray bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromLatin1(bytes);
}
