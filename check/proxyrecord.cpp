#include "check/proxyrecord.h"

#include <QHostAddress>

ProxyRecord ProxyRecord::of(const ProxyEndpoint& proxy, const CheckResult& result, const GeoLookup& geo,
                            const QStringList& sources)
{
    ProxyRecord record{proxy, result, geo.lookup(proxy.address), {}, sources, {}};
    bool ipv4 = false;
    const quint32 seen = result.seenAddress.isEmpty() ? 0 : QHostAddress(result.seenAddress).toIPv4Address(&ipv4);
    if (ipv4)
        record.exit = seen == proxy.address ? record.place : geo.lookup(seen);
    return record;
}

std::vector<ProxyRecord> ProxyRecord::fromCheck(const std::vector<ProxyEndpoint>& proxies,
                                                const std::vector<CheckResult>& results, const GeoLookup& geo,
                                                const QHash<quint64, QStringList>& sources, bool workingOnly)
{
    std::vector<ProxyRecord> records;
    records.reserve(proxies.size());
    for (size_t i = 0; i < proxies.size(); ++i) {
        const CheckResult& result = results.at(i);
        if (!workingOnly || result.outcome == CheckResult::Working)
            records.push_back(of(proxies[i], result, geo, sources.value(proxies[i].key())));
    }
    return records;
}
