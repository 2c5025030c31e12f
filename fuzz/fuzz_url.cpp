// URL parsing on any text: the host never holds a "/" and the path always starts with one.
#include "leech/leechurl.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CLeechUrl url;
    url.parse(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)), 0, QString());
    if (url.host().contains(QLatin1Char('/')) || !url.path().startsWith(QLatin1Char('/')))
        std::abort();
    return 0;
}
