// A redirect's Location resolved against the URL it came from, on any bytes: the first line is the page's
// URL, the rest the Location value. Whatever comes out is a URL we can fetch, has no fragment, and is already
// absolute: resolving it again, against any page, gives back the same bytes.
#include "qtlib/web/httpreply.h"
#include "util/weburl.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QUrl page = WebUrl::fromText(QString::fromUtf8(newline < 0 ? input : input.left(newline)));
    if (page.isEmpty())
        return 0;
    const QByteArray location = newline < 0 ? QByteArray() : input.mid(newline + 1);
    const QUrl target = resolveLocation(page, location);
    if (target.isEmpty())
        return 0;
    if (!WebUrl::isFetchable(target) || target.hasFragment())
        std::abort();
    // Compared as sent: QUrl may keep the same bytes decoded one way and encoded another, and call them unequal.
    const QUrl again = resolveLocation(QUrl(QStringLiteral("http://www.example.com/a/b")), target.toEncoded());
    if (again.toEncoded() != target.toEncoded())
        std::abort();
    // The request line and the Host line are made from it: neither may carry a line break.
    if (WebUrl::requestPath(target).contains(QLatin1Char('\n')) ||
        WebUrl::hostHeader(target).contains(QLatin1Char('\n')) ||
        WebUrl::requestPath(target).contains(QLatin1Char('\r')))
        std::abort();
    return 0;
}
