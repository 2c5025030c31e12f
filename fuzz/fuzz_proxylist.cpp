// Reading a proxy list, on any bytes: the list holds the texts a regular expression's global match finds that name
// a usable proxy (every group up to 255, a port from 10 to 65535, read here on their own), in the order found, each
// proxy once,
// the first text kept; the others are counted as unusable, the first of them kept. The list written back as
// "a.b.c.d:port" lines reads back as the same list. Any difference aborts.
#include "check/proxylist.h"

#include <QList>
#include <QRegularExpression>

#include <cstdlib>
#include <unordered_set>
#include <vector>

namespace {

// "a.b.c.d:port" read digit group by digit group, without the list's own reading.
bool usable(const QByteArray& text, ProxyEndpoint* proxy)
{
    const qsizetype colon = text.indexOf(':');
    const QList<QByteArray> groups = text.left(colon).split('.');
    if (colon < 0 || groups.size() != 4)
        std::abort();
    quint32 address = 0;
    for (const QByteArray& group : groups) {
        bool number = false;
        const uint value = group.toUInt(&number, 10);
        if (!number)
            std::abort();
        if (value > 255)
            return false;
        address = (address << 8) | value;
    }
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number, 10);
    if (!number)
        std::abort();
    if (port < 10 || port > 65535)
        return false;
    proxy->address = address;
    proxy->port = quint16(port);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    ProxyList list;
    list.addText(text);

    std::vector<ProxyEndpoint> expected;
    std::unordered_set<quint64> seen;
    int unusable = 0;
    QString firstUnusable;
    static const QRegularExpression pattern(
        QStringLiteral("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}:[0-9]{2,5}"));
    QRegularExpressionMatchIterator matches = pattern.globalMatch(QString::fromLatin1(text));
    while (matches.hasNext()) {
        const QByteArray proxyText = matches.next().captured().toLatin1();
        const char* found = proxyText.constData();
        const int length = int(proxyText.size());
        const int colon = int(proxyText.indexOf(':'));
        ProxyEndpoint proxy;
        ProxyEndpoint parsed;
        const bool isUsable = usable(proxyText, &proxy);
        if (ProxyList::parse(found, length, colon, &parsed) != isUsable || (isUsable && !(parsed == proxy)))
            std::abort();
        if (!isUsable) {
            if (unusable++ == 0)
                firstUnusable = QString::fromLatin1(proxyText);
        } else if (seen.insert(proxy.key()).second) {
            expected.push_back(proxy);
        }
    }

    const std::vector<ProxyEndpoint>& proxies = list.proxies();
    if (proxies != expected || list.unusable() != unusable || list.firstUnusable() != firstUnusable)
        std::abort();
    std::unordered_set<quint64> keys;
    for (const ProxyEndpoint& proxy : proxies) {
        if (proxy.port < 1 || !keys.insert(proxy.key()).second)
            std::abort();
    }

    // As an output list writes them.
    QByteArray written;
    for (const ProxyEndpoint& proxy : proxies)
        written += proxy.addressText().toLatin1() + ':' + QByteArray::number(proxy.port) + "\r\n";
    ProxyList again;
    again.addText(written);
    if (again.proxies() != proxies || again.unusable() != 0)
        std::abort();
    return 0;
}
