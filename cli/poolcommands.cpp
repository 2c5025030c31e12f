#include "cli/poolcommands.h"

#include "cli/console.h"
#include "cli/exitcode.h"
#include "cli/runoptions.h"
#include "pool/poolschedule.h"
#include "pool/poolstore.h"
#include "settings/runstampclaim.h"
#include "settings/userfolders.h"
#include "util/namedoutput.h"
#include "util/outputlist.h"
#include "util/outputlists.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <unistd.h>

namespace PoolCommands {

namespace {

int cannotRead(const RunOptions& options, const PoolStore& pool)
{
    Console::tell(QStringLiteral("cannot read the pool %1: %2").arg(options.pool.path, pool.failure()));
    return ExitCode::badInput;
}

// Named as the window's lists are not, so that its Proxy Lists tab leaves it out: "sources-<yyyy>-<MM>-<dd>-<run
// stamp>-<time>.txt", written under a hidden name and renamed into place without replacing anything.
bool writeSourceList(const QStringList& urls, quint32 runStamp, QString* path, QString* failure)
{
    const QDir folder(UserFolders::outputFolder());
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = QStringLiteral("sources-%1-%2-%3.txt")
                             .arg(now.date().toString(QStringLiteral("yyyy-MM-dd")))
                             .arg(runStamp)
                             .arg(now.toSecsSinceEpoch());
    QFile file(folder.filePath(QLatin1Char('.') + name + QStringLiteral(".part")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *failure = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    const QByteArray text = (urls.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    const bool written = file.write(text) == text.size() && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    QString reason = file.errorString();
    if (written && OutputLists::renameNoReplace(file.fileName(), folder.filePath(name), &reason)) {
        *path = folder.filePath(name);
        return true;
    }
    file.remove();
    *failure = QStringLiteral("cannot write %1: %2").arg(folder.filePath(name), reason);
    return false;
}

// A pool this run could not write is read without the harvests' pages that wait in it: one line says so.
void tellLeftOut(const PoolStore& pool, const RunOptions& options)
{
    if (pool.pagesLeftOut() > 0)
        Console::tell(QStringLiteral("the pool %1 cannot be written here, so the harvests' pages waiting in it (%2) "
                                     "are not in this answer.")
                          .arg(options.pool.path)
                          .arg(pool.pagesLeftOut()));
}

} // namespace

int exportList(PoolStore& pool, const RunOptions& options)
{
    // Claimed first: a list is named after the run's stamp.
    const RunStampClaim claim;
    if (!claim.failure().isEmpty()) {
        Console::tell(claim.failure());
        return ExitCode::badInput;
    }
    std::vector<ProxyRecord> records;
    if (!pool.proxies(options.pool.filter, options.pool.clock.now(), &records))
        return cannotRead(options, pool);
    tellLeftOut(pool, options);
    if (records.empty()) {
        Console::tell(QStringLiteral("no proxy of the pool matches."));
        return ExitCode::noProxies;
    }
    const CheckJob& job = options.checkJob;
    const QByteArray text = job.format == ListFormat::Json  ? ListFormat::json(records, true, true)
                            : job.format == ListFormat::Csv ? ListFormat::csv(records, true, true)
                                                            : ListFormat::text(records, job.lineTemplate);
    OutputList list;
    QString reason;
    QString path;
    if (!list.create(UserFolders::outputFolder(), claim.stamp(), &reason, ListFormat::extension(job.format))) {
        Console::tell(QStringLiteral("cannot write %1: %2").arg(list.unfinishedPath(), reason));
        return ExitCode::badInput;
    }
    if (!list.write(text) || !list.finish(int(records.size()), &path)) {
        Console::tell(QStringLiteral("cannot write %1: %2").arg(list.unfinishedPath(), list.failure()));
        return ExitCode::badInput;
    }
    Console::printLine(stdout, path);
    return ExitCode::written;
}

int sources(PoolStore& pool, const RunOptions& options, NamedOutput* report)
{
    const qint64 now = options.pool.clock.now();
    std::vector<PoolSource> found;
    if (!pool.sources(now, &found))
        return cannotRead(options, pool);
    tellLeftOut(pool, options);
    if (found.empty()) {
        Console::tell(QStringLiteral("the pool %1 has no source yet.").arg(options.pool.path));
        return ExitCode::noProxies;
    }
    PoolSource::sort(&found);
    const QByteArray text = PoolSource::report(found);
    QString failure;
    if (!report) {
        std::fputs(text.constData(), stdout);
        std::fflush(stdout);
    } else if (!report->commit(text, &failure)) {
        Console::tell(QStringLiteral("cannot write the report %1: %2").arg(report->path(), failure));
        return ExitCode::badInput;
    }
    if (options.pool.pruneDays < 0)
        return ExitCode::written;

    QStringList urls;
    if (!pool.worthySources(now - options.pool.pruneDays * PoolSchedule::day, &urls))
        return cannotRead(options, pool);
    if (urls.isEmpty()) {
        Console::tell(QStringLiteral("no source gave a proxy that worked within %1 days; no source list is written.")
                          .arg(options.pool.pruneDays));
        return ExitCode::written;
    }
    const RunStampClaim claim;
    QString path;
    if (!claim.failure().isEmpty() || !writeSourceList(urls, claim.stamp(), &path, &failure)) {
        Console::tell(claim.failure().isEmpty() ? failure : claim.failure());
        return ExitCode::badInput;
    }
    Console::printLine(stdout, path);
    return ExitCode::written;
}

} // namespace PoolCommands
