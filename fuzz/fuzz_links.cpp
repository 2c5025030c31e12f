// Link extraction on any page text: no crash, no undefined behaviour, and what comes out is a link without
// its scheme whose type check runs.
#include "leech/leechlinks.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const CLinkExtractor extractor;
    for (const QString& link :
         extractor.extractLinks(text, QStringLiteral("www.example.com"), QStringLiteral("/lists/index.html"))) {
        if (link.contains(QLatin1String("http://")))
            std::abort();
        extractor.isUnwantedFile(link);
    }
    return 0;
}
