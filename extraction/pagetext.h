#pragma once

#include "extraction/pagereading.h"
#include "extraction/pagescanner.h"

#include <QByteArray>
#include <QString>

#include <functional>

// What the extraction reads of a reply: the reply reduced to digits, dots, colons and line ends, so that every proxy
// text stands whole between line ends, and behind it the pairs the reply's structure makes.
class PageText
{
public:
    // The marked site's links carry address and port as query parameters; its reply comes back with each link as
    // "address:port" on a line of its own. Any other host's reply comes back as it is.
    static QByteArray rewritten(const QByteArray& reply, const QString& host);
    // Every byte of `from` that is not a digit, "." or ":" becomes one line feed in `to`, which has room for `size`:
    // the text keeps its length.
    static void reduce(const char* from, qsizetype size, char* to);
    // The reply reduced, after the marked site's rewrite.
    static QByteArray reduced(const QByteArray& reply, const QString& host);
    // What goes behind the reduced reply: with `reading.pairs` a line end and the pairs of its structure, a line each,
    // and for an HTML page its visible text, reduced, and the pairs of that; otherwise nothing.
    static QByteArray pairLines(const QByteArray& reply, const PageReading& reading);
    // The page as the extraction reads it: reduced(), and pairLines() behind it.
    static QByteArray readable(const QByteArray& reply, const QString& host, const PageReading& reading);
    // The proxy texts of a readable page, each once, a line each, in the order they stand.
    static QByteArray proxyTexts(const QByteArray& page);
    // The same as proxyTexts(readable(reply, host, reading)), read part by part.
    static QByteArray proxyTexts(const QByteArray& reply, const QString& host, const PageReading& reading);
    // Each part read behind the reduced reply, in order; pairLines() joins them, each after a line end.
    static void forEachPartBehind(const QByteArray& reply, const PageReading& reading,
                                  const std::function<void(const QByteArray&)>& part);
    // Cut at the size limit, a page may end in the middle of a proxy: the address characters that touch the cut
    // could be half of one, and go.
    static void dropCutAddressRun(QByteArray& reply);

private:
    static PageScanner::Sink textSink(QByteArray& texts);
};
