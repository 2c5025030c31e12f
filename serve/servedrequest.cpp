#include "serve/servedrequest.h"

#include <QDateTime>

QByteArray ServedRequest::line() const
{
    // A name a client sent may hold anything; the log keeps one line a request.
    QByteArray host = target;
    for (char& c : host)
        if (uchar(c) < 0x20 || c == 0x7f)
            c = '?';
    const QString time = QDateTime::fromMSecsSinceEpoch(startedAt, Qt::UTC).toString(Qt::ISODateWithMs);
    return time.toUtf8() + '\t' + client.toUtf8() + '\t' + method + '\t' + host + '\t' + upstream.toUtf8() + '\t' +
           protocol.toUtf8() + '\t' + status.toUtf8() + '\t' + QByteArray::number(bytesUp) + '\t' +
           QByteArray::number(bytesDown) + '\t' + QByteArray::number(ms) + '\n';
}
