#include "extraction/pagetext.h"

#include "extraction/pagescanner.h"
#include "extraction/pairreader.h"
#include "extraction/proxytext.h"
#include "extraction/visibletext.h"
#include "util/externalhosts.h"

QByteArray PageText::rewritten(const QByteArray& reply, const QString& host)
{
    if (!host.contains(ExternalHosts::rewriteSiteMarker))
        return reply;
    QByteArray text = reply;
    text.replace("&host=", "\r\n");
    text.replace("&port=", ":");
    text.replace("&isSocks", "\r\n");
    return text;
}

void PageText::reduce(const char* from, qsizetype size, char* to)
{
    // Plain comparisons rather than a table, so the compiler can do many bytes at a time.
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(from[i]);
        const bool keep = static_cast<unsigned char>(c - '0') <= ':' - '0' || c == '.';
        to[i] = keep ? static_cast<char>(c) : '\n';
    }
}

QByteArray PageText::reduced(const QByteArray& reply, const QString& host)
{
    const QByteArray text = rewritten(reply, host);
    QByteArray page(text.size(), Qt::Uninitialized);
    reduce(text.constData(), text.size(), page.data());
    return page;
}

QByteArray PageText::pairLines(const QByteArray& reply, const PageReading& reading)
{
    // The pairs go behind the page, a line each, where the scan finds them like any proxy text.
    if (!reading.pairs)
        return QByteArray();
    bool looseAddress = false;
    QByteArray lines = '\n' + PairReader::read(reply, reading.cut, &looseAddress);
    // Markup hides a proxy from the scan only where an address stands apart from its port; a digit never joins an
    // address across markup.
    if (!looseAddress || !VisibleText::isHtml(reply, reading.contentType))
        return lines;
    // What a person reads: a link's text with the port written after the link, a span between address and colon.
    // An attribute's address never meets a number that follows its element.
    const QByteArray visible = VisibleText::of(reply);
    const qsizetype at = lines.size() + 1;
    lines.resize(at + visible.size());
    lines[at - 1] = '\n';
    reduce(visible.constData(), visible.size(), lines.data() + at);
    lines += '\n' + PairReader::read(visible, reading.cut);
    return lines;
}

QByteArray PageText::readable(const QByteArray& reply, const QString& host, const PageReading& reading)
{
    QByteArray page = reduced(reply, host);
    page += pairLines(reply, reading);
    return page;
}

QByteArray PageText::proxyTexts(const QByteArray& page)
{
    QByteArray texts;
    PageScanner::scanWholeProxies(page, [&texts](const char* text, int length, int) {
        texts.append(text, length).append('\n');
        return true;
    });
    return texts;
}

void PageText::dropCutAddressRun(QByteArray& reply)
{
    qsizetype end = reply.size();
    while (end > 0 && ProxyText::isProxyCharacter(reply.at(end - 1)))
        --end;
    reply.truncate(end);
}
