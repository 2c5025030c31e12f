// A SOCKS 5 or SOCKS 4 (4a) client's request, on any bytes: the first byte picks which. A request once decided stays
// decided as more bytes come, a complete one lies within the bytes that came, and its host is an address or a name
// without a null byte.
#include "serve/socksrequest.h"

#include <QHostAddress>

#include <cstdlib>

namespace {

SocksRequest::Target read(bool five, const QByteArray& bytes)
{
    return five ? SocksRequest::request5(bytes) : SocksRequest::request4(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool five = data[0] % 2 == 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const SocksRequest::Target whole = read(five, bytes);
    if (whole.state == SocksRequest::Reading::Complete) {
        if (whole.length <= 0 || whole.length > bytes.size() || whole.host.isEmpty() || whole.host.contains('\0'))
            std::abort();
        if (!whole.isName && QHostAddress(QString::fromLatin1(whole.host)).isNull())
            std::abort();
    }
    for (qsizetype length = 0; length <= qMin<qsizetype>(bytes.size(), 600); ++length) {
        const SocksRequest::Target prefix = read(five, bytes.left(length));
        if (prefix.state == SocksRequest::Reading::NeedMore)
            continue;
        if (prefix.state != whole.state || prefix.length != whole.length || prefix.host != whole.host ||
            prefix.port != whole.port || prefix.command != whole.command)
            std::abort();
        break;
    }
    return 0;
}
