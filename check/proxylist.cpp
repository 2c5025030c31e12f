#include "check/proxylist.h"

#include "extraction/proxytext.h"

#include <QFile>

#include <algorithm>

namespace {

// A group of digits as a number, leading zeros read as decimal ("010" is 10, as the output line shows it).
quint32 decimal(const char* digits, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + quint32(digits[i] - '0');
    return value;
}

} // namespace

bool ProxyList::parse(const char* text, int length, int colon, ProxyEndpoint* proxy)
{
    quint32 address = 0;
    int groupStart = 0;
    for (int group = 0; group < 4; ++group) {
        const int groupEnd = group < 3 ? int(std::find(text + groupStart, text + colon, '.') - text) : colon;
        const quint32 value = decimal(text + groupStart, groupEnd - groupStart);
        if (value > 255)
            return false;
        address = (address << 8) | value;
        groupStart = groupEnd + 1;
    }
    const quint32 port = decimal(text + colon + 1, length - colon - 1);
    if (port < 10 || port > 65535)
        return false;
    proxy->address = address;
    proxy->port = quint16(port);
    return true;
}

void ProxyList::addProxyText(const char* text, int length, int colon)
{
    ProxyEndpoint proxy;
    if (!parse(text, length, colon, &proxy)) {
        if (m_unusable++ == 0)
            m_firstUnusable = QString::fromLatin1(text, length);
        return;
    }
    add(proxy);
}

void ProxyList::add(const ProxyEndpoint& proxy)
{
    if (!proxy.hasCredentials()) {
        if (m_seen.insert(proxy.key()).second)
            m_proxies.push_back(proxy);
        return;
    }
    // The user name's length keeps "a:b" + "c" apart from "a" + "b:c".
    std::string key = std::to_string(proxy.key()) + ' ' + std::to_string(proxy.user.size()) + ' ';
    key.append(proxy.user.constData(), size_t(proxy.user.size()));
    key.append(proxy.password.constData(), size_t(proxy.password.size()));
    if (m_seenWithCredentials.insert(std::move(key)).second)
        m_proxies.push_back(proxy);
}

namespace {

// Credentials a list means fit in this (RFC 1929 allows 255 bytes a name and a password); a longer word is read no
// further back, so one long word with many "@a.b.c.d:port" in it is read in linear time.
constexpr qsizetype longestCredentialsWord = 1024;

bool endsWord(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'' || c == '<' || c == '>';
}

bool isSchemeCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
}

// The scheme whose "://" ends at `end`, when one does.
QByteArray schemeBefore(const QByteArray& text, qsizetype end)
{
    if (end < 3 || text.mid(end - 3, 3) != "://")
        return QByteArray();
    qsizetype start = end - 3;
    while (start > 0 && isSchemeCharacter(text.at(start - 1)))
        --start;
    return text.mid(start, end - 3 - start).toLower();
}

} // namespace

void ProxyList::readPrefix(const QByteArray& text, qsizetype start, ProxyEndpoint* proxy)
{
    QByteArray scheme = schemeBefore(text, start);
    if (start == 0 || text.at(start - 1) != '@') {
        proxy->statedScheme = scheme;
    } else {
        const qsizetype at = start - 1;
        const qsizetype farthest = qMax<qsizetype>(0, at - longestCredentialsWord);
        qsizetype wordStart = at;
        while (wordStart > farthest && !endsWord(text.at(wordStart - 1)))
            --wordStart;
        // Longer than any credentials: the proxy stands bare.
        if (wordStart > 0 && !endsWord(text.at(wordStart - 1)))
            return;
        QByteArray credentials = text.mid(wordStart, at - wordStart);
        const qsizetype schemeEnd = credentials.indexOf("://");
        if (schemeEnd >= 0) {
            scheme = schemeBefore(text, wordStart + schemeEnd + 3);
            credentials = QByteArray::fromPercentEncoding(credentials.mid(schemeEnd + 3));
        }
        proxy->statedScheme = scheme;
        const qsizetype colon = credentials.indexOf(':');
        proxy->user = colon < 0 ? credentials : credentials.left(colon);
        proxy->password = colon < 0 ? QByteArray() : credentials.mid(colon + 1);
    }
    // Only the schemes of proxies are stated; "ftp://1.2.3.4:21" names a proxy, not what it speaks.
    static const QByteArrayList known = {"http", "https", "socks4", "socks5"};
    if (!known.contains(proxy->statedScheme))
        proxy->statedScheme.clear();
}

void ProxyList::addText(const QByteArray& text)
{
    const char* data = text.constData();
    const qsizetype size = text.size();
    for (qsizetype at = 0; at < size;) {
        int colon = 0;
        const int length = ProxyText::matchAt(data, at, size, &colon);
        if (length == 0) {
            ++at;
            continue;
        }
        // "a.b.c.d:port@" is part of the password of a proxy further on.
        if (at + length < size && data[at + length] == '@') {
            at += length;
            continue;
        }
        ProxyEndpoint proxy;
        if (!parse(data + at, length, colon, &proxy)) {
            addProxyText(data + at, length, colon);
        } else {
            readPrefix(text, at, &proxy);
            add(proxy);
        }
        at += length;
    }
}

bool ProxyList::addFile(const QString& path, QString* failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *failure = file.errorString();
        return false;
    }
    addText(file.readAll());
    return true;
}
