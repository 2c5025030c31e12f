#include "extraction/distinctproxies.h"

#include "extraction/proxytextset.h"

#include <QHash>

#include <vector>

namespace {

using Key = ProxyTextSet::Key;
using Kind = DistinctProxies::Kind;

// Where each text was last met: the kind of its meeting on `page`, which becomes its last page.
Kind meet(QHash<Key, int>& lastPage, const Key& key, int page)
{
    const auto found = lastPage.find(key);
    if (found == lastPage.end()) {
        lastPage.insert(key, page);
        return DistinctProxies::FirstOfRun;
    }
    const Kind kind = found.value() != page ? DistinctProxies::FirstOfPage : DistinctProxies::Repeat;
    found.value() = page;
    return kind;
}

// Two bits a text.
class Kinds
{
public:
    explicit Kinds(qint64 count) : m_bits(size_t((count * 2 + 63) / 64)) {}
    void set(qint64 at, Kind kind) { m_bits[size_t(at / 32)] |= quint64(kind) << (at % 32 * 2); }
    Kind at(qint64 at) const { return Kind((m_bits[size_t(at / 32)] >> (at % 32 * 2)) & 3); }

private:
    std::vector<quint64> m_bits;
};

} // namespace

bool DistinctProxies::tell(const Walk& walk, const Told& told)
{
    QHash<Key, int> lastPage;
    qint64 index = 0;
    qint64 cut = -1; // the first text past the capacity
    m_walks = 1;
    const bool walked = walk([&](int page, const char* text, int length, int colon) {
        const qint64 at = index++;
        if (cut >= 0)
            return true; // counted only
        Key key;
        // A text too long for a key (no proxy text is) is always its own.
        if (!ProxyTextSet::keyOf(text, length, &key))
            return told(page, text, length, colon, FirstOfRun);
        if (lastPage.size() >= m_capacity && !lastPage.contains(key)) {
            cut = at;
            return true;
        }
        const Kind kind = meet(lastPage, key, page);
        return kind == Repeat || told(page, text, length, colon, kind);
    });
    if (!walked || cut < 0)
        return walked;

    // Each share holds about the capacity's worth of texts at most.
    const qint64 past = index - cut;
    const qint64 distinctAtMost = lastPage.size() + past;
    const auto shares = size_t((distinctAtMost + m_capacity - 1) / m_capacity);
    Kinds kinds(past);
    for (size_t share = 0; share < shares; ++share) {
        lastPage = QHash<Key, int>();
        index = 0;
        ++m_walks;
        const bool sharesWalked = walk([&](int page, const char* text, int length, int) {
            const qint64 at = index++;
            Key key;
            if (!ProxyTextSet::keyOf(text, length, &key)) {
                if (at >= cut)
                    kinds.set(at - cut, FirstOfRun);
                return true;
            }
            if (qHash(key) % shares != share)
                return true;
            const Kind kind = meet(lastPage, key, page);
            if (at >= cut)
                kinds.set(at - cut, kind);
            return true;
        });
        if (!sharesWalked)
            return false;
    }
    lastPage = QHash<Key, int>();
    index = 0;
    ++m_walks;
    return walk([&](int page, const char* text, int length, int colon) {
        const qint64 at = index++;
        if (at < cut)
            return true;
        const Kind kind = kinds.at(at - cut);
        return kind == Repeat || told(page, text, length, colon, kind);
    });
}
