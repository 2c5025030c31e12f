#include "extraction/pagescanner.h"

#include "extraction/proxytext.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <utility>

using namespace ProxyText;

namespace {

// Removes every copy of `piece` from `from` on, left to right without overlaps, as a replace-all does.
qsizetype removeEvery(char* text, qsizetype size, qsizetype from, const char* piece, qsizetype length)
{
    qsizetype out = from;
    qsizetype in = from;
    for (;;) {
        const void* hit = memmem(text + in, size_t(size - in), piece, size_t(length));
        if (!hit)
            break;
        const qsizetype at = static_cast<const char*>(hit) - text;
        std::memmove(text + out, text + in, size_t(at - in));
        out += at - in;
        in = at + length;
    }
    std::memmove(text + out, text + in, size_t(size - in));
    return out + size - in;
}

} // namespace

bool PageScanner::scan(QByteArray& page, const Sink& sink)
{
    m_written.clear(page.size());
    m_writes = 0;
    char* text = page.data();
    const qsizetype size = page.size();
    qsizetype from = 0;
    Skeleton skeleton;
    // Tokens without a single proxy text are neither changed by removals nor hold a match: skipped.
    while (nextSkeleton(text, size, from, skeleton)) {
        qsizetype begin = skeleton.matchStart();
        while (begin > 0 && isProxyCharacter(text[begin - 1]))
            --begin;
        qsizetype end = skeleton.colon + 1;
        while (end < size && isProxyCharacter(text[end]))
            ++end;
        if (!scanToken(text + begin, end - begin, sink))
            return false;
        from = end;
    }
    return true;
}

// The earliest write after `after` of a proxy text through this colon, 0 when none; its text goes to `piece`.
quint32 PageScanner::earliestWrite(const char* text, const Skeleton& skeleton, quint32 after, char* piece,
                                   qsizetype& pieceLength) const
{
    if (!m_written.mayHoldMiddle(skeleton.middle))
        return 0;
    quint32 earliest = 0;
    for (qsizetype lead = 1; lead <= skeleton.leadDigits; ++lead) {
        for (qsizetype port = 2; port <= skeleton.portDigits; ++port) {
            const quint32 write = m_written.writeAfter(skeleton.key(text, lead, port), after);
            if (write != 0 && (earliest == 0 || write < earliest)) {
                earliest = write;
                pieceLength = skeleton.colon + 1 + port - (skeleton.firstDot - lead);
                std::memcpy(piece, text + skeleton.firstDot - lead, size_t(pieceLength));
            }
        }
    }
    return earliest;
}

// Applies the removals made so far, in their order, to a token the search has not reached before. A removal
// that finds no copy in the token changes nothing, so only those whose text the token holds at that moment
// are made: repeatedly the earliest one after the last made.
qsizetype PageScanner::catchUp(char* token, qsizetype size)
{
    quint32 lastWrite = 0;
    for (;;) {
        quint32 nextWrite = 0;
        char piece[longestProxy];
        qsizetype pieceLength = 0;
        Skeleton skeleton;
        for (qsizetype from = 0; nextSkeleton(token, size, from, skeleton); from = skeleton.colon + 1) {
            char candidate[longestProxy];
            qsizetype candidateLength = 0;
            const quint32 write = earliestWrite(token, skeleton, lastWrite, candidate, candidateLength);
            if (write != 0 && (nextWrite == 0 || write < nextWrite)) {
                nextWrite = write;
                pieceLength = candidateLength;
                std::memcpy(piece, candidate, size_t(pieceLength));
            }
        }
        if (nextWrite == 0)
            return size;
        size = removeEvery(token, size, 0, piece, pieceLength);
        lastWrite = nextWrite;
    }
}

bool PageScanner::scanToken(char* token, qsizetype size, const Sink& sink)
{
    if (size > m_longToken)
        return scanLongToken(token, size, sink);
    if (!m_written.isEmpty())
        size = catchUp(token, size);
    Skeleton skeleton;
    qsizetype from = 0;
    while (size >= shortestProxy && nextSkeleton(token, size, from, skeleton)) {
        const qsizetype start = skeleton.matchStart();
        const qsizetype length = skeleton.matchLength();
        if (!sink(token + start, int(length), int(skeleton.colon - start)))
            return false;
        m_written.add(skeleton.key(token, skeleton.leadDigits, skeleton.portDigits), skeleton.middle, ++m_writes);
        // Nothing left of `start` holds a copy: that copy would have been a match further left.
        char piece[longestProxy];
        std::memcpy(piece, token + start, size_t(length));
        size = removeEvery(token, size, start, piece, length);
        // Only a match that runs across the join can start left of the removed text, and its colon is the
        // character just before it: with a port digit or more before the join, that port ran into the removed
        // proxy's digits and was already a match, left of this one.
        from = std::max<qsizetype>(0, start - 1);
    }
    return true;
}

// The same replay for a long token. Which removal comes next is kept in a queue of colons by the earliest
// write each could take; an entry is checked when it comes up, as removals since may have changed its colon.
void PageScanner::catchUpLong(Token& token)
{
    using Entry = std::pair<quint32, qsizetype>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    Token::Window window;
    char piece[longestProxy];
    qsizetype pieceLength = 0;
    const auto enqueue = [&](qsizetype colon, quint32 after) {
        if (!token.isRemoved(colon) && token.windowAt(colon, window)) {
            const quint32 write = earliestWrite(window.text, window.skeleton, after, piece, pieceLength);
            if (write != 0)
                queue.emplace(write, colon);
        }
    };
    for (const qsizetype colon : token.proxyColons())
        enqueue(colon, 0);

    quint32 lastWrite = 0;
    std::vector<qsizetype> changed;
    while (!queue.empty()) {
        const auto [queued, colon] = queue.top();
        queue.pop();
        if (token.isRemoved(colon) || !token.windowAt(colon, window))
            continue;
        const quint32 write = earliestWrite(window.text, window.skeleton, lastWrite, piece, pieceLength);
        if (write == 0)
            continue;
        // Entries only ever rise, so one still right is the earliest of all.
        if (write != queued) {
            queue.emplace(write, colon);
            continue;
        }
        lastWrite = write;
        changed.clear();
        token.removeEvery(piece, pieceLength, changed);
        for (const qsizetype joined : changed)
            enqueue(joined, lastWrite);
    }
}

bool PageScanner::scanLongToken(char* text, qsizetype size, const Sink& sink)
{
    Token& token = m_token;
    token.reset(text, size);
    if (!m_written.isEmpty())
        catchUpLong(token);
    Token::Window window;
    std::vector<qsizetype> changed;
    qsizetype position = token.next(-1);
    for (;;) {
        while (position < size && !(token.isColon(position) && token.windowAt(position, window)))
            position = token.next(position);
        if (position >= size)
            return true;
        const Skeleton& skeleton = window.skeleton;
        const qsizetype start = skeleton.matchStart();
        const qsizetype length = skeleton.matchLength();
        if (!sink(window.text + start, int(length), int(skeleton.colon - start)))
            return false;
        m_written.add(skeleton.key(window.text, skeleton.leadDigits, skeleton.portDigits), skeleton.middle, ++m_writes);
        char piece[longestProxy];
        std::memcpy(piece, window.text + start, size_t(length));
        // The search goes on at the character before the removed text, as for a short token.
        const qsizetype resume = token.previous(window.at[start]);
        changed.clear();
        token.removeEvery(piece, length, changed);
        position = resume >= 0 ? resume : token.next(-1);
    }
}

bool PageScanner::scanWholeProxies(const QByteArray& page, const Sink& sink)
{
    ProxyTextSet written;
    written.reserve(page.size() / 64); // a proxy-list row holds one in about 130 bytes
    return scanWholeProxies(page, written, sink);
}

bool PageScanner::scanWholeProxies(const QByteArray& page, ProxyTextSet& written, const Sink& sink)
{
    return scanEveryProxy(page, [&written, &sink](const char* text, int length, int colon) {
        return !written.insert(text, length) || sink(text, length, colon);
    });
}

bool PageScanner::scanEveryProxy(const QByteArray& page, const Sink& sink)
{
    // From colon to colon rather than from digit to digit: every proxy holds one colon, and the match that starts
    // leftmost is the one through the first colon that can end an address, since no address holds a colon. The
    // search for the next one looks no further back than where the last one ended.
    const char* data = page.constData();
    const qsizetype size = page.size();
    Skeleton skeleton;
    for (qsizetype at = 0; at < size && nextSkeleton(data + at, size - at, 0, skeleton);) {
        const qsizetype start = at + skeleton.matchStart();
        const auto length = int(skeleton.matchLength());
        if (!sink(data + start, length, int(skeleton.colon - skeleton.matchStart())))
            return false;
        at = start + length;
    }
    return true;
}
