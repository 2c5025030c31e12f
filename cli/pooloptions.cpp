#include "cli/pooloptions.h"

#include "check/checkresult.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace PoolOptions {

namespace {

QCommandLineOption flag(const char* name, const char* description)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description));
}

QCommandLineOption valued(const char* name, const char* description, const char* valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(valueName));
}

const QString poolName = QStringLiteral("pool");
const QStringList tasks = {QStringLiteral("export"), QStringLiteral("recheck"), QStringLiteral("sources")};
const QStringList filters = {QStringLiteral("alive"),        QStringLiteral("min-uptime"), QStringLiteral("country"),
                             QStringLiteral("exit-country"), QStringLiteral("protocol"),   QStringLiteral("anonymity"),
                             QStringLiteral("max-ms")};

// "DE,fr": upper case; empty when a part is no two-letter code.
QStringList countries(const QString& text)
{
    static const QRegularExpression code(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z]{2}")));
    QStringList codes;
    for (const QString& part : text.split(QLatin1Char(',')))
        if (!code.match(part.trimmed()).hasMatch())
            return QStringList();
        else
            codes << part.trimmed().toUpper();
    return codes;
}

// "http,socks5": the CheckResult::Protocol flags; 0 when a part names no protocol.
int protocols(const QString& text)
{
    int flags = 0;
    for (const QString& part : text.split(QLatin1Char(','))) {
        int found = 0;
        for (const int protocol : {CheckResult::Http, CheckResult::Connect, CheckResult::Socks5, CheckResult::Socks4})
            if (CheckResult::protocolsText(protocol) == part.trimmed().toLower())
                found = protocol;
        if (found == 0)
            return 0;
        flags |= found;
    }
    return flags;
}

} // namespace

QList<QCommandLineOption> options()
{
    return {valued("pool", "The pool's file (~/.tarnix/sievra/pool.sqlite).", "FILE"),
            flag("no-pool", "Keep nothing of this run in the pool."),
            flag("export", "List the pool's proxies (alive ones unless --all), as text or --format records."),
            flag("recheck", "Check the pool's proxies that are due (all not retired with --all)."),
            flag("sources", "Tell what each source has been worth, tab-separated."),
            flag("all", "--export: every proxy not retired; --recheck: every one, due or not."),
            flag("alive", "--export: those that worked at a check of the last 24 hours (the default)."),
            valued("min-uptime", "--export: those up at least PCT percent of the last 7 days.", "PCT"),
            valued("country", "--export: those whose address is in one of these countries.", "CC[,CC...]"),
            valued("exit-country", "--export: those that go out in one of these countries.", "CC[,CC...]"),
            valued("protocol", "--export: those for which one of these worked at the last check.", "NAME[,NAME...]"),
            valued("anonymity", "--export: transparent, anonymous or elite, that level or better.", "LEVEL"),
            valued("max-ms", "--export: those whose judge's first byte came within N ms at the last check.", "N"),
            valued("prune", "--sources: also list the sources with a proxy that worked within DAYS days.", "DAYS")};
}

bool read(const QCommandLineParser& parser, PoolJob* job, QString* refusal)
{
    const auto refuse = [refusal](const QString& text) {
        *refusal = text;
        return false;
    };
    QStringList asked;
    for (const QString& task : tasks)
        if (parser.isSet(task))
            asked << task;
    // --serve alone serves the pool; after --check FILE it serves what the check found.
    if (parser.isSet(QStringLiteral("serve")) && !parser.isSet(QStringLiteral("check")))
        asked << QStringLiteral("serve");
    if (asked.size() > 1)
        return refuse(QStringLiteral("--%1 and --%2 are tasks of their own; give one.").arg(asked[0], asked[1]));
    const QString task = asked.value(0);
    const bool noPool = parser.isSet(QStringLiteral("no-pool"));
    if (noPool && parser.isSet(poolName))
        return refuse(QStringLiteral("--pool and --no-pool say opposite things; give one."));
    if (noPool && task == QLatin1String("serve"))
        return refuse(QStringLiteral("--serve with --no-pool needs --check FILE: it serves what the check finds."));
    if (noPool && !task.isEmpty())
        return refuse(QStringLiteral("--%1 reads the pool, and --no-pool names none.").arg(task));
    for (const QString& name : filters)
        if (parser.isSet(name) && task != QLatin1String("export") && task != QLatin1String("serve"))
            return refuse(QStringLiteral("--%1 needs --export or --serve.").arg(name));
    if (parser.isSet(QStringLiteral("all")) && task != QLatin1String("export") && task != QLatin1String("recheck"))
        return refuse(QStringLiteral("--all needs --export or --recheck."));
    if (parser.isSet(QStringLiteral("prune")) && task != QLatin1String("sources"))
        return refuse(QStringLiteral("--prune needs --sources."));
    if (!task.isEmpty())
        for (const QString& name : harvestOnly)
            if (parser.isSet(name))
                return refuse(QStringLiteral("--%1 needs --harvest.").arg(name));

    job->task = task == QLatin1String("export")    ? PoolJob::Task::Export
                : task == QLatin1String("recheck") ? PoolJob::Task::Recheck
                : task == QLatin1String("sources") ? PoolJob::Task::Sources
                : task == QLatin1String("serve")   ? PoolJob::Task::Serve
                                                   : PoolJob::Task::Record;
    job->all = parser.isSet(QStringLiteral("all"));
    job->recordsHarvest = !parser.isSet(QStringLiteral("classic"));
    // A harvest of the window's rules is the described program's, and stays out of the pool; its check does not.
    const bool recordsNothing = task.isEmpty() && !job->recordsHarvest && !parser.isSet(QStringLiteral("check"));
    if (recordsNothing && parser.isSet(poolName))
        return refuse(QStringLiteral("--pool has no use with --classic, whose harvest the pool does not keep."));
    if (!noPool && !recordsNothing)
        job->path = parser.isSet(poolName) ? parser.value(poolName) : PoolJob::defaultPath();
    job->clock = RunClock::fromEnvironment();

    PoolFilter& filter = job->filter;
    if (parser.isSet(QStringLiteral("alive")) && job->all)
        return refuse(QStringLiteral("--alive and --all say opposite things; give one."));
    filter.aliveOnly = !job->all;
    const auto value = [&parser](const char* name) { return parser.value(QString::fromLatin1(name)); };
    bool ok = true;
    if (parser.isSet(QStringLiteral("min-uptime"))) {
        filter.minUptime = value("min-uptime").toDouble(&ok);
        if (!ok || filter.minUptime < 0 || filter.minUptime > 100)
            return refuse(QStringLiteral("--min-uptime must be 0 to 100, not \"%1\".").arg(value("min-uptime")));
    }
    for (const char* name : {"country", "exit-country"}) {
        if (!parser.isSet(QString::fromLatin1(name)))
            continue;
        const QStringList codes = countries(value(name));
        if (codes.isEmpty())
            return refuse(QStringLiteral("--%1 must be two-letter country codes separated by commas, not \"%2\".")
                              .arg(QLatin1String(name), value(name)));
        (qstrcmp(name, "country") == 0 ? filter.countries : filter.exitCountries) = codes;
    }
    if (parser.isSet(QStringLiteral("protocol")) && (filter.protocols = protocols(value("protocol"))) == 0)
        return refuse(QStringLiteral("--protocol must be http, connect, socks5 or socks4, separated by commas, not "
                                     "\"%1\".")
                          .arg(value("protocol")));
    if (parser.isSet(QStringLiteral("anonymity"))) {
        for (const auto level : {CheckResult::Transparent, CheckResult::Anonymous, CheckResult::Elite})
            if (CheckResult::anonymityText(level) == value("anonymity"))
                filter.anonymity = level;
        if (filter.anonymity == CheckResult::Unknown)
            return refuse(QStringLiteral("--anonymity must be transparent, anonymous or elite, not \"%1\".")
                              .arg(value("anonymity")));
    }
    if (parser.isSet(QStringLiteral("max-ms"))) {
        filter.maxMs = value("max-ms").toInt(&ok, 10);
        if (!ok || filter.maxMs < 0 || filter.maxMs > 60000)
            return refuse(QStringLiteral("--max-ms must be 0 to 60000, not \"%1\".").arg(value("max-ms")));
    }
    if (parser.isSet(QStringLiteral("prune"))) {
        job->pruneDays = value("prune").toInt(&ok, 10);
        if (!ok || job->pruneDays < 1 || job->pruneDays > 3650)
            return refuse(QStringLiteral("--prune must be 1 to 3650, not \"%1\".").arg(value("prune")));
    }
    return true;
}

} // namespace PoolOptions
