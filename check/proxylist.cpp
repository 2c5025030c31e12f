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
    if (m_seen.insert(proxy.key()).second)
        m_proxies.push_back(proxy);
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
        addProxyText(data + at, length, colon);
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
