// The pairing step on any bytes, read as a whole page and as a cut one, and on the page's visible text: it never
// crashes, the visible text is never longer than the page, every pair it writes is an address and a port that stand
// in what it read, and its steps stay within a constant times the input's length (a short -max_len cannot show a
// quadratic case, so the steps are counted rather than the time).
#include "extraction/pairreader.h"
#include "extraction/visibletext.h"

#include <QList>

#include <cstdlib>

namespace {

bool isAddress(QByteArrayView text)
{
    int dots = 0;
    qsizetype digits = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0 || ++dots > 3)
                return false;
            digits = 0;
        } else if (c < '0' || c > '9' || ++digits > 3) {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

// Reads `page` and aborts on a pair that does not stand in it, or on steps out of proportion.
void readPairs(const QByteArray& page)
{
    for (const bool cut : {false, true}) {
        const QByteArray pairs = PairReader::read(page, cut);
        if (PairReader::lastSteps() > 64 * (page.size() + 1))
            std::abort();
        if (!pairs.isEmpty() && !pairs.endsWith('\n'))
            std::abort();
        for (const QByteArray& line : pairs.split('\n')) {
            if (line.isEmpty())
                continue;
            const qsizetype colon = line.indexOf(':');
            const QByteArray address = line.left(colon);
            const QByteArray port = line.mid(colon + 1);
            if (colon < 0 || !isAddress(address) || port.size() < 2 || port.size() > 5 || !page.contains(address) ||
                !page.contains(port))
                std::abort();
            for (const char c : port)
                if (c < '0' || c > '9')
                    std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray page(reinterpret_cast<const char*>(data), qsizetype(size));
    readPairs(page);
    const QByteArray visible = VisibleText::of(page);
    if (visible.size() > page.size())
        std::abort();
    readPairs(visible);
    return 0;
}
