#include "check/tunnelreply.h"

#include "qtlib/web/httpreply.h"

namespace TunnelReply {

namespace {

Reading open(qsizetype length)
{
    return {Reading::Open, length, CheckResult::ProtocolError};
}

Reading failed(CheckResult::Outcome outcome)
{
    return {Reading::Failed, 0, outcome};
}

// Whether the bytes so far may still begin a status line, as the head's reader takes it: blanks before it trimmed.
bool startsAsHttp(const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size() && (bytes.at(start) == ' ' || bytes.at(start) == '\t' || bytes.at(start) == '\v' ||
                                    bytes.at(start) == '\f' || bytes.at(start) == '\r'))
        ++start;
    const QByteArray rest = bytes.mid(start, 5);
    return QByteArray("HTTP/").startsWith(rest);
}

} // namespace

Reading socks5Greeting(const QByteArray& bytes, bool offeredPassword)
{
    if (bytes.size() < 2)
        return {};
    if (bytes.at(0) != 0x05)
        return failed(CheckResult::ProtocolError);
    switch (quint8(bytes.at(1))) {
    case 0x00:
        return open(2);
    case 0x02: {
        if (!offeredPassword)
            return failed(CheckResult::NeedsCredentials);
        Reading reading = open(2);
        reading.authenticate = true;
        return reading;
    }
    // "No method of yours": without credentials offered, a server that wants them says so.
    case 0xff:
        return failed(offeredPassword ? CheckResult::ProtocolError : CheckResult::NeedsCredentials);
    default:
        return failed(CheckResult::ProtocolError);
    }
}

// The version byte is 1, but servers that answer 5 are about; as curl does, only the status is read.
Reading socks5Authentication(const QByteArray& bytes)
{
    if (bytes.size() < 2)
        return {};
    return bytes.at(1) == 0x00 ? open(2) : failed(CheckResult::CredentialsRefused);
}

Reading socks5(const QByteArray& bytes)
{
    if (bytes.size() < 5)
        return {};
    if (bytes.at(0) != 0x05)
        return failed(CheckResult::ProtocolError);
    if (bytes.at(1) != 0x00)
        return failed(CheckResult::Unreachable);
    const qsizetype length = socks5Length(bytes);
    if (length == 0)
        return failed(CheckResult::ProtocolError);
    return bytes.size() < length ? Reading() : open(length);
}

qsizetype socks5Length(const QByteArray& bytes)
{
    switch (bytes.at(3)) {
    case 0x01:
        return 4 + 4 + 2;
    case 0x03:
        return 4 + 1 + quint8(bytes.at(4)) + 2;
    case 0x04:
        return 4 + 16 + 2;
    default:
        return 0;
    }
}

Reading socks4(const QByteArray& bytes)
{
    if (bytes.size() < 8)
        return {};
    if (bytes.at(0) != 0x00 && bytes.at(0) != 0x04)
        return failed(CheckResult::ProtocolError);
    const quint8 code = quint8(bytes.at(1));
    if (code != 0x5a)
        return failed(code >= 0x5b && code <= 0x5d ? CheckResult::Unreachable : CheckResult::ProtocolError);
    return open(8);
}

Reading connect(const QByteArray& bytes)
{
    const HttpReplyHead head = HttpReplyHead::parse(bytes);
    if (!head.complete)
        return startsAsHttp(bytes) ? Reading() : failed(CheckResult::ProtocolError);
    if (head.status == 0)
        return failed(CheckResult::ProtocolError);
    // 407, or 401 as tinyproxy answers credentials it turns down.
    if (head.status == 407 || head.status == 401)
        return failed(CheckResult::NeedsCredentials);
    // A refusal is an answer of the proxy's own, not the judge's page.
    if (head.status / 100 != 2)
        return failed(CheckResult::Liar);
    return open(head.bodyStart);
}

} // namespace TunnelReply
