#include "pool/poolsource.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

QString PoolSource::isoTime(qint64 seconds)
{
    if (seconds < 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

QByteArray PoolSource::report(const std::vector<PoolSource>& sources)
{
    QString text = QStringLiteral("url\tharvests\tlast_fetched\tlast_outcome\tproxies_last\tdistinct_ever\t"
                                  "new_to_pool_last\talive_now\tunique_alive\tlast_changed\n");
    for (const PoolSource& source : sources)
        text += QStringList{source.url,
                            QString::number(source.harvests),
                            isoTime(source.lastFetched),
                            source.lastOutcome,
                            QString::number(source.proxiesLast),
                            QString::number(source.distinctEver),
                            QString::number(source.newToPoolLast),
                            QString::number(source.aliveNow),
                            QString::number(source.uniqueAlive),
                            isoTime(source.lastChanged)}
                    .join(QLatin1Char('\t')) +
                QLatin1Char('\n');
    return text.toUtf8();
}

void PoolSource::sort(std::vector<PoolSource>* sources)
{
    std::sort(sources->begin(), sources->end(), [](const PoolSource& a, const PoolSource& b) {
        return a.aliveNow != b.aliveNow ? a.aliveNow > b.aliveNow : a.url < b.url;
    });
}
