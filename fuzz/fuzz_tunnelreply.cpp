// What a proxy answers while a tunnel is opened, on any bytes: the first byte picks the answer read (the SOCKS 5
// method choice with and without a password offered, the SOCKS 5 password answer, the SOCKS 5 reply, the SOCKS 4
// reply, the answer to CONNECT, or the judge's reply through the tunnel), the rest is what the proxy sent. An answer
// once decided stays decided as more bytes come (the attempt acts on the first decision), and an open tunnel's answer
// lies within the bytes that came.
#include "check/judgepage.h"
#include "check/tunnelreply.h"

#include <cstdlib>

namespace {

TunnelReply::Reading read(int kind, const QByteArray& bytes)
{
    switch (kind) {
    case 0:
        return TunnelReply::socks5Greeting(bytes, false);
    case 1:
        return TunnelReply::socks5Greeting(bytes, true);
    case 2:
        return TunnelReply::socks5Authentication(bytes);
    case 3:
        return TunnelReply::socks5(bytes);
    case 4:
        return TunnelReply::socks4(bytes);
    default:
        return TunnelReply::connect(bytes);
    }
}

bool same(const TunnelReply::Reading& a, const TunnelReply::Reading& b)
{
    return a.state == b.state && a.length == b.length && a.failure == b.failure && a.authenticate == b.authenticate;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int kind = data[0] % 7;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (kind == 6) {
        // The judge's reply: complete by its length stays complete, and the verdict then stays as it was.
        bool completeBefore = false;
        for (qsizetype length = 0; length <= qMin<qsizetype>(bytes.size(), 600); ++length) {
            const bool complete = JudgePage::isComplete(bytes.left(length));
            if (completeBefore && !complete)
                std::abort();
            completeBefore = complete;
        }
        JudgePage::judge(bytes, QByteArrayLiteral("marker"));
        return 0;
    }

    const TunnelReply::Reading whole = read(kind, bytes);
    if (whole.state == TunnelReply::Reading::Open && (whole.length <= 0 || whole.length > bytes.size()))
        std::abort();
    // The first prefix that decides decides as the whole does.
    const qsizetype longest = qMin<qsizetype>(bytes.size(), 600);
    for (qsizetype length = 0; length <= longest; ++length) {
        const TunnelReply::Reading prefix = read(kind, bytes.left(length));
        if (prefix.state == TunnelReply::Reading::NeedMore)
            continue;
        if (!same(prefix, whole))
            std::abort();
        break;
    }
    return 0;
}
