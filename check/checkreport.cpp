#include "check/checkreport.h"

#include <QStringList>

namespace CheckReport {

QByteArray text(const std::vector<ProxyEndpoint>& proxies, const std::vector<CheckResult>& results)
{
    QString text = QStringLiteral("address\tport\toutcome\tprotocols\tms\tanonymity\tseen address\n");
    for (size_t i = 0; i < proxies.size(); ++i) {
        const CheckResult& result = results.at(i);
        const QStringList fields = {proxies[i].addressText(),
                                    QString::number(proxies[i].port),
                                    CheckResult::outcomeText(result.outcome),
                                    CheckResult::protocolsText(result.protocols),
                                    result.firstByteMs >= 0 ? QString::number(result.firstByteMs) : QString(),
                                    CheckResult::anonymityText(result.anonymity),
                                    result.seenAddress};
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
