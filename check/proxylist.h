#pragma once

#include "check/proxyendpoint.h"

#include <QByteArray>
#include <QString>

#include <unordered_set>
#include <vector>

// The proxies a text names, found as the extraction finds them in a page, each once, in the order first seen.
// Texts that match the pattern but name no usable proxy ("300.1.2.3:80", port 0) are counted, not checked.
class ProxyList
{
public:
    // Adds the proxies of one text: any text, one of our output lists or a stored page.
    void addText(QByteArray text);
    // Adds one "a.b.c.d:port" text as the extraction wrote it.
    void addProxyText(const char* text, int length, int colon);
    // Reads a whole file; false with the reason when it cannot be read.
    bool addFile(const QString& path, QString* failure);

    const std::vector<ProxyEndpoint>& proxies() const { return m_proxies; }
    int unusable() const { return m_unusable; }
    QString firstUnusable() const { return m_firstUnusable; }

    // The proxy a text names, when it names a usable one.
    static bool parse(const char* text, int length, int colon, ProxyEndpoint* proxy);

private:
    std::vector<ProxyEndpoint> m_proxies;
    std::unordered_set<quint64> m_seen; // keys of m_proxies
    int m_unusable = 0;
    QString m_firstUnusable;
};
