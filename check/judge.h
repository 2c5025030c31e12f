#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QUrl>

// The page every check fetches through its proxy, and what tells it apart from any other page.
struct Judge
{
    QUrl url;              // an http:// or https:// page
    bool insecure = false; // an https:// judge's certificate is not verified
    QByteArray marker;     // a text the judge's page always holds
    QHostAddress address;  // where the judge's host name led, for SOCKS requests; known after the direct fetch
    QString ownAddress;    // this machine's address as the judge saw it; empty when the judge echoes none
    // An address in the echo that is not who the judge saw: its own, when it is not also ours (on one machine it
    // is both).
    QString ownOfJudge;

    QByteArray hostLine() const;   // "host" or "host:port"
    QByteArray originPath() const; // "/path?query"
    bool isSecure() const { return url.scheme() == QLatin1String("https"); }
    quint16 port() const { return quint16(url.port(isSecure() ? 443 : 80)); }
};
