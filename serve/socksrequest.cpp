#include "serve/socksrequest.h"

#include "check/tunnelreply.h"

#include <QHostAddress>

namespace SocksRequest {

namespace {

template <typename T> T malformed()
{
    T reading;
    reading.state = Reading::Malformed;
    return reading;
}

quint16 portAt(const QByteArray& bytes, qsizetype at)
{
    return quint16((quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1)));
}

// A null-ended field of at most 255 bytes from `at`: its end, -1 while it may still come, -2 when too long.
qsizetype nullEnd(const QByteArray& bytes, qsizetype at)
{
    const qsizetype end = bytes.indexOf('\0', at);
    if (end >= 0)
        return end - at > 255 ? -2 : end;
    return bytes.size() - at > 255 ? -2 : -1;
}

} // namespace

Greeting greeting5(const QByteArray& bytes)
{
    Greeting greeting;
    if (bytes.size() < 2)
        return greeting;
    const int count = quint8(bytes.at(1));
    if (bytes.at(0) != 0x05 || count == 0)
        return malformed<Greeting>();
    if (bytes.size() < 2 + count)
        return greeting;
    greeting.methods = bytes.mid(2, count);
    greeting.length = 2 + count;
    greeting.state = Reading::Complete;
    return greeting;
}

Login login5(const QByteArray& bytes)
{
    Login login;
    if (bytes.size() < 2)
        return login;
    if (bytes.at(0) != 0x01)
        return malformed<Login>();
    const int userLength = quint8(bytes.at(1));
    if (bytes.size() < 2 + userLength + 1)
        return login;
    const int passwordLength = quint8(bytes.at(2 + userLength));
    if (bytes.size() < 3 + userLength + passwordLength)
        return login;
    login.user = bytes.mid(2, userLength);
    login.password = bytes.mid(3 + userLength, passwordLength);
    login.length = 3 + userLength + passwordLength;
    login.state = Reading::Complete;
    return login;
}

Target request5(const QByteArray& bytes)
{
    Target target;
    if (bytes.size() < 5)
        return target;
    if (bytes.at(0) != 0x05 || bytes.at(2) != 0x00)
        return malformed<Target>();
    target.command = quint8(bytes.at(1));
    // An empty name is no address.
    const qsizetype length = bytes.at(3) == 0x03 && bytes.at(4) == 0 ? 0 : TunnelReply::socks5Length(bytes);
    if (length == 0)
        return malformed<Target>();
    if (bytes.size() < length)
        return target;
    if (bytes.at(3) == 0x01) {
        const auto* raw = reinterpret_cast<const uchar*>(bytes.constData() + 4);
        target.host =
            QHostAddress(quint32((raw[0] << 24) | (raw[1] << 16) | (raw[2] << 8) | raw[3])).toString().toLatin1();
    } else if (bytes.at(3) == 0x04) {
        target.host = QHostAddress(reinterpret_cast<const quint8*>(bytes.constData() + 4)).toString().toLatin1();
    } else {
        target.host = bytes.mid(5, quint8(bytes.at(4)));
        target.isName = true;
        if (target.host.contains('\0'))
            return malformed<Target>();
    }
    target.port = portAt(bytes, length - 2);
    target.length = length;
    target.state = Reading::Complete;
    return target;
}

Target request4(const QByteArray& bytes)
{
    Target target;
    if (bytes.size() < 9)
        return bytes.size() >= 1 && bytes.at(0) != 0x04 ? malformed<Target>() : target;
    if (bytes.at(0) != 0x04)
        return malformed<Target>();
    target.command = quint8(bytes.at(1));
    target.port = portAt(bytes, 2);
    const auto* raw = reinterpret_cast<const uchar*>(bytes.constData() + 4);
    const quint32 address = quint32((raw[0] << 24) | (raw[1] << 16) | (raw[2] << 8) | raw[3]);
    const qsizetype userEnd = nullEnd(bytes, 8);
    if (userEnd == -2)
        return malformed<Target>();
    if (userEnd < 0)
        return target;
    qsizetype end = userEnd;
    // 0.0.0.x with x not 0: a name follows (4a).
    if ((address >> 8) == 0 && address != 0) {
        const qsizetype nameEnd = nullEnd(bytes, userEnd + 1);
        if (nameEnd == -2 || nameEnd == userEnd + 1)
            return malformed<Target>();
        if (nameEnd < 0)
            return target;
        target.host = bytes.mid(userEnd + 1, nameEnd - userEnd - 1);
        target.isName = true;
        end = nameEnd;
    } else {
        target.host = QHostAddress(address).toString().toLatin1();
    }
    target.length = end + 1;
    target.state = Reading::Complete;
    return target;
}

} // namespace SocksRequest
