#pragma once

// The TCP port every web client of the program connects to: 80. Tests that run their servers on loopback
// point the clients at another port through the setter; the program itself never calls it.
namespace HttpPort {

int port();
void setPortForTests(int port);

} // namespace HttpPort
