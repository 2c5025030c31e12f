#pragma once

#include <QByteArray>
#include <QString>

// One request or tunnel as the serve handled it, for its log.
struct ServedRequest
{
    qint64 startedAt = 0; // milliseconds since the epoch
    QString client;       // address:port
    QByteArray method;    // GET..., CONNECT, SOCKS5, SOCKS4; "-" for a request that could not be read
    QByteArray target;    // host:port; "-" when none was read
    QString upstream;     // address:port of the last upstream tried; "-" for none
    QString protocol;     // http, connect, socks5 or socks4 with it; "-" for none
    QString status;       // the HTTP status the client got, or the SOCKS reply's code
    qint64 bytesUp = 0;   // from the client
    qint64 bytesDown = 0; // to the client
    qint64 ms = 0;

    // Time (ISO 8601 UTC), client, method, host:port, upstream, protocol, status, bytes up, bytes down, milliseconds;
    // tab-separated, with its line end.
    QByteArray line() const;
};
