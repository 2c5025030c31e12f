#pragma once

#include "check/checkresult.h"

#include <QByteArray>

// What a proxy has answered so far when asked to open a tunnel (or, for SOCKS 5, to agree on a method), read from
// the bytes that came: the answer may still be on its way, it may open the tunnel, or it may refuse or be no
// answer of the protocol at all. Nothing here trusts a length the proxy sends beyond the bytes that came.
namespace TunnelReply {

struct Reading
{
    enum State { NeedMore, Open, Failed };
    State state = NeedMore;
    qsizetype length = 0;                                      // Open: the answer's bytes; the tunnel's follow
    CheckResult::Outcome failure = CheckResult::ProtocolError; // Failed: what it tells of the proxy
    bool authenticate = false; // Open, a SOCKS 5 method choice: user name and password come next
};

// The SOCKS 5 method choice: version 5 and "no authentication", or "user name and password" when we offered it.
// A proxy that wants a password we did not offer needs credentials (told apart from refused ones by the caller,
// which knows whether it had any).
Reading socks5Greeting(const QByteArray& bytes, bool offeredPassword);
// The answer to a SOCKS 5 user name and password (RFC 1929): a version byte and a status, 0 for accepted.
Reading socks5Authentication(const QByteArray& bytes);
// The SOCKS 5 reply: version, code, reserved, address type, the bound address (4, 16 or 1 + n bytes), port.
Reading socks5(const QByteArray& bytes);
// The bytes of a SOCKS 5 request or reply of which the first 5 came (version, command or reply, reserved, address
// type, the address's first byte): with the address and the port; 0 for an address type that is none of IPv4 (1), a
// name (3) and IPv6 (4).
qsizetype socks5Length(const QByteArray& bytes);
// The SOCKS 4 reply: a null byte (some servers put their version), code, port, address.
Reading socks4(const QByteArray& bytes);
// The answer to CONNECT: an HTTP head; a status other than 2xx is a refusal of the proxy's own, 407 (or 401) a
// demand for credentials.
Reading connect(const QByteArray& bytes);

} // namespace TunnelReply
