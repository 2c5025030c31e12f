#include "extraction/pagescanner.h"

#include "extraction/proxytext.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <utility>

using namespace ProxyText;

bool PageScanner::scan(QByteArray& page, const Sink& sink)
{
    // Fresh tables: cleared in place, a big page's would cost their whole size for every small page after it.
    m_written = {};
    m_writtenMiddles = {};
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
    if (m_writtenMiddles.count(skeleton.middle) == 0)
        return 0;
    quint32 earliest = 0;
    for (qsizetype lead = 1; lead <= skeleton.leadDigits; ++lead) {
        for (qsizetype port = 2; port <= skeleton.portDigits; ++port) {
            const auto written = m_written.find(skeleton.key(text, lead, port));
            if (written == m_written.end())
                continue;
            const auto next = std::upper_bound(written->second.begin(), written->second.end(), after);
            const quint32 write = next == written->second.end() ? 0 : *next;
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
// are made. Which comes next is kept in a queue of colons by the earliest write each could take; an entry is
// checked when it comes up, as removals since may have changed its colon.
void PageScanner::catchUp(Token& token)
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

bool PageScanner::scanToken(char* text, qsizetype size, const Sink& sink)
{
    Token& token = m_token;
    token.reset(text, size);
    if (!m_written.empty())
        catchUp(token);
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
        m_written[skeleton.key(window.text, skeleton.leadDigits, skeleton.portDigits)].push_back(++m_writes);
        m_writtenMiddles.insert(skeleton.middle);
        char piece[longestProxy];
        std::memcpy(piece, window.text + start, size_t(length));
        // Nothing left of the removed text holds a copy: that copy would have been a match further left. Only
        // a match that runs across the join can start there, and its colon is the character just before it:
        // with a port digit or more before the join, that port ran into the removed proxy's digits and was
        // already a match, left of this one.
        const qsizetype resume = token.previous(window.at[start]);
        changed.clear();
        token.removeEvery(piece, length, changed);
        position = resume >= 0 ? resume : token.next(-1);
    }
}
