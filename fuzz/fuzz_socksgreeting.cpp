// A SOCKS 5 client's greeting and its user name and password (RFC 1929), on any bytes: the first byte picks which.
// A message once decided stays decided as more bytes come, and a complete one lies within the bytes that came.
#include "serve/socksrequest.h"

#include <cstdlib>

namespace {

struct Read
{
    SocksRequest::Reading reading;
    QByteArray first;
    QByteArray second;
};

Read read(bool greeting, const QByteArray& bytes)
{
    if (greeting) {
        const SocksRequest::Greeting got = SocksRequest::greeting5(bytes);
        return {got, got.methods, QByteArray()};
    }
    const SocksRequest::Login got = SocksRequest::login5(bytes);
    return {got, got.user, got.password};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool greeting = data[0] % 2 == 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const Read whole = read(greeting, bytes);
    if (whole.reading.state == SocksRequest::Reading::Complete &&
        (whole.reading.length <= 0 || whole.reading.length > bytes.size() ||
         whole.first.size() + whole.second.size() > whole.reading.length))
        std::abort();
    for (qsizetype length = 0; length <= qMin<qsizetype>(bytes.size(), 600); ++length) {
        const Read prefix = read(greeting, bytes.left(length));
        if (prefix.reading.state == SocksRequest::Reading::NeedMore)
            continue;
        if (prefix.reading.state != whole.reading.state || prefix.reading.length != whole.reading.length ||
            prefix.first != whole.first || prefix.second != whole.second)
            std::abort();
        break;
    }
    return 0;
}
