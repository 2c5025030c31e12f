#include "util/bytebudget.h"

bool ByteBudget::tryTake(qint64 bytes)
{
    qint64 held = m_held.load(std::memory_order_relaxed);
    do {
        if (held + bytes > m_limit)
            return false;
    } while (!m_held.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
    return true;
}

void ByteBudget::give(qint64 bytes)
{
    if (bytes == 0)
        return;
    m_held.fetch_sub(bytes, std::memory_order_relaxed);
    if (m_released)
        m_released();
}
