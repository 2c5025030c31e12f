#pragma once

#include <QString>
#include <QtGlobal>

// One proxy to check: an IPv4 address and a port, both in range.
struct ProxyEndpoint
{
    quint32 address = 0;
    quint16 port = 0;

    QString addressText() const
    {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(address >> 24)
            .arg((address >> 16) & 0xff)
            .arg((address >> 8) & 0xff)
            .arg(address & 0xff);
    }
    quint64 key() const { return (quint64(address) << 16) | port; }
    bool operator==(const ProxyEndpoint& other) const { return key() == other.key(); }
};
