#include "extraction/longtoken.h"

#include <algorithm>
#include <utility>

using namespace ProxyText;

namespace {

qint32 readLength(const char* at)
{
    qint32 length;
    std::memcpy(&length, at, sizeof length);
    return length;
}

void writeLength(char* at, qint32 length)
{
    std::memcpy(at, &length, sizeof length);
}

} // namespace

LongToken::LongToken(char* text, qsizetype size) : m_text(text), m_size(size), m_removed(size_t(size + 63) / 64, 0)
{
    Skeleton skeleton;
    for (qsizetype from = 0; nextSkeleton(text, size, from, skeleton); from = skeleton.colon + 1) {
        m_proxyColons.push_back(skeleton.colon);
        m_families.emplace_back(skeleton.innerCode, skeleton.colon);
    }
    std::sort(m_families.begin(), m_families.end());
}

qsizetype LongToken::next(qsizetype i) const
{
    const qsizetype j = i + 1;
    if (j < m_size && isRemoved(j))
        return j + readLength(m_text + j);
    return j;
}

qsizetype LongToken::previous(qsizetype i) const
{
    const qsizetype j = i - 1;
    if (j >= 0 && isRemoved(j))
        return j - readLength(m_text + j - 3);
    return j;
}

void LongToken::collectFamily(quint64 family, std::vector<qsizetype>& colons)
{
    colons.clear();
    auto first = std::lower_bound(m_families.begin(), m_families.end(), Family(family, -1));
    for (auto entry = first; entry != m_families.end() && entry->first == family; ++entry)
        colons.push_back(entry->second);
    const auto [joinedFirst, joinedEnd] = m_joinedFamilies.equal_range(family);
    for (auto entry = joinedFirst; entry != joinedEnd; ++entry)
        colons.push_back(entry->second);
    std::sort(colons.begin(), colons.end());
    colons.erase(std::unique(colons.begin(), colons.end()), colons.end());
}

bool LongToken::windowAt(qsizetype colon, Window& window) const
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

void LongToken::removeEvery(const char* piece, qsizetype length, std::vector<qsizetype>& changed)
{
    Skeleton own;
    const qsizetype pieceColon = qsizetype(std::find(piece, piece + length, ':') - piece);
    if (!skeletonAt(piece, length, pieceColon, own))
        return;

    // Every copy goes through a colon of the same family.
    std::vector<qsizetype> colons;
    collectFamily(own.innerCode, colons);
    std::vector<std::pair<qsizetype, qsizetype>> copies;
    Window window;
    for (const qsizetype colon : colons) {
        if (isRemoved(colon) || !windowAt(colon, window) || window.skeleton.innerCode != own.innerCode)
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

void LongToken::removeStretch(qsizetype first, qsizetype last, std::vector<qsizetype>& changed)
{
    const qsizetype before = previous(first);
    const qsizetype after = next(last);
    markRemoved(first, last);
    // Everything between `before` and `after` is removed now, older stretches included.
    const qint32 length = qint32(after - before - 1);
    writeLength(m_text + before + 1, length);
    writeLength(m_text + after - 4, length);

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
            m_joinedFamilies.emplace(window.skeleton.innerCode, i);
            changed.push_back(i);
        }
        if (i >= to)
            break;
    }
}

// Only the characters still there are marked: older stretches inside are stepped over.
void LongToken::markRemoved(qsizetype first, qsizetype last)
{
    for (qsizetype i = first;; i = next(i)) {
        m_removed[size_t(i) >> 6] |= quint64(1) << (i & 63);
        if (i == last)
            return;
    }
}
