#include "cli/commandline.h"

#include "cli/console.h"
#include "cli/exitcode.h"
#include "cli/poolcommands.h"
#include "cli/poolrecording.h"
#include "settings/runstampclaim.h"
#include "settings/userfolders.h"
#include "util/namedoutput.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the event loop: only write() is safe in the handler.
int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

CCommandLine::CCommandLine() = default;

CCommandLine::~CCommandLine()
{
    // The runs write to the reports; a report never committed leaves nothing behind.
    m_checkRun.reset();
    m_harvestRun.reset();
}

int CCommandLine::run(const QStringList& arguments)
{
    RunOptions::Parsed parsed = RunOptions::parse(arguments);
    for (const QString& notice : std::as_const(parsed.notices))
        Console::printLine(stderr, notice);
    if (!parsed.output.isEmpty()) {
        std::fputs(qPrintable(parsed.output), stdout);
        std::fflush(stdout);
    }
    if (!parsed.refusal.isEmpty())
        Console::printLine(stderr, parsed.refusal);
    if (!parsed.options)
        return parsed.exitCode;
    m_options = std::move(parsed.options);
    // A pool that is not made here is looked for before any folder is made, so that a missing one leaves nothing.
    const bool writesPool = m_options->pool.access() == PoolStore::Access::Write;
    if (!prepareOutputs() || (!writesPool && !openPool()) || !makeFolders() || (writesPool && !openPool()))
        return ExitCode::badInput;
    if (m_options->pool.task == PoolJob::Task::Export)
        return PoolCommands::exportList(m_pool->store(), *m_options);
    if (m_options->pool.task == PoolJob::Task::Sources)
        return PoolCommands::sources(m_pool->store(), *m_options, m_report.get());

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    // The port is taken before anything runs, so that one in use is told at once.
    if (m_options->serve) {
        m_serveRun = std::make_unique<CServeRun>(*m_options->serve, terminal);
        m_serveRun->fitClients();
        QString failure;
        if (!m_serveRun->listen(&failure) ||
            (!m_options->serveLog.isEmpty() && !m_serveRun->openLog(m_options->serveLog, &failure))) {
            Console::tell(failure);
            return ExitCode::badInput;
        }
    }
    catchStopSignals();
    if (m_options->pool.task == PoolJob::Task::Serve) {
        if (const int status = startServeOfPool(); status >= 0)
            return status;
        return QCoreApplication::exec();
    }
    if (m_options->pool.task == PoolJob::Task::Recheck) {
        if (const int status = startRecheck(); status >= 0)
            return status;
    } else if (m_options->checkFile.isEmpty()) {
        m_harvestRun = std::make_unique<CHarvestRun>(m_options->harvest, terminal, m_report.get());
        if (m_pool && m_options->pool.recordsHarvest) {
            m_pool->followHarvest(*m_harvestRun);
            connect(m_harvestRun.get(), &CHarvestRun::finished, this, [this] { m_pool->endHarvest(*m_harvestRun); });
        }
        connect(m_harvestRun.get(), &CHarvestRun::readyForCheck, this, &CCommandLine::startCheckOfHarvest);
        connect(m_harvestRun.get(), &CHarvestRun::finished, this, [](int status) { QCoreApplication::exit(status); });
        if (!m_harvestRun->start())
            return ExitCode::badInput;
    } else if (!startCheckOfFile()) {
        return ExitCode::badInput;
    }
    return QCoreApplication::exec();
}

// Once every refusal is past: a report that cannot be written there still stops the run before it starts.
bool CCommandLine::prepareOutputs()
{
    const auto prepare = [](const QString& path, const QString& what, std::unique_ptr<NamedOutput>* output) {
        if (path.isEmpty())
            return true;
        *output = std::make_unique<NamedOutput>(path);
        QString failure;
        if ((*output)->prepare(&failure))
            return true;
        Console::tell(QStringLiteral("cannot write the %1 %2: %3").arg(what, path, failure));
        return false;
    };
    // A harvest's source report, or the pool's sources.
    const QString report =
        m_options->harvest.reportPath.isEmpty() ? m_options->pool.reportPath : m_options->harvest.reportPath;
    return prepare(report, QStringLiteral("report"), &m_report) &&
           prepare(m_options->checkJob.reportPath, QStringLiteral("check report"), &m_checkReport);
}

// Once every refusal is past, so that a refused run neither makes nor changes a pool.
bool CCommandLine::openPool()
{
    const PoolJob& job = m_options->pool;
    if (job.path.isEmpty())
        return true;
    // A new pool is made by the run's writers as they start: 2 ms of every first harvest, no longer before its first
    // page. Where it cannot be made, opening it here says why, and the run stops before it starts.
    if (job.access() == PoolStore::Access::Write && PoolStore::madeByWriters(job.path)) {
        m_pool = std::make_unique<PoolRecording>(nullptr, job);
        return true;
    }
    QString failure;
    std::unique_ptr<PoolStore> store = PoolStore::open(job.path, job.access(), &failure);
    if (!store) {
        Console::tell(failure);
        return false;
    }
    m_pool = std::make_unique<PoolRecording>(std::move(store), job);
    return true;
}

// The check of the proxies due; an exit status when there is none to check, or -1 once the check runs.
int CCommandLine::startRecheck()
{
    std::vector<ProxyEndpoint> due;
    if (!m_pool->store().due(m_pool->now(), m_options->pool.all, &due)) {
        Console::tell(
            QStringLiteral("cannot read the pool %1: %2").arg(m_options->pool.path, m_pool->store().failure()));
        return ExitCode::badInput;
    }
    if (due.empty()) {
        Console::tell(QStringLiteral("no proxy of the pool is due for a recheck."));
        return ExitCode::noProxies;
    }
    m_options->proxies = due;
    return startCheckOfFile() ? -1 : ExitCode::badInput;
}

bool CCommandLine::makeFolders()
{
    const QStringList failed = UserFolders::makeUserFolders();
    if (failed.isEmpty())
        return true;
    Console::tell(QStringLiteral("cannot make the folder %1").arg(failed.first()));
    return false;
}

// The pool's alive proxies, as --export lists them; an exit status when there is none, or -1 once it serves.
int CCommandLine::startServeOfPool()
{
    std::vector<ProxyRecord> records;
    if (!m_pool->store().proxies(m_options->pool.filter, m_pool->now(), &records)) {
        Console::tell(
            QStringLiteral("cannot read the pool %1: %2").arg(m_options->pool.path, m_pool->store().failure()));
        return ExitCode::badInput;
    }
    if (CServeRun::upstreamsOf(records).empty()) {
        Console::tell(QStringLiteral("no alive proxy of the pool matches; nothing to serve."));
        return ExitCode::noProxies;
    }
    m_serveRun->serve(records);
    m_serving = true;
    keepServing({});
    return -1;
}

// While serving: the upstreams that fail it go to the pool, and the proxies are checked again every so often.
// `listed`: the checked list served, or none to serve the pool.
void CCommandLine::keepServing(const std::vector<ProxyEndpoint>& listed)
{
    if (m_pool) {
        m_servePool = std::make_unique<CServePool>(m_options->pool);
        connect(m_servePool.get(), &CServePool::missed, this, [](const QString& line) { Console::tell(line); });
        m_serveRun->recordFailuresIn(m_servePool.get());
    }
    const qint64 every = m_options->serve->recheckEveryMs;
    if (every <= 0)
        return;
    m_serveRecheck = std::make_unique<CServeRecheck>(m_options->checkJob, every, m_servePool.get(), listed);
    connect(m_serveRecheck.get(), &CServeRecheck::upstreamsFound, m_serveRun.get(), &CServeRun::update);
    m_serveRecheck->start();
}

void CCommandLine::catchStopSignals()
{
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_signalNotifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &CCommandLine::stopSignalled);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void CCommandLine::stopSignalled()
{
    char bytes[16];
    while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
    }
    // Every connection closes at once; nothing is left to write.
    if (m_serving) {
        m_serveRecheck.reset();
        m_serveRun->stop();
        return QCoreApplication::exit(ExitCode::written);
    }
    // Stopped before it served: the check ends as any check does.
    m_serveRun.reset();
    // A check keeps the working proxies found so far.
    if (m_checkRun)
        return m_checkRun->stop();
    if (m_harvestRun)
        m_harvestRun->stop();
}

bool CCommandLine::startCheckOfFile()
{
    m_runClaim = std::make_unique<RunStampClaim>();
    if (!m_runClaim->failure().isEmpty()) {
        Console::tell(m_runClaim->failure());
        return false;
    }
    startCheck(m_options->proxies, m_runClaim->stamp());
    return true;
}

void CCommandLine::startCheckOfHarvest()
{
    if (m_pool && m_options->pool.recordsHarvest)
        m_pool->endHarvest(*m_harvestRun);
    QHash<quint64, QStringList> sources;
    const std::vector<ProxyEndpoint> proxies = m_harvestRun->foundProxies(&sources);
    startCheck(proxies, m_harvestRun->runStamp(), &sources);
}

void CCommandLine::startCheck(const std::vector<ProxyEndpoint>& proxies, quint32 runStamp,
                              const QHash<quint64, QStringList>* sources)
{
    m_checkRun =
        std::make_unique<CCheckRun>(m_options->checkJob, runStamp, ::isatty(STDERR_FILENO) == 1, m_checkReport.get());
    if (sources)
        m_checkRun->setSources(*sources);
    connect(m_checkRun.get(), &CCheckRun::finished, this, &CCommandLine::checkFinished);
    // A list's proxies are seen by the check, unless a harvest the pool keeps saw them first; a recheck sees nothing
    // new.
    const bool sees = m_options->pool.task == PoolJob::Task::Record &&
                      (!m_options->checkFile.isEmpty() || !m_options->pool.recordsHarvest);
    if (m_pool)
        m_pool->followCheck(*m_checkRun, m_options->checkJob.judge.toString(),
                            sees ? proxies : std::vector<ProxyEndpoint>());
    m_checkRun->fitConcurrency();
    m_checkRun->start(proxies);
}

void CCommandLine::checkFinished(int status)
{
    // A judge that failed checked nothing.
    if (m_pool)
        m_pool->endCheck(m_checkRun->judgeFailed());
    // After a harvest, the source report tells the working proxies of each source; a check that could not start
    // (its judge failed) leaves it as it was.
    if (m_harvestRun && !m_checkRun->judgeFailed()) {
        const QHash<QString, int> working = m_checkRun->workingPerPage(m_harvestRun->proxiesPerPage());
        m_harvestRun->writeReport(&working);
    }
    // --check FILE --serve: what worked is served until a stop.
    if (m_serveRun && !m_checkRun->judgeFailed() && status == ExitCode::written) {
        m_serving = true;
        m_serveRun->serve(m_checkRun->allRecords());
        return keepServing(m_options->proxies);
    }
    QCoreApplication::exit(status);
}
