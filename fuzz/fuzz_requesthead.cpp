// What a client or a site sends as a head, and the body after it, on any bytes: the first byte picks a request's
// head, a reply's head, or a body (of a length, of chunks, until the close) fed in pieces whose sizes the next bytes
// give. A head once decided stays decided as more bytes come, a complete one lies within the bytes that came, and a
// body takes the same bytes however they are cut.
#include "serve/bodystream.h"
#include "serve/httphead.h"

#include <cstdlib>

namespace {

HttpHead read(bool request, const QByteArray& bytes)
{
    return request ? HttpHead::readRequest(bytes) : HttpHead::readReply(bytes);
}

bool same(const HttpHead& a, const HttpHead& b)
{
    return a.state == b.state && a.length == b.length && a.first == b.first && a.second == b.second &&
           a.third == b.third && a.fields == b.fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int kind = data[0] % 3;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (kind == 2) {
        // The framing from the second byte, the pieces' sizes from the third.
        const int framing = data[1] % 3;
        const int piece = 1 + (size > 2 ? data[2] % 64 : 0);
        const QByteArray body = bytes.mid(2);
        const auto stream = [&] {
            return framing == 0   ? BodyStream(BodyStream::Length, qint64(body.size() / 2))
                   : framing == 1 ? BodyStream(BodyStream::Chunked)
                                  : BodyStream(BodyStream::UntilClose);
        };
        BodyStream whole = stream();
        const qsizetype wholeTaken = whole.take(body.constData(), body.size());
        BodyStream pieces = stream();
        qsizetype taken = 0;
        for (qsizetype at = 0; at < body.size(); at += piece) {
            const qsizetype length = qMin<qsizetype>(piece, body.size() - at);
            const qsizetype got = pieces.take(body.constData() + at, length);
            if (got < 0 || got > length)
                std::abort();
            taken += got;
            if (got < length)
                break;
        }
        if (wholeTaken < 0 || wholeTaken > body.size() || taken != wholeTaken || pieces.done() != whole.done() ||
            pieces.malformed() != whole.malformed())
            std::abort();
        return 0;
    }

    const bool request = kind == 0;
    const HttpHead whole = read(request, bytes);
    if (whole.state == HttpHead::Complete &&
        (whole.length <= 0 || whole.length > bytes.size() || whole.length > HttpHead::maxSize))
        std::abort();
    const qsizetype longest = qMin<qsizetype>(bytes.size(), 600);
    for (qsizetype length = 0; length <= longest; ++length) {
        const HttpHead prefix = read(request, bytes.left(length));
        if (prefix.state == HttpHead::NeedMore)
            continue;
        if (!same(prefix, whole))
            std::abort();
        break;
    }
    if (whole.state == HttpHead::Complete)
        whole.endToEndFields();
    return 0;
}
