#include "check/proxyrecord.h"

#include <QHostAddress>

std::vector<ProxyRecord> ProxyRecord::fromCheck(const std::vector<ProxyEndpoint>& proxies,
                                                const std::vector<CheckResult>& results, const GeoLookup& geo,
                                                const QHash<quint64, QStringList>& sources, bool workingOnly)
{
    std::vector<ProxyRecord> records;
    records.reserve(proxies.size());
    for (size_t i = 0; i < proxies.size(); ++i) {
        const CheckResult& result = results.at(i);
        if (workingOnly && result.outcome != CheckResult::Working)
            continue;
        ProxyRecord record{proxies[i], result, geo.lookup(proxies[i].address), {}, sources.value(proxies[i].key()), {}};
        bool ipv4 = false;
        const quint32 seen = result.seenAddress.isEmpty() ? 0 : QHostAddress(result.seenAddress).toIPv4Address(&ipv4);
        if (ipv4)
            record.exit = seen == proxies[i].address ? record.place : geo.lookup(seen);
        records.push_back(std::move(record));
    }
    return records;
}
