// The pairing step of the command line on pages of proxy texts, of table rows and of JSON objects from 1 to 64 MB,
// beside the reduction every page goes through anyway (the floor of storing it), in this run. The time per MB should
// stay level as the pages grow: the step is one pass. Prints a table and ratios; asserts nothing.
#include "extraction/pagetext.h"
#include "extraction/pairreader.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray address(quint32 index)
{
    const quint32 value = index * 2654435761u;
    return QByteArray::number(value >> 24) + '.' + QByteArray::number((value >> 16) & 255) + '.' +
           QByteArray::number((value >> 8) & 255) + '.' + QByteArray::number(value & 255);
}

// Rows as proxy-list sites write them: the address and the port in cells of their own, more cells behind.
QByteArray tablePage(qsizetype bytes)
{
    QByteArray page = "<html><body><table><tr><th>IP</th><th>Port</th><th>Country</th><th>Checked</th></tr>\n";
    for (quint32 i = 0; page.size() < bytes; ++i)
        page += "<tr><td class=\"ip\">" + address(i) + "</td><td>" + QByteArray::number(1000 + i % 60000) +
                "</td><td>&nbsp;DE</td><td>" + QByteArray::number(1733650000 + i) + "</td></tr>\n";
    return page + "</table></body></html>\n";
}

// Proxy texts in table rows, as bench_web serves them: no address stands alone, so the step only looks once.
QByteArray textPage(qsizetype bytes)
{
    QByteArray page = "<html><body><table>\n";
    for (quint32 i = 0; page.size() < bytes; ++i)
        page += "<tr><td>" + address(i) + ':' + QByteArray::number(1000 + i % 60000) +
                "</td><td>HTTP</td><td>anonymous</td><td>" + QByteArray::number(i % 900) + " ms</td></tr>\n";
    return page + "</table></body></html>\n";
}

// bench_web's mixed pages: proxy texts in table rows, one row in four with the address and the port in cells apart.
QByteArray webPage(qsizetype bytes)
{
    QByteArray page = "<html><head><title>Free proxy list</title></head><body><table>\n";
    for (quint32 i = 0; page.size() < bytes; ++i) {
        const QByteArray port = QByteArray::number(80 + (i * 7919) % 65455);
        const QByteArray cell = address(i) + (i % 4 == 0 ? QByteArray("</td><td>") : QByteArray(":")) + port;
        page += "<tr><td>" + cell + "</td><td>HTTP</td><td>anonymous</td><td>" + QByteArray::number(100 + i % 9900) +
                " ms</td><td>checked " + QByteArray::number(1 + i % 58) +
                " minutes ago</td><td>United States</td></tr>\n";
    }
    return page + "</table></body></html>\n";
}

// An API's answer: objects with the address and the port apart, numbers between them.
QByteArray jsonPage(qsizetype bytes)
{
    QByteArray page = "{\"data\": [";
    for (quint32 i = 0; page.size() < bytes; ++i)
        page += "{\"ip\": \"" + address(i) + "\", \"lastChecked\": " + QByteArray::number(1733650000 + i) +
                ", \"latency\": " + QByteArray::number(i % 900) +
                ", \"port\": " + QByteArray::number(1000 + i % 60000) + ", \"protocols\": [\"http\"]},\n";
    return page + "{}]}\n";
}

// The fastest of three rounds, in ms.
template <class Work> double fastest(Work work)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

// bench_pairs [KIND MB]: every kind and size, or one (for a profiler or an instruction count).
int main(int argc, char** argv)
{
    const QByteArray onlyKind = argc > 2 ? QByteArray(argv[1]) : QByteArray();
    const int onlySize = argc > 2 ? std::atoi(argv[2]) : 0;
    std::printf("%-6s %6s %10s %12s %12s %12s %12s %10s %8s\n", "page", "MB", "pairs", "pairing ms", "+visible ms",
                "whole ms", "reduction ms", "ms per MB", "ratio");
    double lastRatio = 0;
    double lastPerMb = 0;
    for (const char* kind : {"text", "table", "web", "json"}) {
        for (const int megabytes : {1, 4, 16, 64}) {
            if (!onlyKind.isEmpty() && (onlyKind != kind || onlySize != megabytes))
                continue;
            const qsizetype bytes = qsizetype(megabytes) * 1024 * 1024;
            const QByteArrayView name(kind);
            const QByteArray page = name == "text"    ? textPage(bytes)
                                    : name == "table" ? tablePage(bytes)
                                    : name == "web"   ? webPage(bytes)
                                                      : jsonPage(bytes);
            qsizetype pairs = 0;
            const double pairing = fastest([&] { pairs = PairReader::read(page, false).count('\n'); });
            // All that the command line reads behind a page: its pairs and, for HTML, its visible text and that text's.
            const PageReading reading{true, false, kind[0] == 'j' ? "application/json" : "text/html"};
            const double behind = fastest([&] { (void)PageText::pairLines(page, reading); });
            // What a worker does with a reply: the proxy texts of the page and of all behind it.
            const double whole = fastest([&] { (void)PageText::proxyTexts(page, QString(), reading); });
            const double reduction = fastest([&] { (void)PageText::reduced(page, QString()); });
            lastRatio = pairing / reduction;
            lastPerMb = pairing / megabytes;
            std::printf("%-6s %6d %10lld %12.1f %12.1f %12.1f %12.1f %10.2f %7.1fx\n", kind, megabytes,
                        qlonglong(pairs), pairing, behind, whole, reduction, lastPerMb, lastRatio);
        }
    }
    std::printf("bench_pairs: %.2f ms per MB on 64 MB of JSON objects (%.1fx the reduction every page takes)\n",
                lastPerMb, lastRatio);
    return 0;
}
