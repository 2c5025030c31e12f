#include "util/weburl.h"

#include <QRegularExpression>

namespace {

bool isIPv4(const QString& host)
{
    static const QRegularExpression quad(
        QRegularExpression::anchoredPattern(QStringLiteral("(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}")));
    if (!quad.match(host).hasMatch())
        return false;
    for (const QString& group : host.split(QLatin1Char('.')))
        if (group.toInt() > 255)
            return false;
    return true;
}

// Labels of letters, digits, hyphens (and the underscores some hosts carry), ending in a top-level name of
// letters or an IDN name; at least two labels.
bool isDomainName(const QString& host)
{
    static const QRegularExpression name(QRegularExpression::anchoredPattern(
        QStringLiteral("([a-z0-9_]([a-z0-9_-]{0,61}[a-z0-9_])?\\.)+([a-z]{2,63}|xn--[a-z0-9-]{1,59})")));
    return host.size() <= 253 && name.match(host).hasMatch();
}

} // namespace

namespace WebUrl {

QUrl fromText(const QString& text)
{
    const QString trimmed = text.trimmed();
    // A scheme of its own, written out: "www.example.com/x" or "ftp://..." are not taken.
    if (!trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QUrl();
    const QUrl url(trimmed, QUrl::StrictMode);
    return isFetchable(url) ? url : QUrl();
}

bool isFetchable(const QUrl& url)
{
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return false;
    // Credentials in a URL are not sent, so such a URL would not fetch what its author meant.
    if (!url.userInfo().isEmpty() || url.port() == 0)
        return false;
    const QString host = url.host(QUrl::FullyEncoded);
    return isIPv4(host) || isDomainName(host);
}

bool isSecure(const QUrl& url)
{
    return url.scheme() == QLatin1String("https");
}

int port(const QUrl& url)
{
    return url.port(isSecure(url) ? 443 : 80);
}

QString requestPath(const QUrl& url)
{
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    if (url.hasQuery())
        path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    return path;
}

QString hostHeader(const QUrl& url)
{
    const QString host = url.host(QUrl::FullyEncoded);
    return url.port() > 0 ? host + QLatin1Char(':') + QString::number(url.port()) : host;
}

} // namespace WebUrl
