#include "cli/commandline.h"

#include "check/proxylist.h"
#include "cli/console.h"
#include "util/externalhosts.h"
#include "util/weburl.h"

#include "harvest/sourcereport.h"
#include "harvest/webfetching.h"
#include "settings/config.h"
#include "settings/runstampclaim.h"
#include "settings/userfolders.h"
#include "util/appinfo.h"
#include "util/urllistfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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

using Console::printLine;

bool fail(const QString& message)
{
    Console::tell(message);
    return false;
}

} // namespace

CCommandLine::CCommandLine() = default;

CCommandLine::~CCommandLine()
{
    // The engine waits for its extraction; the settings it reads go after it.
    m_engine.reset();
    m_config.reset();
}

int CCommandLine::run(const QStringList& arguments)
{
    if (!parse(arguments) || !makeFolders())
        return BadInput;

    m_terminal = ::isatty(STDERR_FILENO) == 1;
    m_checkOptions.terminal = m_terminal;
    catchStopSignals();
    if (!(m_checkFile.isEmpty() ? startHarvest() : startCheckOfFile()))
        return BadInput;
    return QCoreApplication::exec();
}

bool CCommandLine::startHarvest()
{
    // The one place where the command line's fetching is chosen: the window's under --classic, today's web else.
    std::unique_ptr<PageFetching> fetching;
    if (!m_classic)
        fetching = std::make_unique<WebFetching>(m_insecure);
    m_engine = std::make_unique<CHarvestEngine>(m_config.get(), nullptr, std::move(fetching));
    if (!m_engine->runClaimFailure().isEmpty())
        return fail(m_engine->runClaimFailure());
    // The harvest goes on, as in the window; every page it fetches is then reported as not stored.
    if (m_engine->runFolderFailures() > 0)
        Console::tell(QStringLiteral("cannot make the folder %1").arg(UserFolders::runFolder(m_engine->runStamp())));
    m_engine->setKeepProxies(m_check);
    m_engine->setWholeProxyCopies(!m_classic);
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
    // Queued: it can come from start() itself, before the event loop runs, where an exit would be lost.
    connect(m_engine.get(), &CHarvestEngine::nothingToFetch, this, &CCommandLine::finish, Qt::QueuedConnection);

    m_pagesTotal = static_cast<int>(m_urls.size()); // the engine counts URLs in int
    m_engine->start(m_depth > 0 ? CHarvestEngine::MultipleCrawl : CHarvestEngine::SingleCrawl);
    return true;
}

namespace {

// A number in its range, or the whole value is refused.
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int lowest, int highest, int* value)
{
    bool ok = false;
    *value = parser.value(option).toInt(&ok, 10);
    if (ok && *value >= lowest && *value <= highest)
        return true;
    return fail(QStringLiteral("--%1 must be %2 to %3, not \"%4\".")
                    .arg(option.names().first())
                    .arg(lowest)
                    .arg(highest)
                    .arg(parser.value(option)));
}

QCommandLineOption valueOption(const char* name, const char* description, const char* valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(valueName));
}

const QCommandLineOption harvestOption = valueOption("harvest", "The URLs to harvest, one a line.", "FILE");
const QCommandLineOption threadsOption = valueOption("threads", "Page fetchers, 1 to 20 (5).", "N");
const QCommandLineOption depthOption =
    valueOption("depth", "Follow links first, N levels deep (1 to 5), as Multiple Crawl.", "N");
const QCommandLineOption templateOption = valueOption("template", "The output line template, e.g. A:P.", "TEXT");
const QCommandLineOption timeoutOption = valueOption("timeout", "Fetch time-out: 10, 15, 20 or 25 seconds.", "SECONDS");
const QCommandLineOption reportOption =
    valueOption("report", "Write what each source gave to FILE, tab-separated.", "FILE");
const QCommandLineOption classicOption(QStringLiteral("classic"),
                                       QStringLiteral("The window's harvest: http:// only, port 80, no redirect."));
const QCommandLineOption insecureOption(QStringLiteral("insecure"),
                                        QStringLiteral("Accept certificates that fail verification."));
const QCommandLineOption checkOption(QStringLiteral("check"),
                                     QStringLiteral("Check the proxies of FILE (sievra --check FILE), or those the "
                                                    "harvest found, and list the working ones."));
const QCommandLineOption judgeOption = valueOption("judge", "The http:// page fetched through each proxy.", "URL");
const QCommandLineOption markerOption = valueOption("judge-marker", "A text the judge's page always holds.", "TEXT");
const QCommandLineOption checkTimeoutOption =
    valueOption("check-timeout", "Seconds for the whole check of one proxy, 1 to 60 (5).", "SECONDS");
const QCommandLineOption concurrencyOption =
    valueOption("concurrency", "Checks in flight at a time, 1 to 4096 (256).", "N");
const QCommandLineOption checkReportOption =
    valueOption("check-report", "Write what the check of each proxy found to FILE, tab-separated.", "FILE");
const QCommandLineOption formatOption =
    valueOption("format", "The check's list: text (the line template), json or csv records.", "NAME");
const QCommandLineOption geoipOption =
    valueOption("geoip", "A MaxMind-format country or ASN database (.mmdb); may be given twice.", "FILE");

// Opened now, so a report that cannot be written stops the run before it starts.
bool reportWritable(const QString& path, const QString& what)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    return fail(QStringLiteral("cannot write the %1 %2: %3").arg(what, path, file.errorString()));
}

} // namespace

bool CCommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Harvests the proxies of the pages listed in FILE without a "
                                                    "window and prints the output file's path."));
    parser.addOptions({harvestOption, threadsOption, depthOption, templateOption, timeoutOption, reportOption,
                       classicOption, insecureOption, checkOption, judgeOption, markerOption, checkTimeoutOption,
                       concurrencyOption, checkReportOption, formatOption, geoipOption});
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    m_check = parser.isSet(checkOption);
    QStringList positional = parser.positionalArguments();
    // "--check FILE": the file is the one argument that is no option's value.
    if (m_check && !parser.isSet(harvestOption) && !positional.isEmpty())
        m_checkFile = positional.takeFirst();
    if (!positional.isEmpty())
        return fail(QStringLiteral("unexpected argument: ") + positional.first());
    if (!parser.isSet(harvestOption) && m_checkFile.isEmpty())
        return fail(m_check ? QStringLiteral("--check needs a FILE, or --harvest FILE.")
                            : QStringLiteral("--harvest FILE is missing."));

    if (parser.isSet(threadsOption) && !readNumber(parser, threadsOption, 1, CHarvestEngine::fetcherCount, &m_threads))
        return false;
    if (parser.isSet(depthOption) && !readNumber(parser, depthOption, 1, 5, &m_depth))
        return false;
    int timeoutChoice = -1;
    if (parser.isSet(timeoutOption)) {
        const QStringList choices = {QStringLiteral("10"), QStringLiteral("15"), QStringLiteral("20"),
                                     QStringLiteral("25")};
        timeoutChoice = static_cast<int>(choices.indexOf(parser.value(timeoutOption)));
        if (timeoutChoice < 0)
            return fail(
                QStringLiteral("--timeout must be 10, 15, 20 or 25, not \"%1\".").arg(parser.value(timeoutOption)));
    }

    m_classic = parser.isSet(classicOption);
    m_insecure = parser.isSet(insecureOption);
    if (m_classic && m_insecure)
        return fail(QStringLiteral("--insecure has no use with --classic, which fetches no https:// page."));
    if (!parseCheck(parser))
        return false;
    if (m_checkFile.isEmpty() && !readUrls(parser.value(harvestOption)))
        return false;

    if (parser.isSet(reportOption)) {
        if (!m_checkFile.isEmpty())
            return fail(QStringLiteral("--report tells what each source of a harvest gave; use --check-report."));
        m_reportPath = parser.value(reportOption);
        if (!reportWritable(m_reportPath, QStringLiteral("report")))
            return false;
    }
    if (m_insecure)
        printLine(stderr, QStringLiteral("sievra: --insecure: certificates that fail verification are accepted."));

    // The stored values stand for what is not given; none of this reaches the settings file.
    m_config = std::make_unique<CConfig>();
    m_config->setSaveOnExit(false);
    if (timeoutChoice >= 0)
        m_config->setTimeout(timeoutChoice);
    if (m_depth > 0)
        m_config->setDepth(m_depth);
    // Upper case, as the configuration window takes it.
    if (parser.isSet(templateOption))
        m_config->setOutputFormat(parser.value(templateOption).toUpper());
    m_checkOptions.lineTemplate = m_config->outputFormat();
    return true;
}

bool CCommandLine::parseCheck(const QCommandLineParser& parser)
{
    for (const QCommandLineOption* option : {&judgeOption, &markerOption, &checkTimeoutOption, &concurrencyOption,
                                             &checkReportOption, &formatOption, &geoipOption})
        if (!m_check && parser.isSet(*option))
            return fail(QStringLiteral("--%1 needs --check.").arg(option->names().first()));
    if (!m_check)
        return true;

    m_checkOptions.insecure = m_insecure;
    m_checkOptions.judge = QUrl(ExternalHosts::proxyJudge);
    m_checkOptions.marker = ExternalHosts::proxyJudgeMarker.toUtf8();
    if (parser.isSet(judgeOption)) {
        m_checkOptions.judge = WebUrl::fromText(parser.value(judgeOption));
        if (m_checkOptions.judge.isEmpty())
            return fail(QStringLiteral("--judge must be an http:// or https:// URL, not \"%1\".")
                            .arg(parser.value(judgeOption)));
        // The default marker belongs to the default judge.
        if (!parser.isSet(markerOption))
            return fail(QStringLiteral("--judge needs --judge-marker TEXT: a text its page always holds."));
    }
    if (parser.isSet(markerOption)) {
        m_checkOptions.marker = parser.value(markerOption).toUtf8();
        if (m_checkOptions.marker.isEmpty())
            return fail(QStringLiteral("--judge-marker must not be empty."));
    }
    int seconds = m_checkOptions.timeoutMs / 1000;
    if (parser.isSet(checkTimeoutOption) && !readNumber(parser, checkTimeoutOption, 1, 60, &seconds))
        return false;
    m_checkOptions.timeoutMs = seconds * 1000;
    if (parser.isSet(concurrencyOption) &&
        !readNumber(parser, concurrencyOption, 1, CProxyChecker::maxConcurrency, &m_checkOptions.concurrency))
        return false;
    if (parser.isSet(checkReportOption)) {
        m_checkOptions.reportPath = parser.value(checkReportOption);
        if (!reportWritable(m_checkOptions.reportPath, QStringLiteral("check report")))
            return false;
    }
    if (parser.isSet(formatOption)) {
        const std::optional<ListFormat::Format> format = ListFormat::fromName(parser.value(formatOption));
        if (!format)
            return fail(
                QStringLiteral("--format must be text, json or csv, not \"%1\".").arg(parser.value(formatOption)));
        m_checkOptions.format = *format;
    }
    return openGeo(parser);
}

// The databases named, checked before the run starts; where the records or the report will show places, the usual
// folders for a kind not named, and one line when a kind is still missing.
bool CCommandLine::openGeo(const QCommandLineParser& parser)
{
    m_geo = std::make_unique<GeoLookup>();
    m_checkOptions.geo = m_geo.get();
    for (const QString& path : parser.values(geoipOption)) {
        QString failure;
        if (!m_geo->open(path, &failure))
            return fail(failure);
    }
    if (m_checkOptions.format == ListFormat::Text && m_checkOptions.reportPath.isEmpty())
        return true;
    m_geo->openFromFolders(GeoLookup::usualFolders());
    if (m_geo->hasCountry() && m_geo->hasNetwork())
        return true;
    const QString folders = GeoLookup::usualFolders().join(QStringLiteral(" or "));
    if (!m_geo->hasCountry() && !m_geo->hasNetwork())
        Console::tell(QStringLiteral("no country or ASN database: put GeoLite2-Country.mmdb and GeoLite2-ASN.mmdb (or "
                                     "DB-IP's dbip-country-lite.mmdb and dbip-asn-lite.mmdb) in %1, or name them "
                                     "with --geoip FILE; the country and network fields stay empty.")
                          .arg(folders));
    else if (!m_geo->hasCountry())
        Console::tell(QStringLiteral("no country database: put GeoLite2-Country.mmdb (or DB-IP's "
                                     "dbip-country-lite.mmdb) in %1, or name it with --geoip FILE; the country "
                                     "fields stay empty.")
                          .arg(folders));
    else
        Console::tell(QStringLiteral("no ASN database: put GeoLite2-ASN.mmdb (or DB-IP's dbip-asn-lite.mmdb) in %1, "
                                     "or name it with --geoip FILE; the network fields stay empty.")
                          .arg(folders));
    return true;
}

bool CCommandLine::readUrls(const QString& file)
{
    QString failure;
    SkippedLines skipped;
    const bool read = m_classic ? readUrlListFile(file, &m_urls, &failure, &skipped)
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
    return true;
}

bool CCommandLine::makeFolders()
{
    const QStringList failed = UserFolders::makeUserFolders();
    if (!failed.isEmpty())
        return fail(QStringLiteral("cannot make the folder %1").arg(failed.first()));
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
    m_stopRequested = true;
    // A check keeps the working proxies found so far.
    if (m_checkRun)
        return m_checkRun->stop();
    // As Stop, and a link crawl ends too: the pages so far are extracted, or a running extraction keeps its lines
    // so far.
    if (m_engine) {
        m_engine->stopCrawl();
        m_engine->stop();
    }
}

void CCommandLine::showProgress(bool last)
{
    const QString text = QStringLiteral("pages %1 of %2, proxies %3").arg(m_pagesDone).arg(m_pagesTotal).arg(m_proxies);
    if (text == m_shown && !(last && m_terminal))
        return;
    m_shown = text;
    Console::showProgress(text, m_terminal, last);
}

void CCommandLine::writeReport(const QHash<QString, int>* workingPerPage)
{
    if (m_reportPath.isEmpty())
        return;
    CSourceReport report(m_engine->sourceResults(), m_engine->linesPerPage());
    if (workingPerPage)
        report.setWorkingPerPage(*workingPerPage);
    QFile file(m_reportPath);
    const QByteArray text = report.text();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush())
        printLine(stderr,
                  QStringLiteral("sievra: cannot write the report %1: %2").arg(m_reportPath, file.errorString()));
}

void CCommandLine::finish()
{
    showProgress(true);
    printLine(stderr, CSourceReport(m_engine->sourceResults(), m_engine->linesPerPage()).summary());
    if (!m_outputPath.isEmpty()) {
        printLine(stdout, m_outputPath);
        // A stop means the whole run: the harvest's list is kept, and not checked.
        if (m_check && !m_stopRequested)
            return startCheckOfHarvest();
        writeReport();
        QCoreApplication::exit(Written);
        return;
    }
    writeReport();
    if (!m_failure.isEmpty()) {
        printLine(stderr, QStringLiteral("sievra: ") + QString(m_failure).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        QCoreApplication::exit(BadInput);
    } else {
        printLine(stderr, QStringLiteral("sievra: no proxies found."));
        QCoreApplication::exit(NoProxies);
    }
}

bool CCommandLine::startCheckOfFile()
{
    ProxyList list;
    QString failure;
    if (!list.addFile(m_checkFile, &failure))
        return fail(QStringLiteral("cannot read %1: %2").arg(m_checkFile, failure));
    if (list.unusable() > 0)
        Console::tell(
            list.unusable() == 1
                ? QStringLiteral("skipped 1 address of %1 that is no proxy: %2").arg(m_checkFile, list.firstUnusable())
                : QStringLiteral("skipped %1 addresses of %2 that are no proxy, the first: %3")
                      .arg(QString::number(list.unusable()), m_checkFile, list.firstUnusable()));
    if (list.proxies().empty())
        return fail(QStringLiteral("no proxy in %1.").arg(m_checkFile));
    m_runClaim = std::make_unique<RunStampClaim>();
    if (!m_runClaim->failure().isEmpty())
        return fail(m_runClaim->failure());
    startCheck(list.proxies(), m_runClaim->stamp());
    return true;
}

// The proxies the harvest wrote, in the order of its list, with the sources that gave each.
void CCommandLine::startCheckOfHarvest()
{
    QHash<QString, QString> urlOfPage;
    for (const CCrawlResult& result : m_engine->sourceResults())
        if (!result.pageName().isEmpty())
            urlOfPage.insert(result.pageName(), result.url());
    ProxyList list;
    QHash<quint64, QStringList> sources;
    for (const CLeechProxies::PageProxies& page : m_engine->proxiesPerPage()) {
        const QString url = urlOfPage.value(page.page);
        for (const QByteArray& text : page.proxies) {
            const int colon = int(text.indexOf(':'));
            list.addProxyText(text.constData(), int(text.size()), colon);
            ProxyEndpoint proxy;
            if (!ProxyList::parse(text.constData(), int(text.size()), colon, &proxy))
                continue;
            QStringList& urls = sources[proxy.key()];
            // A list may name one URL twice.
            if (!url.isEmpty() && !urls.contains(url))
                urls << url;
        }
    }
    startCheck(list.proxies(), m_engine->runStamp(), &sources);
}

void CCommandLine::startCheck(const std::vector<ProxyEndpoint>& proxies, quint32 runStamp,
                              const QHash<quint64, QStringList>* sources)
{
    m_checkOptions.runStamp = runStamp;
    m_checkRun = std::make_unique<CCheckRun>(m_checkOptions);
    if (sources)
        m_checkRun->setSources(*sources);
    connect(m_checkRun.get(), &CCheckRun::finished, this, &CCommandLine::checkFinished);
    m_checkRun->fitConcurrency();
    m_checkRun->start(proxies);
}

void CCommandLine::checkFinished(int status)
{
    if (m_engine) {
        const QHash<QString, int> working = m_checkRun->workingPerPage(m_engine->proxiesPerPage());
        writeReport(&working);
    }
    QCoreApplication::exit(status);
}
