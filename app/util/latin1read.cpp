#include "app/util/latin1read.h"

#include <utility>

QString latin1TextOfRead(QByteArray bytes)
{
    return QString::fromLatin1(latin1BytesOfRead(std::move(bytes)));
}

QByteArray latin1BytesOfRead(QByteArray bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return bytes;
}
