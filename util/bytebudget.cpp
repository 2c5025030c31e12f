#include "util/bytebudget.h"

// Sequentially consistent, as the waiter's flag is: a giver that missed the flag went before the waiter's second
// try, which then sees the room (see CurlPages::mayGrow).
bool ByteBudget::tryTake(qint64 bytes)
{
    qint64 held = m_held.load();
    do {
        if (held + bytes > m_limit)
            return false;
    } while (!m_held.compare_exchange_weak(held, held + bytes));
    return true;
}

void ByteBudget::give(qint64 bytes)
{
    if (bytes == 0)
        return;
    m_held.fetch_sub(bytes);
    if (m_released)
        m_released();
}
