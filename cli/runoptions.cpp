#include "cli/runoptions.h"

#include "check/proxychecker.h"
#include "check/proxylist.h"
#include "cli/exitcode.h"
#include "cli/pooloptions.h"
#include "cli/serveoptions.h"
#include "settings/config.h"
#include "util/externalhosts.h"
#include "util/fileidentity.h"
#include "util/urllistfile.h"
#include "util/weburl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

namespace {

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
const QCommandLineOption judgeOption =
    valueOption("judge", "The http:// or https:// page fetched through each proxy.", "URL");
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

// One reading of the arguments: the options so far, and what is to be told. Each step returns false when the
// run must not start.
class Reading
{
public:
    bool read(const QStringList& arguments);

    RunOptions options;
    RunOptions::Parsed parsed;

private:
    bool refuse(const QString& message);
    void tell(const QString& message) { parsed.notices << QStringLiteral("sievra: ") + message; }
    bool readNumber(const QCommandLineOption& option, int lowest, int highest, int* value);
    bool readHarvest();
    bool readCheck();
    bool readPoolTask();
    bool readServe();
    bool readFormat();
    bool outputsApart();
    bool openGeo();
    bool readUrls(const QString& file);
    bool readProxies();

    QCommandLineParser m_parser;
};

bool Reading::refuse(const QString& message)
{
    parsed.exitCode = ExitCode::badInput;
    parsed.refusal = QStringLiteral("sievra: ") + message;
    return false;
}

// A number in its range, or the whole value is refused.
bool Reading::readNumber(const QCommandLineOption& option, int lowest, int highest, int* value)
{
    bool ok = false;
    *value = m_parser.value(option).toInt(&ok, 10);
    if (ok && *value >= lowest && *value <= highest)
        return true;
    return refuse(QStringLiteral("--%1 must be %2 to %3, not \"%4\".")
                      .arg(option.names().first())
                      .arg(lowest)
                      .arg(highest)
                      .arg(m_parser.value(option)));
}

bool Reading::read(const QStringList& arguments)
{
    m_parser.setApplicationDescription(QStringLiteral("Harvests the proxies of the pages listed in FILE without a "
                                                      "window and prints the output file's path."));
    m_parser.addOptions({harvestOption, threadsOption, depthOption, templateOption, timeoutOption, reportOption,
                         classicOption, insecureOption, checkOption, judgeOption, markerOption, checkTimeoutOption,
                         concurrencyOption, checkReportOption, formatOption, geoipOption});
    m_parser.addOptions(PoolOptions::options());
    m_parser.addOptions(ServeOptions::options());
    const QCommandLineOption helpOption = m_parser.addHelpOption();
    const QCommandLineOption versionOption = m_parser.addVersionOption();
    if (!m_parser.parse(arguments))
        return refuse(m_parser.errorText());
    // As QCommandLineParser::showHelp() and showVersion() print them.
    if (m_parser.isSet(helpOption)) {
        parsed.output = m_parser.helpText();
        return false;
    }
    if (m_parser.isSet(versionOption)) {
        parsed.output = QCoreApplication::applicationName() + QLatin1Char(' ') +
                        QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return false;
    }
    QString refusal;
    if (!PoolOptions::read(m_parser, &options.pool, &refusal))
        return refuse(refusal);
    if (options.pool.task != PoolJob::Task::Record)
        return readPoolTask();
    options.check = m_parser.isSet(checkOption);
    QStringList positional = m_parser.positionalArguments();
    // "--check FILE": the file is the one argument that is no option's value.
    if (options.check && !m_parser.isSet(harvestOption) && !positional.isEmpty())
        options.checkFile = positional.takeFirst();
    if (!positional.isEmpty())
        return refuse(QStringLiteral("unexpected argument: ") + positional.first());
    if (!m_parser.isSet(harvestOption) && options.checkFile.isEmpty())
        return refuse(options.check ? QStringLiteral("--check needs a FILE, or --harvest FILE.")
                                    : QStringLiteral("--harvest FILE is missing."));

    if (!readHarvest() || !readCheck())
        return false;
    if (ServeOptions::anySet(m_parser) && m_parser.isSet(harvestOption))
        return refuse(QStringLiteral("--serve serves the pool, or what --check FILE finds; not a harvest's proxies."));
    if (ServeOptions::anySet(m_parser) && !readServe())
        return false;
    // A check's text list is written through the harvest's template.
    options.checkJob.lineTemplate = options.harvest.lineTemplate;
    if (options.checkFile.isEmpty() && !readUrls(m_parser.value(harvestOption)))
        return false;
    if (options.harvest.insecure)
        tell(QStringLiteral("--insecure: certificates that fail verification are accepted."));
    if (!options.checkFile.isEmpty() && !readProxies())
        return false;
    return outputsApart();
}

// The harvest's job: the options given, the stored settings for the template and time-out not given.
bool Reading::readHarvest()
{
    CConfig stored;
    stored.setSaveOnExit(false);
    HarvestJob& job = options.harvest;
    job = HarvestJob::fromSettings(stored);
    // A Single Crawl unless --depth asks for links; the settings hold no fetcher count.
    job.depth = 0;
    // What each page gave is kept for the check of the harvest's proxies; the pool takes each page as it is read.
    job.checkFollows = options.check && options.checkFile.isEmpty();
    job.keepProxies = options.checkFile.isEmpty() && options.check;
    if (m_parser.isSet(threadsOption) && !readNumber(threadsOption, 1, HarvestJob::maxThreads, &job.threads))
        return false;
    if (m_parser.isSet(depthOption) && !readNumber(depthOption, 1, 5, &job.depth))
        return false;
    if (m_parser.isSet(timeoutOption)) {
        const QStringList choices = {QStringLiteral("10"), QStringLiteral("15"), QStringLiteral("20"),
                                     QStringLiteral("25")};
        const auto choice = static_cast<int>(choices.indexOf(m_parser.value(timeoutOption)));
        if (choice < 0)
            return refuse(
                QStringLiteral("--timeout must be 10, 15, 20 or 25, not \"%1\".").arg(m_parser.value(timeoutOption)));
        job.timeoutMs = CConfig::timeoutMilliseconds(choice);
    }
    // --classic: the window's rules for the whole harvest, chosen here once (PoolOptions reads it too, to keep such
    // a harvest out of the pool).
    job.rules = m_parser.isSet(classicOption) ? HarvestJob::Rules::Window : HarvestJob::Rules::Web;
    job.insecure = m_parser.isSet(insecureOption);
    // With a check it is the judge's certificate that may fail, whatever fetches the harvest's pages.
    if (!job.fetchesTodaysWeb() && job.insecure && !options.check)
        return refuse(QStringLiteral("--insecure has no use with --classic, which fetches no https:// page."));
    if (m_parser.isSet(reportOption)) {
        if (!options.checkFile.isEmpty())
            return refuse(QStringLiteral("--report tells what each source of a harvest gave; use --check-report."));
        job.reportPath = m_parser.value(reportOption);
    }
    // Upper case, as the configuration window takes it.
    if (m_parser.isSet(templateOption))
        job.lineTemplate = m_parser.value(templateOption).toUpper();
    return true;
}

// No output may be an input, nor two outputs one file, by whatever path: writing one would lose the other.
bool Reading::outputsApart()
{
    struct NamedFile
    {
        QString option;
        QString path;
    };
    QList<NamedFile> inputs;
    if (m_parser.isSet(harvestOption))
        inputs.append({QStringLiteral("harvest"), m_parser.value(harvestOption)});
    if (!options.checkFile.isEmpty())
        inputs.append({QStringLiteral("check"), options.checkFile});
    for (const QString& path : m_parser.values(geoipOption))
        inputs.append({QStringLiteral("geoip"), path});
    QList<NamedFile> outputs;
    if (!options.harvest.reportPath.isEmpty())
        outputs.append({QStringLiteral("report"), options.harvest.reportPath});
    if (!options.checkJob.reportPath.isEmpty())
        outputs.append({QStringLiteral("check-report"), options.checkJob.reportPath});
    if (!options.pool.reportPath.isEmpty())
        outputs.append({QStringLiteral("report"), options.pool.reportPath});
    if (!options.pool.path.isEmpty())
        outputs.append({QStringLiteral("pool"), options.pool.path});
    if (!options.serveLog.isEmpty())
        outputs.append({QStringLiteral("serve-log"), options.serveLog});

    for (int o = 0; o < outputs.size(); ++o) {
        const FileIdentity output = FileIdentity::of(outputs[o].path);
        for (const NamedFile& input : std::as_const(inputs))
            if (output == FileIdentity::of(input.path))
                return refuse(QStringLiteral("--%1 %2 is the file --%3 reads; name another file.")
                                  .arg(outputs[o].option, outputs[o].path, input.option));
        for (int before = 0; before < o; ++before)
            if (output == FileIdentity::of(outputs[before].path))
                return refuse(QStringLiteral("--%1 and --%2 name one file, %3; name two.")
                                  .arg(outputs[before].option, outputs[o].option, outputs[o].path));
    }
    return true;
}

bool Reading::readCheck()
{
    for (const QCommandLineOption* option : {&judgeOption, &markerOption, &checkTimeoutOption, &concurrencyOption,
                                             &checkReportOption, &formatOption, &geoipOption})
        if (!options.check && m_parser.isSet(*option))
            return refuse(QStringLiteral("--%1 needs --check.").arg(option->names().first()));
    if (!options.check)
        return true;

    CheckJob& check = options.checkJob;
    check.insecure = m_parser.isSet(insecureOption);
    check.judge = QUrl(ExternalHosts::proxyJudge);
    check.marker = ExternalHosts::proxyJudgeMarker.toUtf8();
    if (m_parser.isSet(judgeOption)) {
        check.judge = WebUrl::fromText(m_parser.value(judgeOption));
        if (check.judge.isEmpty())
            return refuse(QStringLiteral("--judge must be an http:// or https:// URL, not \"%1\".")
                              .arg(m_parser.value(judgeOption)));
        // The default marker belongs to the default judge.
        if (!m_parser.isSet(markerOption))
            return refuse(QStringLiteral("--judge needs --judge-marker TEXT: a text its page always holds."));
    }
    if (m_parser.isSet(markerOption)) {
        check.marker = m_parser.value(markerOption).toUtf8();
        if (check.marker.isEmpty())
            return refuse(QStringLiteral("--judge-marker must not be empty."));
    }
    int seconds = check.timeoutMs / 1000;
    if (m_parser.isSet(checkTimeoutOption) && !readNumber(checkTimeoutOption, 1, 60, &seconds))
        return false;
    check.timeoutMs = seconds * 1000;
    if (m_parser.isSet(concurrencyOption) &&
        !readNumber(concurrencyOption, 1, CProxyChecker::maxConcurrency, &check.concurrency))
        return false;
    if (m_parser.isSet(checkReportOption))
        check.reportPath = m_parser.value(checkReportOption);
    return readFormat() && openGeo();
}

bool Reading::readFormat()
{
    if (!m_parser.isSet(formatOption))
        return true;
    const std::optional<ListFormat::Format> format = ListFormat::fromName(m_parser.value(formatOption));
    if (!format)
        return refuse(
            QStringLiteral("--format must be text, json or csv, not \"%1\".").arg(m_parser.value(formatOption)));
    options.checkJob.format = *format;
    return true;
}

bool Reading::readServe()
{
    ServeJob job;
    QString refusal;
    if (!ServeOptions::read(m_parser, &job, &options.serveLog, &refusal))
        return refuse(refusal);
    // An upstream that does not answer within a check's time would not have passed the check either.
    job.upstreamTimeoutMs = options.checkJob.timeoutMs;
    options.serve = job;
    return true;
}

// --export, --recheck, --sources and --serve: about the pool itself, with no list of their own to read.
bool Reading::readPoolTask()
{
    PoolJob& pool = options.pool;
    const QString task = pool.task == PoolJob::Task::Export    ? QStringLiteral("export")
                         : pool.task == PoolJob::Task::Recheck ? QStringLiteral("recheck")
                         : pool.task == PoolJob::Task::Serve   ? QStringLiteral("serve")
                                                               : QStringLiteral("sources");
    if (pool.task != PoolJob::Task::Serve && ServeOptions::anySet(m_parser))
        return refuse(QStringLiteral("--%1 goes alone, without --serve.").arg(task));
    if (m_parser.isSet(harvestOption) || m_parser.isSet(checkOption))
        return refuse(QStringLiteral("--%1 goes alone, without --harvest or --check.").arg(task));
    if (!m_parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument: ") + m_parser.positionalArguments().first());
    if (m_parser.isSet(reportOption)) {
        if (pool.task != PoolJob::Task::Sources)
            return refuse(QStringLiteral("--report needs --harvest or --sources."));
        pool.reportPath = m_parser.value(reportOption);
    }
    CConfig stored;
    stored.setSaveOnExit(false);
    const QString lineTemplate = m_parser.isSet(templateOption) ? m_parser.value(templateOption).toUpper()
                                                                : HarvestJob::fromSettings(stored).lineTemplate;
    options.harvest.lineTemplate = lineTemplate;
    // No harvest runs, but the command line's rules stand, as for a check of a file.
    options.harvest.rules = HarvestJob::Rules::Web;
    if (pool.task == PoolJob::Task::Recheck) {
        options.check = true;
        if (!readCheck())
            return false;
    } else if (pool.task == PoolJob::Task::Serve) {
        // The rechecks while serving take the check's options; they write no list and no report.
        for (const QCommandLineOption* option : {&checkReportOption, &formatOption})
            if (m_parser.isSet(*option))
                return refuse(QStringLiteral("--%1 needs --check or --recheck.").arg(option->names().first()));
        options.check = true;
        if (!readCheck() || !readServe())
            return false;
    } else {
        for (const QCommandLineOption* option : {&judgeOption, &markerOption, &checkTimeoutOption, &concurrencyOption,
                                                 &checkReportOption, &geoipOption, &insecureOption})
            if (m_parser.isSet(*option))
                return refuse(QStringLiteral("--%1 needs --check or --recheck.").arg(option->names().first()));
        if (pool.task == PoolJob::Task::Sources && m_parser.isSet(formatOption))
            return refuse(QStringLiteral("--format needs --check, --recheck or --export."));
        if (!readFormat())
            return false;
    }
    options.checkJob.lineTemplate = lineTemplate;
    return outputsApart();
}

// The databases named, checked before the run starts; where the records or the report will show places, the usual
// folders for a kind not named, and one line when a kind is still missing.
bool Reading::openGeo()
{
    options.geo = std::make_unique<GeoLookup>();
    options.checkJob.geo = options.geo.get();
    GeoLookup& geo = *options.geo;
    for (const QString& path : m_parser.values(geoipOption)) {
        QString failure;
        if (!geo.open(path, &failure))
            return refuse(failure);
    }
    if (options.checkJob.format == ListFormat::Text && options.checkJob.reportPath.isEmpty())
        return true;
    geo.openFromFolders(GeoLookup::usualFolders());
    if (geo.hasCountry() && geo.hasNetwork())
        return true;
    const QString folders = GeoLookup::usualFolders().join(QStringLiteral(" or "));
    if (!geo.hasCountry() && !geo.hasNetwork())
        tell(QStringLiteral("no country or ASN database: put GeoLite2-Country.mmdb and GeoLite2-ASN.mmdb (or "
                            "DB-IP's dbip-country-lite.mmdb and dbip-asn-lite.mmdb) in %1, or name them "
                            "with --geoip FILE; the country and network fields stay empty.")
                 .arg(folders));
    else if (!geo.hasCountry())
        tell(QStringLiteral("no country database: put GeoLite2-Country.mmdb (or DB-IP's "
                            "dbip-country-lite.mmdb) in %1, or name it with --geoip FILE; the country "
                            "fields stay empty.")
                 .arg(folders));
    else
        tell(QStringLiteral("no ASN database: put GeoLite2-ASN.mmdb (or DB-IP's dbip-asn-lite.mmdb) in %1, "
                            "or name it with --geoip FILE; the network fields stay empty.")
                 .arg(folders));
    return true;
}

bool Reading::readUrls(const QString& file)
{
    QString failure;
    SkippedLines skipped;
    QStringList& urls = options.harvest.urls;
    const bool read = options.harvest.fetchesTodaysWeb() ? readWebUrlListFile(file, &urls, &failure, &skipped)
                                                         : readUrlListFile(file, &urls, &failure, &skipped);
    if (!read)
        return refuse(QStringLiteral("cannot read %1: %2").arg(file, failure));
    if (skipped.count > 0)
        tell(skipped.count == 1 ? QStringLiteral("skipped 1 line of %1 with no usable URL: %2").arg(file, skipped.first)
                                : QStringLiteral("skipped %1 lines of %2 with no usable URL, the first: %3")
                                      .arg(QString::number(skipped.count), file, skipped.first));
    if (urls.isEmpty())
        return refuse(QStringLiteral("no usable URL in %1.").arg(file));
    return true;
}

bool Reading::readProxies()
{
    const QString& file = options.checkFile;
    ProxyList list;
    QString failure;
    if (!list.addFile(file, &failure))
        return refuse(QStringLiteral("cannot read %1: %2").arg(file, failure));
    if (list.unusable() > 0)
        tell(list.unusable() == 1
                 ? QStringLiteral("skipped 1 address of %1 that is no proxy: %2").arg(file, list.firstUnusable())
                 : QStringLiteral("skipped %1 addresses of %2 that are no proxy, the first: %3")
                       .arg(QString::number(list.unusable()), file, list.firstUnusable()));
    if (list.proxies().empty())
        return refuse(QStringLiteral("no proxy in %1.").arg(file));
    options.proxies = list.proxies();
    return true;
}

} // namespace

RunOptions::Parsed RunOptions::parse(const QStringList& arguments)
{
    Reading reading;
    if (reading.read(arguments))
        reading.parsed.options = std::move(reading.options);
    return std::move(reading.parsed);
}
