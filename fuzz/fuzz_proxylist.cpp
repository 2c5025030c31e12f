// Reading a proxy list, on any bytes: the list holds the texts a regular expression's global match finds that name
// a usable proxy (every group up to 255, a port from 10 to 65535, read here on their own), in the order found, each
// proxy and credentials once, the first text kept; a text followed by "@" is part of a password; the others are
// counted as unusable, the first of them kept. The scheme and credentials in front are read here by regular
// expressions of their own. The addresses written back as "a.b.c.d:port" lines read back as the same proxies. Any
// difference aborts.
#include "check/proxylist.h"

#include <QList>
#include <QRegularExpression>

#include <cstdlib>
#include <string>
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

// The scheme and credentials in front of the proxy text at `start`.
void readPrefix(const QByteArray& text, qsizetype start, ProxyEndpoint* proxy)
{
    static const QRegularExpression word(QStringLiteral("[^ \\t\\r\\n\"'<>]*\\z"));
    static const QRegularExpression schemeEnd(QStringLiteral("([A-Za-z0-9+.-]*)://\\z"));
    static const QRegularExpression url(QStringLiteral("^(?:(.*?)://)?(.*)\\z"),
                                        QRegularExpression::DotMatchesEverythingOption);
    QString scheme;
    const QString before = QString::fromLatin1(text.left(start));
    if (!before.endsWith(QLatin1Char('@'))) {
        scheme = schemeEnd.match(before).captured(1);
    } else {
        const QString credentialsWord = word.match(before.chopped(1)).captured();
        if (credentialsWord.size() > 1024)
            return;
        const QRegularExpressionMatch parts = url.match(credentialsWord);
        QByteArray credentials = parts.captured(2).toLatin1();
        if (parts.capturedStart(1) >= 0) {
            scheme = schemeEnd.match(parts.captured(1) + QStringLiteral("://")).captured(1);
            credentials = QByteArray::fromPercentEncoding(credentials);
        }
        const qsizetype colon = credentials.indexOf(':');
        proxy->user = credentials.left(colon < 0 ? credentials.size() : colon);
        proxy->password = colon < 0 ? QByteArray() : credentials.mid(colon + 1);
    }
    scheme = scheme.toLower();
    if (QStringList{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("socks4"), QStringLiteral("socks5")}
            .contains(scheme))
        proxy->statedScheme = scheme.toLatin1();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    ProxyList list;
    list.addText(text);

    std::vector<ProxyEndpoint> expected;
    std::unordered_set<std::string> seen;
    int unusable = 0;
    QString firstUnusable;
    static const QRegularExpression pattern(
        QStringLiteral("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}:[0-9]{2,5}"));
    QRegularExpressionMatchIterator matches = pattern.globalMatch(QString::fromLatin1(text));
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        if (text.mid(match.capturedEnd(), 1) == "@")
            continue;
        const QByteArray proxyText = match.captured().toLatin1();
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
            continue;
        }
        readPrefix(text, match.capturedStart(), &proxy);
        const std::string key = std::to_string(proxy.key()) + '\n' + proxy.user.toHex().toStdString() + '\n' +
                                proxy.password.toHex().toStdString();
        if (seen.insert(key).second)
            expected.push_back(proxy);
    }

    const std::vector<ProxyEndpoint>& proxies = list.proxies();
    if (proxies.size() != expected.size() || list.unusable() != unusable || list.firstUnusable() != firstUnusable)
        std::abort();
    for (size_t i = 0; i < proxies.size(); ++i) {
        if (!(proxies[i] == expected[i]) || proxies[i].statedScheme != expected[i].statedScheme || proxies[i].port < 1)
            std::abort();
    }

    // As an output list writes them, without credentials: each address and port once.
    QByteArray written;
    std::unordered_set<quint64> keys;
    std::vector<quint64> order;
    for (const ProxyEndpoint& proxy : proxies) {
        if (!keys.insert(proxy.key()).second)
            continue;
        order.push_back(proxy.key());
        written += proxy.addressText().toLatin1() + ':' + QByteArray::number(proxy.port) + "\r\n";
    }
    ProxyList again;
    again.addText(written);
    if (again.proxies().size() != order.size() || again.unusable() != 0)
        std::abort();
    for (size_t i = 0; i < order.size(); ++i) {
        if (again.proxies()[i].key() != order[i] || again.proxies()[i].hasCredentials())
            std::abort();
    }
    return 0;
}
