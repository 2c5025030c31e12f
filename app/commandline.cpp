#include "app/commandline.h"

#include "harvest/sourcereport.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "util/appinfo.h"
#include "util/urllistfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

void printLine(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

bool fail(const QString& message)
{
    printLine(stderr, QStringLiteral("sievra: ") + message);
    return false;
}

} // namespace

CCommandLine::CCommandLine() = default;

CCommandLine::~CCommandLine()
{
    // The engine waits for its extraction; the settings it reads go after it.
    const quint32 runStamp = m_engine ? m_engine->runStamp() : 0;
    m_engine.reset();
    m_config.reset();
    // Its pages are gone with the run, and no other start will want the empty folder.
    if (runStamp != 0)
        QDir().rmdir(UserFolders::runFolder(runStamp));
}

int CCommandLine::run(const QStringList& arguments)
{
    if (!parse(arguments) || !makeFolders())
        return BadInput;

    m_terminal = ::isatty(STDERR_FILENO) == 1;
    catchStopSignals();
    m_engine = std::make_unique<CHarvestEngine>(m_config.get());
    m_engine->setRules(m_rules);
    m_engine->setUrls(m_urls);
    m_engine->setThreads(m_threads);
    connect(m_engine.get(), &CHarvestEngine::newLeechUrl, this, [this] { showProgress(); });
    connect(m_engine.get(), &CHarvestEngine::urlFinished, this, [this](int done, int total) {
        m_pagesDone = done;
        m_pagesTotal = total;
        showProgress();
    });
    connect(m_engine.get(), &CHarvestEngine::proxiesFound, this, [this](int count) {
        m_proxies += count;
        showProgress();
    });
    connect(m_engine.get(), &CHarvestEngine::outputWritten, this, [this](const QString& path) { m_outputPath = path; });
    connect(m_engine.get(), &CHarvestEngine::outputWriteFailed, this,
            [this](const QString& message) { m_failure = message; });
    connect(m_engine.get(), &CHarvestEngine::pagesNotStored, this, [](const QStringList& paths, const QString& reason) {
        printLine(stderr, QStringLiteral("sievra: %1 pages could not be stored: %2").arg(paths.size()).arg(reason));
    });
    // Whatever the end, the extraction thread's end comes after every report of the run.
    connect(m_engine.get(), &CHarvestEngine::extractionFinished, this, &CCommandLine::finish);
    connect(m_engine.get(), &CHarvestEngine::nothingToFetch, this, &CCommandLine::finish);

    m_pagesTotal = m_urls.size();
    m_engine->start(m_depth > 0 ? CHarvestEngine::MultipleCrawl : CHarvestEngine::SingleCrawl);
    return QCoreApplication::exec();
}

bool CCommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Harvests the proxies of the pages listed in FILE without a "
                                                    "window and prints the output file's path."));
    const QCommandLineOption harvest(QStringLiteral("harvest"), QStringLiteral("The URLs to harvest, one a line."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption threads(QStringLiteral("threads"), QStringLiteral("Page fetchers, 1 to 20 (5)."),
                                     QStringLiteral("N"));
    const QCommandLineOption depth(QStringLiteral("depth"),
                                   QStringLiteral("Follow links first, N levels deep (1 to 5), as Multiple Crawl."),
                                   QStringLiteral("N"));
    const QCommandLineOption lineTemplate(
        QStringLiteral("template"), QStringLiteral("The output line template, e.g. A:P."), QStringLiteral("TEXT"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Fetch time-out: 10, 15, 20 or 25 seconds."),
                                     QStringLiteral("SECONDS"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write what each source gave to FILE, tab-separated."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption classic(QStringLiteral("classic"),
                                     QStringLiteral("The window's harvest: http:// only, port 80, no redirect."));
    const QCommandLineOption insecure(QStringLiteral("insecure"),
                                      QStringLiteral("Accept certificates that fail verification."));
    parser.addOptions({harvest, threads, depth, lineTemplate, timeout, report, classic, insecure});
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
    if (!parser.isSet(harvest))
        return fail(QStringLiteral("--harvest FILE is missing."));

    // A number in its range, or the whole value is refused.
    const auto number = [&parser](const QCommandLineOption& option, int lowest, int highest, int* value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok, 10);
        if (ok && *value >= lowest && *value <= highest)
            return true;
        return fail(QStringLiteral("--%1 must be %2 to %3, not \"%4\".")
                        .arg(option.names().first())
                        .arg(lowest)
                        .arg(highest)
                        .arg(parser.value(option)));
    };
    if (parser.isSet(threads) && !number(threads, 1, CHarvestEngine::fetcherCount, &m_threads))
        return false;
    if (parser.isSet(depth) && !number(depth, 1, 5, &m_depth))
        return false;
    int timeoutChoice = -1;
    if (parser.isSet(timeout)) {
        const QStringList choices = {QStringLiteral("10"), QStringLiteral("15"), QStringLiteral("20"),
                                     QStringLiteral("25")};
        timeoutChoice = choices.indexOf(parser.value(timeout));
        if (timeoutChoice < 0)
            return fail(QStringLiteral("--timeout must be 10, 15, 20 or 25, not \"%1\".").arg(parser.value(timeout)));
    }

    m_rules.classic = parser.isSet(classic);
    m_rules.insecure = parser.isSet(insecure);
    if (m_rules.classic && m_rules.insecure)
        return fail(QStringLiteral("--insecure has no use with --classic, which fetches no https:// page."));

    const QString file = parser.value(harvest);
    QString failure;
    SkippedLines skipped;
    const bool read = m_rules.classic ? readUrlListFile(file, &m_urls, &failure, &skipped)
                                      : readWebUrlListFile(file, &m_urls, &failure, &skipped);
    if (!read)
        return fail(QStringLiteral("cannot read %1: %2").arg(file, failure));
    if (skipped.count > 0)
        printLine(stderr,
                  skipped.count == 1
                      ? QStringLiteral("sievra: skipped 1 line of %1 with no usable URL: %2").arg(file, skipped.first)
                      : QStringLiteral("sievra: skipped %1 lines of %2 with no usable URL, the first: %3")
                            .arg(QString::number(skipped.count), file, skipped.first));
    if (m_urls.isEmpty())
        return fail(QStringLiteral("no usable URL in %1.").arg(file));

    // Opened now, so a report that cannot be written stops the run before it starts.
    if (parser.isSet(report)) {
        m_reportPath = parser.value(report);
        QFile reportFile(m_reportPath);
        if (!reportFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write the report %1: %2").arg(m_reportPath, reportFile.errorString()));
    }
    if (m_rules.insecure)
        printLine(stderr, QStringLiteral("sievra: --insecure: certificates that fail verification are accepted."));

    // The stored values stand for what is not given; none of this reaches the settings file.
    m_config = std::make_unique<CConfig>();
    m_config->setSaveOnExit(false);
    if (timeoutChoice >= 0)
        m_config->setTimeout(timeoutChoice);
    if (m_depth > 0)
        m_config->setDepth(m_depth);
    // Upper case, as the configuration window takes it.
    if (parser.isSet(lineTemplate))
        m_config->setOutputFormat(parser.value(lineTemplate).toUpper());
    return true;
}

bool CCommandLine::makeFolders()
{
    for (const QString& folder : {UserFolders::dataFolder(), UserFolders::outputFolder()})
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    return true;
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
    // As Stop: the pages so far are extracted, or a running extraction keeps its lines so far.
    m_engine->stop();
}

void CCommandLine::showProgress(bool last)
{
    const QString text = QStringLiteral("pages %1 of %2, proxies %3").arg(m_pagesDone).arg(m_pagesTotal).arg(m_proxies);
    if (text == m_shown && !(last && m_terminal))
        return;
    m_shown = text;
    if (m_terminal) {
        std::fputs(qPrintable(QStringLiteral("\r") + text + QStringLiteral("\x1b[K") + (last ? "\n" : "")), stderr);
        std::fflush(stderr);
    } else {
        printLine(stderr, text);
    }
}

void CCommandLine::writeReport()
{
    const CSourceReport report(m_engine->sourceResults(), m_engine->linesPerPage());
    printLine(stderr, report.summary());
    if (m_reportPath.isEmpty())
        return;
    QFile file(m_reportPath);
    const QByteArray text = report.text();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush())
        printLine(stderr,
                  QStringLiteral("sievra: cannot write the report %1: %2").arg(m_reportPath, file.errorString()));
}

void CCommandLine::finish()
{
    showProgress(true);
    writeReport();
    if (!m_outputPath.isEmpty()) {
        printLine(stdout, m_outputPath);
        QCoreApplication::exit(Written);
    } else if (!m_failure.isEmpty()) {
        printLine(stderr, QStringLiteral("sievra: ") + QString(m_failure).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        QCoreApplication::exit(BadInput);
    } else {
        printLine(stderr, QStringLiteral("sievra: no proxies found."));
        QCoreApplication::exit(NoProxies);
    }
}
