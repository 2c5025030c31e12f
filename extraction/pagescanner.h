#pragma once

#include "extraction/proxytextset.h"

#include "extraction/token.h"
#include "extraction/writtenproxies.h"

#include <QByteArray>

#include <functional>
#include <vector>

// Finds the proxies of one stored page in the order the extraction writes them. The rule it follows: take
// the leftmost "a.b.c.d:port" text (each digit group as long as it may be), write it, remove every copy of
// it from the page, and search the shortened page again from its start. Removals can join the text on both
// sides into a new proxy, and that one is then found like any other.
//
// Doing that literally costs the page length for every proxy. This does the same work in one pass:
// - a proxy never holds anything but digits, dots and one colon, so a page falls into independent runs
//   of those characters ("tokens") that removals never merge;
// - everything left of a found proxy has no match and never gets one, so the search goes on at most one
//   proxy's length to the left of the last one instead of at the page's start;
// - a token further on is only touched by the removals made before the search reaches it, so those are
//   replayed on it, in their order, when the search gets there, instead of being applied to the whole page;
// - within a long token, removals are marked rather than closed up and the copies of a written proxy are
//   found through an index, not by a search (Token).
// A short token is closed up after each removal instead, and the written proxies are kept in a table of our
// own: with one way for every token and the standard hash tables, the extraction took half as long again on
// pages of proxy-list rows, and a command-line harvest of 1 MB pages a fifth longer (bench_web).
class PageScanner
{
public:
    // Tokens longer than `longToken` take the marked way; tests and the fuzz target set it to reach both.
    explicit PageScanner(qsizetype longToken = 2048) : m_longToken(longToken) {}

    // Gets each proxy (the text points into the page and is only valid during the call) and the index of its
    // colon. Returning false ends the scan.
    using Sink = std::function<bool(const char* text, int length, int colon)>;

    // Scans one page in place (its content is used up); false when the sink ended the scan.
    bool scan(QByteArray& page, const Sink& sink);
    // The command line's rule: each proxy text of the page once, in the order they stand; a written proxy takes
    // only its own copies with it, so nothing is joined anew.
    static bool scanWholeProxies(const QByteArray& page, const Sink& sink);
    // The same, passing over the texts `written` holds already and adding those it meets.
    static bool scanWholeProxies(const QByteArray& page, ProxyTextSet& written, const Sink& sink);
    // Every proxy text of the page, repeats too, in the order they stand.
    static bool scanEveryProxy(const QByteArray& page, const Sink& sink);

private:
    qsizetype catchUp(char* token, qsizetype size);
    bool scanToken(char* token, qsizetype size, const Sink& sink);
    void catchUpLong(Token& token);
    bool scanLongToken(char* token, qsizetype size, const Sink& sink);
    quint32 earliestWrite(const char* text, const ProxyText::Skeleton& skeleton, quint32 after, char* piece,
                          qsizetype& pieceLength) const;

    qsizetype m_longToken;
    Token m_token;
    // The writes of each proxy of the page so far, numbered from 1, by its packed text: later removals can
    // join a written text anew.
    WrittenProxies m_written;
    quint32 m_writes = 0;
};
