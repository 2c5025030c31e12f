// The extraction's line template against the plain replacement, letter by letter, that it stands for: the same
// line for any template and any address of four groups of one to three digits. Any difference aborts.
#include "extraction/linetemplate.h"
#include "extraction/proxyaddress.h"

#include <cstdlib>

namespace {

// Decimal digits, one from each input byte.
QByteArray digits(const uint8_t* data, size_t& at, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += char('0' + data[at++] % 10);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Four group lengths, up to twelve group digits, a port length and up to five port digits, then the template.
    constexpr size_t head = 4 + 12 + 1 + 5;
    if (size < head)
        return 0;
    size_t at = 4;
    QByteArray address;
    for (int group = 0; group < 4; ++group)
        address += (group ? "." : "") + digits(data, at, 1 + data[group] % 3);
    const int portLength = 1 + data[at++] % 5;
    const QByteArray port = digits(data, at, portLength);
    const QString format = QString::fromUtf8(reinterpret_cast<const char*>(data) + head, qsizetype(size - head));

    QByteArray line;
    LineTemplate(format).appendLine(line, address.constData(), int(address.size()), port.constData(), int(port.size()));
    CProxyAddress record;
    record.setAddress(QString::fromLatin1(address));
    if (line != formatProxyLine(format, QString::fromLatin1(address), QString::fromLatin1(port), record).toLatin1())
        std::abort();
    return 0;
}
