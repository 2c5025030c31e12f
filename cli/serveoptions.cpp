#include "cli/serveoptions.h"

#include <QCommandLineParser>

#include <cmath>

namespace ServeOptions {

namespace {

const QString serveName = QStringLiteral("serve");
const QString authName = QStringLiteral("serve-auth");
const QString connectionsName = QStringLiteral("serve-connections");
const QString logName = QStringLiteral("serve-log");
const QString recheckName = QStringLiteral("recheck-every");

// "PORT", "ADDRESS:PORT" or "[IPV6]:PORT"; false when it is none of them.
bool readPlace(const QString& text, QHostAddress* address, quint16* port)
{
    QString host = QStringLiteral("127.0.0.1");
    QString portText = text;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        portText = text.mid(close + 2);
    } else if (text.contains(QLatin1Char(':'))) {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return false;
    }
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    bool ok = false;
    const uint value = portText.toUInt(&ok, 10);
    if (!ok || value == 0 || value > 65535 || !address->setAddress(host))
        return false;
    *port = quint16(value);
    return true;
}

} // namespace

QList<QCommandLineOption> options()
{
    return {QCommandLineOption(serveName,
                               QStringLiteral("Serve the pool's working proxies as one rotating proxy (HTTP, CONNECT, "
                                              "SOCKS 5, SOCKS 4) on PORT of 127.0.0.1, or of ADDRESS."),
                               QStringLiteral("[ADDRESS:]PORT")),
            QCommandLineOption(authName,
                               QStringLiteral("--serve: clients must give this user name and password; needed to "
                                              "serve beyond loopback."),
                               QStringLiteral("USER:PASSWORD")),
            QCommandLineOption(connectionsName, QStringLiteral("--serve: clients at once, 1 to 65536 (1024)."),
                               QStringLiteral("N")),
            QCommandLineOption(logName, QStringLiteral("--serve: append a line per request to FILE, tab-separated."),
                               QStringLiteral("FILE")),
            QCommandLineOption(recheckName,
                               QStringLiteral("--serve: check what is due again every MINUTES, and serve what works "
                                              "(30; 0: never)."),
                               QStringLiteral("MINUTES"))};
}

bool anySet(const QCommandLineParser& parser)
{
    return parser.isSet(serveName) || parser.isSet(authName) || parser.isSet(connectionsName) ||
           parser.isSet(logName) || parser.isSet(recheckName);
}

bool read(const QCommandLineParser& parser, ServeJob* job, QString* log, QString* refusal)
{
    const auto refuse = [refusal](const QString& text) {
        *refusal = text;
        return false;
    };
    for (const QString& name : {authName, connectionsName, logName, recheckName})
        if (parser.isSet(name) && !parser.isSet(serveName))
            return refuse(QStringLiteral("--%1 needs --serve.").arg(name));
    const QString place = parser.value(serveName);
    if (!readPlace(place, &job->address, &job->port))
        return refuse(QStringLiteral("--serve must be PORT, ADDRESS:PORT or [IPV6]:PORT, not \"%1\".").arg(place));
    if (parser.isSet(authName)) {
        const QString auth = parser.value(authName);
        const qsizetype colon = auth.indexOf(QLatin1Char(':'));
        if (colon <= 0 || colon == auth.size() - 1)
            return refuse(QStringLiteral("--serve-auth must be USER:PASSWORD, both not empty."));
        job->user = auth.left(colon).toUtf8();
        job->password = auth.mid(colon + 1).toUtf8();
    }
    // Beyond loopback anyone who reaches the port could use the proxies.
    if (!job->address.isLoopback() && !job->asksCredentials())
        return refuse(QStringLiteral("--serve %1 is reachable beyond this machine; give --serve-auth USER:PASSWORD "
                                     "too, or serve on a loopback address.")
                          .arg(place));
    if (parser.isSet(connectionsName)) {
        bool ok = false;
        job->maxClients = parser.value(connectionsName).toInt(&ok, 10);
        if (!ok || job->maxClients < 1 || job->maxClients > 65536)
            return refuse(QStringLiteral("--serve-connections must be 1 to 65536, not \"%1\".")
                              .arg(parser.value(connectionsName)));
    }
    if (parser.isSet(recheckName)) {
        // Minutes, a fraction of one too: a second is the shortest, a week the longest.
        bool ok = false;
        const double minutes = parser.value(recheckName).toDouble(&ok);
        const qint64 ms =
            ok && std::isfinite(minutes) && minutes >= 0 && minutes <= 10080 ? qRound64(minutes * 60000) : -1;
        if (ms < 0 || (ms > 0 && ms < 1000) || ms > qint64{7} * 24 * 60 * 60000)
            return refuse(QStringLiteral("--recheck-every must be 0 or 1/60 to 10080 minutes, not \"%1\".")
                              .arg(parser.value(recheckName)));
        job->recheckEveryMs = ms;
    }
    if (parser.isSet(logName)) {
        *log = parser.value(logName);
        if (log->isEmpty())
            return refuse(QStringLiteral("--serve-log needs a FILE."));
    }
    return true;
}

} // namespace ServeOptions
