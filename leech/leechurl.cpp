#include "leech/leechurl.h"

#include "util/externalhosts.h"

CLeechUrl::CLeechUrl() : m_referrer(ExternalHosts::searchReferrer) {}

void CLeechUrl::parse(const QString& url, int level, const QString& referrer)
{
    const QString scheme = QStringLiteral("http://");
    const QString slash = QStringLiteral("/");

    m_url = url;

    QString host = url;
    host.remove(scheme);
    const qsizetype hostEnd = host.indexOf(slash);
    if (hostEnd >= 0)
        host.truncate(hostEnd);
    m_host = host;

    // "www." goes before the host is taken out, so a host that starts with it is not found again: the path
    // is then cut at the first "/" instead.
    QString path = url;
    path.remove(scheme);
    path.remove(QStringLiteral("www."));
    if (!host.isEmpty())
        path.remove(host);
    const qsizetype firstSlash = path.indexOf(slash);
    if (firstSlash > 0)
        path = path.mid(firstSlash + 1);
    if (!path.startsWith(slash))
        path.prepend(slash);
    m_path = path;

    m_referrer = referrer;
    m_level = level;
}
