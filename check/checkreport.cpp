#include "check/checkreport.h"

#include <QStringList>

namespace CheckReport {

namespace {

// A name from a database with a tab or a line end in it would shift the columns.
QString cell(const QString& text)
{
    QString cleaned = text;
    for (QChar& c : cleaned)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return cleaned;
}

QString asnText(quint32 asn)
{
    return asn > 0 ? QString::number(asn) : QString();
}

} // namespace

QByteArray text(const std::vector<ProxyRecord>& records, bool withSources)
{
    QString text =
        QStringLiteral("address\tport\toutcome\tprotocols\tms\tanonymity\tseen address\tcountry\tasn\t"
                       "organization\texit country\texit asn\texit organization\tstated scheme\tuser\tpassword");
    text += withSources ? QStringLiteral("\tsources\n") : QStringLiteral("\n");
    for (const ProxyRecord& record : records) {
        const CheckResult& result = record.result;
        QStringList fields = {record.proxy.addressText(),
                              QString::number(record.proxy.port),
                              CheckResult::outcomeText(result.outcome),
                              CheckResult::protocolsText(result.protocols),
                              result.firstByteMs >= 0 ? QString::number(result.firstByteMs) : QString(),
                              CheckResult::anonymityText(result.anonymity),
                              result.seenAddress,
                              record.place.country,
                              asnText(record.place.asn),
                              cell(record.place.organization),
                              record.exit.country,
                              asnText(record.exit.asn),
                              cell(record.exit.organization),
                              QString::fromLatin1(record.proxy.statedScheme),
                              cell(QString::fromUtf8(record.proxy.user)),
                              cell(QString::fromUtf8(record.proxy.password))};
        if (withSources)
            fields << record.sources.join(QLatin1Char(' '));
        text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

QString summary(const std::vector<CheckResult>& results)
{
    int checked = 0;
    int working = 0;
    for (const CheckResult& result : results) {
        checked += result.outcome != CheckResult::Stopped;
        working += result.outcome == CheckResult::Working;
    }
    return QStringLiteral("proxies: %1 working of %2 checked").arg(working).arg(checked);
}

} // namespace CheckReport
