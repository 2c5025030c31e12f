#include "util/domaincheck.h"

#include <QRegularExpression>

bool looksLikeDomain(const QString& host)
{
    static const QRegularExpression domain(QRegularExpression::anchoredPattern(QStringLiteral(
                                               "(www\\.)?(([^\\.]+)\\.)?([^\\.]+)\\.[a-z]{2,4}(\\.[a-z]{2,4})?")),
                                           QRegularExpression::CaseInsensitiveOption);
    return !host.isEmpty() && domain.match(host).hasMatch();
}

bool passesDomainCheck(const QString& url)
{
    QString host = url;
    host.remove(QStringLiteral("http://"));
    const qsizetype slash = host.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        host.truncate(slash);
    return looksLikeDomain(host);
}
