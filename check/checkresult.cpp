#include "check/checkresult.h"

#include <QStringList>

QString CheckResult::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Stopped:
        return QStringLiteral("stopped");
    case Working:
        return QStringLiteral("working");
    case Liar:
        return QStringLiteral("liar");
    case NeedsCredentials:
        return QStringLiteral("needs credentials");
    case CredentialsRefused:
        return QStringLiteral("credentials refused");
    case Unreachable:
        return QStringLiteral("unreachable");
    case Reset:
        return QStringLiteral("reset");
    case ProtocolError:
        return QStringLiteral("protocol error");
    case TimedOut:
        return QStringLiteral("timed out");
    case Refused:
        return QStringLiteral("refused");
    }
    return QString();
}

QString CheckResult::protocolsText(int protocols)
{
    QStringList names;
    if (protocols & Http)
        names << QStringLiteral("http");
    if (protocols & Connect)
        names << QStringLiteral("connect");
    if (protocols & Socks5)
        names << QStringLiteral("socks5");
    if (protocols & Socks4)
        names << QStringLiteral("socks4");
    return names.join(QLatin1Char(','));
}

QString CheckResult::anonymityText(Anonymity anonymity)
{
    switch (anonymity) {
    case Unknown:
        return QString();
    case Transparent:
        return QStringLiteral("transparent");
    case Anonymous:
        return QStringLiteral("anonymous");
    case Elite:
        return QStringLiteral("elite");
    }
    return QString();
}
