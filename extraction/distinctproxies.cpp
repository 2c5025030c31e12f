#include "extraction/distinctproxies.h"

#include "extraction/proxytextset.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

using Key = ProxyTextSet::Key;
using Kind = DistinctProxies::Kind;

// Where each text was last met: its key and its last page side by side in one flat table, so that a look costs one
// miss of the cache. Qt's hash keeps a slot's place, its entry and its free list apart, three misses a new text: the
// extraction of a run of 750,000 proxies spent two thirds of its time there.
class LastPages
{
public:
    explicit LastPages(qsizetype expected = 0) { resize(slotsFor(qMax<qsizetype>(expected, 1024))); }

    qsizetype size() const { return m_size; }
    // Asks for the key's first slot to be fetched into the cache, for a look soon after.
    void prefetch(const Key& key) const { __builtin_prefetch(&m_slots[home(key)]); }
    bool contains(const Key& key) const { return m_slots[place(key)].page != 0; }

    // The kind of the text's meeting on `page`, which becomes its last page.
    Kind meet(const Key& key, int page)
    {
        // Pages are kept one up, so that 0 marks a free slot.
        const auto mark = quint32(page) + 1;
        Slot& slot = m_slots[place(key)];
        if (slot.page == 0) {
            slot.key = key;
            slot.page = mark;
            if (++m_size > m_limit)
                resize(m_slots.size() * 2);
            return DistinctProxies::FirstOfRun;
        }
        const Kind kind = slot.page != mark ? DistinctProxies::FirstOfPage : DistinctProxies::Repeat;
        slot.page = mark;
        return kind;
    }

private:
    struct Slot
    {
        Key key;
        quint32 page = 0;
    };

    // Filled to three quarters at most: the probes stay short.
    static size_t slotsFor(qsizetype texts) { return size_t(texts) / 3 * 4 + 4; }

    // The key's slot, or the free one where it would go: the hash taken to the table's size by a multiplication.
    size_t home(const Key& key) const { return size_t((unsigned __int128)qHash(key) * m_slots.size() >> 64); }

    size_t place(const Key& key) const
    {
        const size_t count = m_slots.size();
        size_t at = home(key);
        while (m_slots[at].page != 0 && !(m_slots[at].key == key))
            at = at + 1 == count ? 0 : at + 1;
        return at;
    }

    void resize(size_t count)
    {
        std::vector<Slot> old(count);
        old.swap(m_slots);
        m_limit = qsizetype(count) / 4 * 3;
        for (const Slot& slot : old)
            if (slot.page != 0)
                m_slots[place(slot.key)] = slot;
    }

    std::vector<Slot> m_slots;
    qsizetype m_size = 0;
    qsizetype m_limit = 0;
};

// A text of the first walk waiting to be met, copied: the walk's own text is gone once the visit returns. A text
// with a key is short enough to be kept here.
struct WaitingText
{
    qint64 at = 0;
    int page = 0;
    int length = 0;
    int colon = 0;
    Key key;
    char text[ProxyTextSet::longestKeyed];

    void set(qint64 place, int onPage, const Key& textKey, const char* from, int size, int colonAt)
    {
        at = place;
        page = onPage;
        key = textKey;
        length = size;
        colon = colonAt;
        std::memcpy(text, from, size_t(size));
    }
};

// The texts waiting, oldest first.
class WaitingTexts
{
public:
    bool empty() const { return m_count == 0; }
    bool full() const { return m_count == capacity; }
    WaitingText& push() { return m_texts[(m_first + m_count++) % capacity]; }
    const WaitingText& pop()
    {
        const WaitingText& oldest = m_texts[m_first];
        m_first = (m_first + 1) % capacity;
        --m_count;
        return oldest;
    }

private:
    static constexpr size_t capacity = 16;
    std::array<WaitingText, capacity> m_texts;
    size_t m_first = 0;
    size_t m_count = 0;
};

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
    LastPages lastPage(qMin(m_expected, m_capacity));
    qint64 index = 0;
    qint64 cut = -1; // the first text past the capacity
    m_walks = 1;
    // The first walk's texts are met a few texts after they come, their slots fetched meanwhile: one look at the
    // table waits for the memory, and the looks of the texts behind it no longer wait in turn. Told in order all the
    // same.
    WaitingTexts waiting;
    const auto meetFirst = [&](const WaitingText& text) {
        if (cut >= 0)
            return true; // counted only
        if (lastPage.size() >= m_capacity && !lastPage.contains(text.key)) {
            cut = text.at;
            return true;
        }
        const Kind kind = lastPage.meet(text.key, text.page);
        return kind == Repeat || told(text.page, text.text, text.length, text.colon, kind);
    };
    const auto meetWaiting = [&] {
        while (!waiting.empty())
            if (!meetFirst(waiting.pop()))
                return false;
        return true;
    };
    // Each text waits its turn behind the texts read just before it, while its slot is fetched.
    const auto visitFirst = [&](int page, const char* text, int length, int colon) {
        const qint64 at = index++;
        if (cut >= 0)
            return true; // counted only
        Key key;
        if (!ProxyTextSet::keyOf(text, length, &key)) {
            // A text too long for a key (no proxy text is) is always its own, told in its turn.
            return meetWaiting() && (cut >= 0 || told(page, text, length, colon, FirstOfRun));
        }
        lastPage.prefetch(key);
        waiting.push().set(at, page, key, text, length, colon);
        return !waiting.full() || meetFirst(waiting.pop());
    };
    const bool walked = walk(visitFirst) && meetWaiting();
    if (!walked || cut < 0)
        return walked;

    // Each share holds about the capacity's worth of texts at most.
    const qint64 past = index - cut;
    const qint64 distinctAtMost = lastPage.size() + past;
    const auto shares = size_t((distinctAtMost + m_capacity - 1) / m_capacity);
    Kinds kinds(past);
    for (size_t share = 0; share < shares; ++share) {
        lastPage = LastPages();
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
            const Kind kind = lastPage.meet(key, page);
            if (at >= cut)
                kinds.set(at - cut, kind);
            return true;
        });
        if (!sharesWalked)
            return false;
    }
    lastPage = LastPages();
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
