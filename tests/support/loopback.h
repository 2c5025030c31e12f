#pragma once

#include "tests/support/fakehttpserver.h"
#include "util/httpport.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The shortest whole reply head.
inline const QByteArray okHead = "HTTP/1.0 200 OK\r\n\r\n";

// A scripted server on 127.0.0.1 that every web client of the program reaches in place of port 80 of the host it
// names; null when no port could be had.
inline std::unique_ptr<FakeHttpServer> startLoopbackServer()
{
    auto server = std::make_unique<FakeHttpServer>();
    if (!server->listen())
        return nullptr;
    HttpPort::setPortForTests(server->port());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
    return server;
}

// Closes the server and points the clients at the real web port again.
inline void stopLoopbackServer(std::unique_ptr<FakeHttpServer>& server)
{
    server.reset();
    HttpPort::setPortForTests(80);
    HttpPort::setConnectHostForTests(QString());
}
