#pragma once

#include <QByteArray>

// What a SOCKS client has sent so far, read from the bytes that came. Nothing here trusts a length the client sends
// beyond the bytes that came.
namespace SocksRequest {

struct Reading
{
    enum State { NeedMore, Complete, Malformed };
    State state = NeedMore;
    qsizetype length = 0; // Complete: the message's bytes
};

// SOCKS 5's greeting: version 5, the number of methods, the methods.
struct Greeting : Reading
{
    QByteArray methods;
};
Greeting greeting5(const QByteArray& bytes);

// A user name and password (RFC 1929).
struct Login : Reading
{
    QByteArray user;
    QByteArray password;
};
Login login5(const QByteArray& bytes);

// A SOCKS 5 or 4 request: the command and where to.
struct Target : Reading
{
    int command = 0; // 1: CONNECT
    QByteArray host; // an IPv4 or IPv6 address as text, or a name
    bool isName = false;
    quint16 port = 0;
};
// Version 5, command, reserved, address type (1, 3 or 4), address, port.
Target request5(const QByteArray& bytes);
// Version 4, command, port, IPv4 address, user id ending in a null; 4a: an address 0.0.0.x and then a name ending in
// a null.
Target request4(const QByteArray& bytes);

} // namespace SocksRequest
