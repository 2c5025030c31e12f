#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One proxy to check: an IPv4 address and a port, both in range, with the credentials and the scheme its list
// gave, if any.
struct ProxyEndpoint
{
    quint32 address = 0;
    quint16 port = 0;
    QByteArray user;         // as the list wrote it ("user:password@a.b.c.d:port")
    QByteArray password;     // may be empty with a user, as "user@a.b.c.d:port" gives it
    QByteArray statedScheme; // "http", "https", "socks4" or "socks5" when the list put "scheme://" in front

    QString addressText() const
    {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(address >> 24)
            .arg((address >> 16) & 0xff)
            .arg((address >> 8) & 0xff)
            .arg(address & 0xff);
    }
    bool hasCredentials() const { return !user.isEmpty() || !password.isEmpty(); }
    // "user:password@" or "user@", what a text list puts in front of the proxy's line; empty without credentials.
    QByteArray credentialsPrefix() const
    {
        if (!hasCredentials())
            return QByteArray();
        if (password.isEmpty())
            return user + '@';
        return user + ':' + password + '@';
    }
    // The address and port: one proxy whatever credentials reach it.
    quint64 key() const { return (quint64(address) << 16) | port; }
    bool operator==(const ProxyEndpoint& other) const
    {
        return key() == other.key() && user == other.user && password == other.password;
    }
};
