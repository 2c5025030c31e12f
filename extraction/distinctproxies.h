#pragma once

#include <QtGlobal>

#include <functional>

// Which of a run's proxy texts, met page by page in order, are the first of their page and which the first of the
// run, in bounded memory. Up to `capacity` distinct texts are remembered as they come. Past that, the rest of the run
// is told after walks over its pages again, each remembering one share of the texts (by their key's hash) and
// keeping two bits a text of what it found; then one more walk tells them. Only pages that name millions of other
// proxies need those walks.
class DistinctProxies
{
public:
    enum Kind : quint8 { Repeat = 0, FirstOfPage = 1, FirstOfRun = 3 };
    // Gets each proxy text of the run's pages with its page's place (from 0, in order); false ends the walk.
    using Visit = std::function<bool(int page, const char* text, int length, int colon)>;
    // Calls the visit for every proxy text of the run's pages, in the same order each time; false when it was ended.
    using Walk = std::function<bool(const Visit& visit)>;
    // Gets each text that is the first of its page or of the run, in order, with its kind; false ends the telling.
    using Told = std::function<bool(int page, const char* text, int length, int colon, Kind kind)>;

    explicit DistinctProxies(qsizetype capacity) : m_capacity(qMax<qsizetype>(capacity, 1)) {}

    // About how many texts the walks will meet, where the caller can tell: the memory for them is taken at once rather
    // than grown, which took a run's extraction twice as long on pages of hundreds of thousands of proxies.
    void expect(qsizetype texts) { m_expected = texts; }
    // False when the walk or `told` ended it.
    bool tell(const Walk& walk, const Told& told);
    // The walks the last tell() took: 1 while the texts fit the capacity.
    int walks() const { return m_walks; }

private:
    const qsizetype m_capacity;
    qsizetype m_expected = 0;
    int m_walks = 0;
};
