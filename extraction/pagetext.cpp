#include "extraction/pagetext.h"

#include "extraction/pagescanner.h"
#include "extraction/pairreader.h"
#include "extraction/proxytext.h"
#include "extraction/proxytextset.h"
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

// What is read behind the reduced reply, part by part: the pairs of its structure and, for an HTML page, its visible
// text reduced and the pairs of that.
void PageText::forEachPartBehind(const QByteArray& reply, const PageReading& reading,
                                 const std::function<void(const QByteArray&)>& part)
{
    if (!reading.pairs)
        return;
    bool looseAddress = false;
    part(PairReader::read(reply, reading.cut, &looseAddress));
    // Markup hides a proxy from the scan only where an address stands apart from its port; a digit never joins an
    // address across markup.
    if (!looseAddress || !VisibleText::isHtml(reply, reading.contentType))
        return;
    // What a person reads: a link's text with the port written after the link, a span between address and colon.
    // An attribute's address never meets a number that follows its element.
    QByteArray visible = VisibleText::of(reply);
    const QByteArray pairs = PairReader::read(visible, reading.cut);
    reduce(visible.constData(), visible.size(), visible.data());
    part(visible);
    part(pairs);
}

QByteArray PageText::pairLines(const QByteArray& reply, const PageReading& reading)
{
    // The parts go behind the page, each after a line end, where the scan finds them like any proxy text.
    QByteArray lines;
    forEachPartBehind(reply, reading, [&lines](const QByteArray& part) { lines.append('\n').append(part); });
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
    ProxyTextSet written;
    QByteArray texts;
    PageScanner::scanWholeProxies(page, written, textSink(texts));
    return texts;
}

QByteArray PageText::proxyTexts(const QByteArray& reply, const QString& host, const PageReading& reading)
{
    // Part by part, with one set: the same texts as of the readable page, without putting it together. The set only
    // saves room (the extraction passes over a page's repeats itself), so it stops growing where a page names millions.
    ProxyTextSet written(qsizetype(1) << 20);
    written.reserve(reply.size() / 64);
    QByteArray texts;
    const PageScanner::Sink sink = textSink(texts);
    PageScanner::scanWholeProxies(reduced(reply, host), written, sink);
    forEachPartBehind(reply, reading,
                      [&](const QByteArray& part) { PageScanner::scanWholeProxies(part, written, sink); });
    return texts;
}

PageScanner::Sink PageText::textSink(QByteArray& texts)
{
    return [&texts](const char* text, int length, int) {
        texts.append(text, length).append('\n');
        return true;
    };
}

void PageText::dropCutAddressRun(QByteArray& reply)
{
    qsizetype end = reply.size();
    while (end > 0 && ProxyText::isProxyCharacter(reply.at(end - 1)))
        --end;
    reply.truncate(end);
}
