#pragma once

#include "extraction/proxytext.h"

#include <unordered_map>
#include <vector>

// A run of proxy characters as the extraction works through it. Removed characters are marked instead of
// closing the gap, so a removal costs its own length whatever the run's length, and the proxy texts of the run
// are indexed by their middle groups, so the copies of a written proxy are found without searching the run.
class Token
{
public:
    // The proxy texts through one colon, gathered from the characters still there: the sixteen before the
    // colon, the colon and five after it are all a proxy text can reach.
    struct Window
    {
        static constexpr int reachBack = 16;
        static constexpr int reachAhead = 5;
        char text[reachBack + 1 + reachAhead];
        qsizetype at[reachBack + 1 + reachAhead]; // where each character is in the run
        ProxyText::Skeleton skeleton;             // positions in text
    };

    // Takes a new run; the buffers of the last are kept, as most runs are a proxy or two long.
    void reset(char* text, qsizetype size);

    qsizetype size() const { return m_size; }
    bool isRemoved(qsizetype i) const { return (m_removed[size_t(i) >> 6] >> (i & 63)) & 1; }
    bool isColon(qsizetype i) const { return m_text[i] == ':'; }
    // The next character still there after `i` (-1 for the first), or size() at the end.
    qsizetype next(qsizetype i) const;
    // The character still there before `i`, or -1.
    qsizetype previous(qsizetype i) const;

    // The colons that end proxy texts before anything is removed.
    const std::vector<qsizetype>& proxyColons() const { return m_proxyColons; }
    // False when the colon at `colon` ends no proxy text.
    bool windowAt(qsizetype colon, Window& window) const;

    // Removes every copy of `piece`, left to right without overlaps, as a replace-all does. The colons whose
    // proxy texts may have changed by a join are added to `changed`.
    void removeEvery(const char* piece, qsizetype length, std::vector<qsizetype>& changed);

private:
    using ByMiddle = std::pair<quint64, qsizetype>; // middle groups, colon

    void removeStretch(qsizetype first, qsizetype last, std::vector<qsizetype>& changed);
    void markRemoved(qsizetype first, qsizetype last);
    void colonsWithMiddle(quint64 middle, std::vector<qsizetype>& colons);

    char* m_text = nullptr;
    qsizetype m_size = 0;
    // One bit a character. A removed stretch is at least a proxy long (ten characters), room enough to keep its
    // length in its first and last five bytes, so a walk steps over it at once.
    std::vector<quint64> m_removed;
    // Colons by the middle groups of their proxy texts: those of the first look sorted, those joins made since
    // apart. Entries a removal made stale are dropped when read.
    std::vector<ByMiddle> m_byMiddle;
    std::unordered_multimap<quint64, qsizetype> m_joinedByMiddle;
    std::vector<qsizetype> m_proxyColons;
    std::vector<qsizetype> m_colons;
    std::vector<std::pair<qsizetype, qsizetype>> m_copies;
};
