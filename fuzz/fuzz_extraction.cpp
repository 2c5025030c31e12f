// The extraction's one-pass scan against the literal procedure (take the leftmost proxy, remove every copy,
// search again from the start), both ways through a token. Any difference aborts.
#include "extraction/pagescanner.h"
#include "tests/support/literalscan.h"

#include <QStringList>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The literal procedure costs the square of the page; longer pages add nothing the fuzzer cannot reach.
    if (size > 4096)
        return 0;
    const QByteArray page(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList expected = LiteralScan::scanPage(QString::fromLatin1(page));
    for (const qsizetype longToken : {qsizetype(2048), qsizetype(0)}) {
        PageScanner scanner(longToken);
        QByteArray scanned = page;
        QStringList found;
        scanner.scan(scanned, [&](const char* proxy, int length, int) {
            found << QString::fromLatin1(proxy, length);
            return true;
        });
        if (found != expected)
            std::abort();
    }
    return 0;
}
