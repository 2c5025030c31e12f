#include "pool/runclock.h"

#include <QDateTime>

RunClock RunClock::fromEnvironment()
{
    const QString text = qEnvironmentVariable("SIEVRA_CLOCK");
    if (text.isEmpty())
        return RunClock();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    return time.isValid() ? RunClock(time.toSecsSinceEpoch()) : RunClock();
}

qint64 RunClock::now() const
{
    return m_fixed >= 0 ? m_fixed : QDateTime::currentSecsSinceEpoch();
}
