#include "extraction/token.h"

#include <algorithm>
#include <utility>

using namespace ProxyText;

namespace {

// Stretch lengths take five bytes at each end, as a stretch is at least ten long: a run of any size fits.
constexpr int lengthBytes = 5;

qsizetype readLength(const char* at)
{
    quint64 length = 0;
    for (int i = lengthBytes - 1; i >= 0; --i)
        length = length << 8 | quint8(at[i]);
    return qsizetype(length);
}

void writeLength(char* at, qsizetype length)
{
    for (int i = 0; i < lengthBytes; ++i)
        at[i] = char(quint64(length) >> (8 * i));
}

} // namespace

void Token::reset(char* text, qsizetype size)
{
    m_text = text;
    m_size = size;
    m_removed.assign(size_t(size + 63) / 64, 0);
    m_proxyColons.clear();
    m_byMiddle.clear();
    // Cleared in place, a table once grown would cost its whole size for every run after it.
    if (!m_joinedByMiddle.empty())
        m_joinedByMiddle = {};
    Skeleton skeleton;
    for (qsizetype from = 0; nextSkeleton(text, size, from, skeleton); from = skeleton.colon + 1) {
        m_proxyColons.push_back(skeleton.colon);
        m_byMiddle.emplace_back(skeleton.middle, skeleton.colon);
    }
    std::sort(m_byMiddle.begin(), m_byMiddle.end());
}

qsizetype Token::next(qsizetype i) const
{
    const qsizetype j = i + 1;
    if (j < m_size && isRemoved(j))
        return j + readLength(m_text + j);
    return j;
}

qsizetype Token::previous(qsizetype i) const
{
    const qsizetype j = i - 1;
    if (j >= 0 && isRemoved(j))
        return j - readLength(m_text + j - (lengthBytes - 1));
    return j;
}

void Token::colonsWithMiddle(quint64 middle, std::vector<qsizetype>& colons)
{
    colons.clear();
    auto first = std::lower_bound(m_byMiddle.begin(), m_byMiddle.end(), ByMiddle(middle, -1));
    for (auto entry = first; entry != m_byMiddle.end() && entry->first == middle; ++entry)
        colons.push_back(entry->second);
    const auto [joinedFirst, joinedEnd] = m_joinedByMiddle.equal_range(middle);
    for (auto entry = joinedFirst; entry != joinedEnd; ++entry)
        colons.push_back(entry->second);
    std::sort(colons.begin(), colons.end());
    colons.erase(std::unique(colons.begin(), colons.end()), colons.end());
}

bool Token::windowAt(qsizetype colon, Window& window) const
{
    qsizetype back[Window::reachBack];
    int backCount = 0;
    for (qsizetype i = previous(colon); i >= 0 && backCount < Window::reachBack; i = previous(i))
        back[backCount++] = i;
    int size = 0;
    while (backCount > 0) {
        const qsizetype i = back[--backCount];
        window.text[size] = m_text[i];
        window.at[size++] = i;
    }
    const int colonInWindow = size;
    window.text[size] = ':';
    window.at[size++] = colon;
    for (qsizetype i = next(colon); i < m_size && size < int(sizeof window.text); i = next(i)) {
        window.text[size] = m_text[i];
        window.at[size++] = i;
    }
    return skeletonAt(window.text, size, colonInWindow, window.skeleton);
}

void Token::removeEvery(const char* piece, qsizetype length, std::vector<qsizetype>& changed)
{
    Skeleton own;
    const qsizetype pieceColon = qsizetype(std::find(piece, piece + length, ':') - piece);
    if (!skeletonAt(piece, length, pieceColon, own))
        return;

    // Every copy goes through a colon with the same middle groups.
    std::vector<qsizetype>& colons = m_colons;
    colonsWithMiddle(own.middle, colons);
    std::vector<std::pair<qsizetype, qsizetype>>& copies = m_copies;
    copies.clear();
    Window window;
    for (const qsizetype colon : colons) {
        if (isRemoved(colon) || !windowAt(colon, window) || window.skeleton.middle != own.middle)
            continue;
        const Skeleton& found = window.skeleton;
        if (found.leadDigits < own.leadDigits || found.portDigits < own.portDigits)
            continue;
        const qsizetype start = found.firstDot - own.leadDigits;
        if (std::memcmp(window.text + start, piece, size_t(length)) == 0)
            copies.emplace_back(window.at[start], window.at[start + length - 1]);
    }

    // What a replace-all removes: copies left to right, each starting behind the last one removed.
    qsizetype removedUpTo = -1;
    for (const auto& [first, last] : copies) {
        if (first <= removedUpTo)
            continue;
        removeStretch(first, last, changed);
        removedUpTo = last;
    }
}

void Token::removeStretch(qsizetype first, qsizetype last, std::vector<qsizetype>& changed)
{
    const qsizetype before = previous(first);
    const qsizetype after = next(last);
    markRemoved(first, last);
    // Everything between `before` and `after` is removed now, older stretches included.
    const qsizetype length = after - before - 1;
    writeLength(m_text + before + 1, length);
    writeLength(m_text + after - lengthBytes, length);

    // The join can change the proxy texts of colons up to five characters before it and sixteen after it.
    qsizetype from = before < 0 ? after : before;
    for (int i = 0; i < Window::reachAhead && previous(from) >= 0; ++i)
        from = previous(from);
    qsizetype to = after;
    for (int i = 0; i < Window::reachBack && to < m_size; ++i)
        to = next(to);
    Window window;
    for (qsizetype i = from; i < m_size; i = next(i)) {
        if (isColon(i) && windowAt(i, window)) {
            m_joinedByMiddle.emplace(window.skeleton.middle, i);
            changed.push_back(i);
        }
        if (i >= to)
            break;
    }
}

// Only the characters still there are marked: older stretches inside are stepped over.
void Token::markRemoved(qsizetype first, qsizetype last)
{
    for (qsizetype i = first;; i = next(i)) {
        m_removed[size_t(i) >> 6] |= quint64(1) << (i & 63);
        if (i == last)
            return;
    }
}
