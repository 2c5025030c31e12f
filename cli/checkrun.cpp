#include "cli/checkrun.h"

#include "check/checkreport.h"
#include "check/proxylist.h"
#include "cli/console.h"
#include "cli/exitcode.h"
#include "cli/openfiles.h"
#include "settings/userfolders.h"
#include "util/namedoutput.h"
#include "util/outputlist.h"

CCheckRun::CCheckRun(const CheckJob& job, quint32 runStamp, bool terminal, NamedOutput* report, QObject* parent)
    : QObject(parent), m_job(job), m_runStamp(runStamp), m_terminal(terminal), m_report(report)
{
    m_checker.setJob(job);
    // Nothing was checked: no file is written, and the report named stays as it was.
    connect(&m_checker, &CProxyChecker::judgeFailed, this, [this](const QString& reason) {
        Console::tell(reason + QLatin1Char('.'));
        m_judgeFailed = true;
        emit finished(ExitCode::badInput);
    });
    connect(&m_checker, &CProxyChecker::finished, this, &CCheckRun::end);
    connect(&m_checker, &CProxyChecker::proxyChecked, this, &CCheckRun::proxyChecked);
    // A few times a second is enough to read, and spares a log one line per proxy.
    m_progressTimer.setInterval(terminal ? 200 : 1000);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { showProgress(); });
}

void CCheckRun::fitConcurrency()
{
    const int fits = OpenFiles::fit(m_job.concurrency, CProxyChecker::socketsPerCheck, QStringLiteral("--concurrency"));
    m_job.concurrency = fits;
    m_checker.setConcurrency(fits);
}

void CCheckRun::setSources(const QHash<quint64, QStringList>& sources)
{
    m_sources = sources;
    m_withSources = true;
}

void CCheckRun::start(const std::vector<ProxyEndpoint>& proxies)
{
    if (m_job.judge.scheme() == QLatin1String("https"))
        Console::tell(QStringLiteral("the judge is https://: proxies are tried by CONNECT, SOCKS 5 and SOCKS 4; "
                                     "plain HTTP is not tried."));
    m_checker.setProxies(proxies);
    m_progressTimer.start();
    m_checker.start();
}

void CCheckRun::stop()
{
    m_checker.stop();
}

void CCheckRun::showProgress(bool last)
{
    const qint64 ms = m_checker.elapsedMs();
    const QString text = QStringLiteral("checked %1 of %2, working %3, %4 checks/s")
                             .arg(m_checker.checked())
                             .arg(m_checker.proxies().size())
                             .arg(m_checker.working())
                             .arg(ms > 0 ? qint64(m_checker.checked()) * 1000 / ms : 0);
    if (text == m_shown && !last)
        return;
    m_shown = text;
    Console::showProgress(text, m_terminal, last);
}

void CCheckRun::end()
{
    m_progressTimer.stop();
    if (m_judgeFailed)
        return;
    showProgress(true);
    // The report tells every proxy; the list only the working ones.
    const bool report = m_report != nullptr;
    const std::vector<ProxyRecord> records = ProxyRecord::fromCheck(
        m_checker.proxies(), m_checker.results(), m_job.geo ? *m_job.geo : m_noPlaces, m_sources, !report);
    if (report)
        writeReport(records);
    Console::printLine(stderr, CheckReport::summary(m_checker.results()));
    if (m_checker.working() == 0) {
        Console::tell(QStringLiteral("no proxy works."));
        return emit finished(ExitCode::noProxies);
    }
    QString failure;
    if (!writeList(records, &failure)) {
        Console::tell(failure);
        return emit finished(ExitCode::badInput);
    }
    Console::printLine(stdout, m_outputPath);
    emit finished(ExitCode::written);
}

bool CCheckRun::writeList(const std::vector<ProxyRecord>& records, QString* failure)
{
    std::vector<ProxyRecord> working;
    for (const ProxyRecord& record : records)
        if (record.result.outcome == CheckResult::Working)
            working.push_back(record);
    QByteArray text;
    if (m_job.format == ListFormat::Json) {
        text = ListFormat::json(working, m_withSources);
    } else if (m_job.format == ListFormat::Csv) {
        text = ListFormat::csv(working, m_withSources);
    } else {
        text = ListFormat::text(working, m_job.lineTemplate);
    }

    // Named by the second the list is written in, taken as the extraction takes its own (a harvest of this run
    // may have written a list in that second).
    OutputList list;
    QString reason;
    if (!list.create(UserFolders::outputFolder(), m_runStamp, &reason, ListFormat::extension(m_job.format))) {
        *failure = QStringLiteral("cannot write %1: %2").arg(list.unfinishedPath(), reason);
        return false;
    }
    if (!list.write(text) || !list.finish(m_checker.working(), &m_outputPath)) {
        *failure = QStringLiteral("cannot write %1: %2").arg(list.unfinishedPath(), list.failure());
        return false;
    }
    return true;
}

void CCheckRun::writeReport(const std::vector<ProxyRecord>& records)
{
    QString failure;
    if (!m_report->commit(CheckReport::text(records, m_withSources), &failure))
        Console::tell(QStringLiteral("cannot write the check report %1: %2").arg(m_report->path(), failure));
}

std::vector<ProxyRecord> CCheckRun::allRecords() const
{
    return ProxyRecord::fromCheck(m_checker.proxies(), m_checker.results(), m_job.geo ? *m_job.geo : m_noPlaces,
                                  m_sources, false);
}

ProxyRecord CCheckRun::recordOf(size_t index) const
{
    const ProxyEndpoint& proxy = m_checker.proxies()[index];
    return ProxyRecord::of(proxy, m_checker.results()[index], m_job.geo ? *m_job.geo : m_noPlaces,
                           m_sources.value(proxy.key()));
}

QHash<QString, int> CCheckRun::workingPerPage(const QList<CLeechProxies::PageProxies>& pages) const
{
    QHash<quint64, bool> works;
    const std::vector<ProxyEndpoint>& proxies = m_checker.proxies();
    for (size_t i = 0; i < proxies.size(); ++i)
        works.insert(proxies[i].key(), m_checker.results()[i].outcome == CheckResult::Working);
    QHash<QString, int> counts;
    for (const CLeechProxies::PageProxies& page : pages) {
        int count = 0;
        for (const QByteArray& text : page.proxies) {
            ProxyEndpoint proxy;
            if (ProxyList::parse(text.constData(), int(text.size()), int(text.indexOf(':')), &proxy))
                count += works.value(proxy.key());
        }
        if (count > 0)
            counts.insert(page.page, count);
    }
    return counts;
}
