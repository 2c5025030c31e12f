#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

// Bytes of pages held in memory at once, shared by everyone who holds them: the fetches under way, the replies
// waiting to be read and the pages kept for the extraction. A page past the budget waits its turn or goes to the
// disk; whatever the pages, what a harvest holds stays within the budget and one page more. Thread-safe.
class ByteBudget
{
public:
    explicit ByteBudget(qint64 limit) : m_limit(limit) {}

    // Takes the bytes when they fit in what is left; false, and nothing taken, when they do not.
    bool tryTake(qint64 bytes);
    // Takes the bytes whether or not they fit: for what is held already, or must go on so that anything does.
    void take(qint64 bytes) { m_held.fetch_add(bytes); }
    // Gives bytes back, then tells whoever waits for room (on the giver's thread).
    void give(qint64 bytes);
    qint64 held() const { return m_held.load(); }
    qint64 limit() const { return m_limit; }
    // Set before anyone takes or gives.
    void setReleased(std::function<void()> released) { m_released = std::move(released); }

private:
    std::atomic<qint64> m_held{0};
    const qint64 m_limit;
    std::function<void()> m_released;
};
