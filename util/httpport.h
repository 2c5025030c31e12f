#pragma once

#include <QString>

// Where the program's web clients connect: the host named in the request, on port 80. Tests that run their
// servers on loopback point the connections elsewhere through the setters; the requests themselves keep
// the real host names. The program itself never calls the setters.
namespace HttpPort {

int port();
void setPortForTests(int port);

// The host to open the connection to for a request naming the given host.
QString connectHost(const QString& host);
// An empty text puts the real host names back.
void setConnectHostForTests(const QString& host);

} // namespace HttpPort
