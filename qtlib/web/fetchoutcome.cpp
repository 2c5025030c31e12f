#include "qtlib/web/fetchoutcome.h"

QString CFetchOutcome::text() const
{
    switch (m_kind) {
    case Pending:
        return QStringLiteral("stopped");
    case Ok:
        return QStringLiteral("ok");
    case HttpStatus:
        return QStringLiteral("http ") + QString::number(m_status);
    case Truncated:
        return QStringLiteral("truncated");
    case Cut:
        return QStringLiteral("reset");
    case TimedOut:
        return QStringLiteral("timed out");
    case Refused:
        return QStringLiteral("refused");
    case NotResolved:
        return QStringLiteral("not resolved");
    case Tls:
        return QStringLiteral("tls: ") + m_detail;
    case RedirectLoop:
        return QStringLiteral("redirect loop");
    case TooManyRedirects:
        return QStringLiteral("too many redirects");
    case NotStored:
        return QStringLiteral("not stored");
    case NetworkError:
        return QStringLiteral("error: ") + m_detail;
    }
    return QString();
}
