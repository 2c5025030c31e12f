#pragma once

#include "serve/upstream.h"

#include <QByteArray>
#include <QHostAddress>

#include <vector>

// One serve's description, built where the run is set up.
struct ServeJob
{
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 0;
    // --serve-auth; empty user: no credentials asked of a client (loopback only).
    QByteArray user;
    QByteArray password;
    int maxClients = 1024;
    int upstreamTimeoutMs = 5000; // a connection, handshake or reply head of an upstream
    int idleMs = 60000;
    // --recheck-every: what is due is checked again this often while serving; 0: never.
    qint64 recheckEveryMs = qint64{30} * 60 * 1000;
    std::vector<Upstream> upstreams;

    bool asksCredentials() const { return !user.isEmpty(); }
};
