#include "cli/harvestrun.h"

#include "check/proxylist.h"
#include "cli/console.h"
#include "cli/exitcode.h"
#include "harvest/harvestengine.h"
#include "harvest/sourcereport.h"
#include "settings/userfolders.h"
#include "util/namedoutput.h"

using Console::printLine;

CHarvestRun::CHarvestRun(const HarvestJob& job, bool terminal, NamedOutput* report, QObject* parent)
    : QObject(parent), m_job(job), m_report(report), m_terminal(terminal)
{
}

// The engine waits for its extraction.
CHarvestRun::~CHarvestRun() = default;

bool CHarvestRun::start()
{
    m_engine = std::make_unique<CHarvestEngine>(m_job);
    if (!m_engine->runClaimFailure().isEmpty()) {
        Console::tell(m_engine->runClaimFailure());
        return false;
    }
    // The harvest goes on, as in the window; every page it fetches is then reported as not stored.
    if (m_engine->runFolderFailures() > 0)
        Console::tell(QStringLiteral("cannot make the folder %1").arg(UserFolders::runFolder(m_engine->runStamp())));
    if (m_pageSink)
        m_engine->setPageSink(m_pageSink);
    if (m_pageRead)
        m_engine->setPageRead(m_pageRead);
    connect(m_engine.get(), &CHarvestEngine::harvestStarting, this, &CHarvestRun::fetchStarting);
    connect(m_engine.get(), &CHarvestEngine::extractionStarting, this, &CHarvestRun::extractionStarting);
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
    connect(m_engine.get(), &CHarvestEngine::extractionFinished, this, &CHarvestRun::end);
    // Queued: it can come from start() itself, before the event loop runs, where an exit would be lost.
    connect(m_engine.get(), &CHarvestEngine::nothingToFetch, this, &CHarvestRun::end, Qt::QueuedConnection);

    m_pagesTotal = static_cast<int>(m_job.urls.size()); // the engine counts URLs in int
    m_engine->start(m_job.depth > 0 ? CHarvestEngine::MultipleCrawl : CHarvestEngine::SingleCrawl);
    return true;
}

void CHarvestRun::stop()
{
    m_stopped = true;
    if (!m_engine)
        return;
    m_engine->stopCrawl();
    m_engine->stop();
}

quint32 CHarvestRun::runStamp() const
{
    return m_engine->runStamp();
}

QList<CLeechProxies::PageProxies> CHarvestRun::proxiesPerPage() const
{
    return m_engine->proxiesPerPage();
}

QList<CCrawlResult> CHarvestRun::sourceResults() const
{
    return m_engine->sourceResults();
}

QHash<QString, int> CHarvestRun::linesPerPage() const
{
    return m_engine->linesPerPage();
}

std::vector<ProxyEndpoint> CHarvestRun::foundProxies(QHash<quint64, QStringList>* sources) const
{
    QHash<QString, QString> urlOfPage;
    for (const CCrawlResult& result : m_engine->sourceResults())
        if (!result.pageName().isEmpty())
            urlOfPage.insert(result.pageName(), result.url());
    ProxyList list;
    for (const CLeechProxies::PageProxies& page : m_engine->proxiesPerPage()) {
        const QString url = urlOfPage.value(page.page);
        for (const QByteArray& text : page.proxies) {
            const int colon = int(text.indexOf(':'));
            list.addProxyText(text.constData(), int(text.size()), colon);
            ProxyEndpoint proxy;
            if (!ProxyList::parse(text.constData(), int(text.size()), colon, &proxy))
                continue;
            QStringList& urls = (*sources)[proxy.key()];
            // A list may name one URL twice.
            if (!url.isEmpty() && !urls.contains(url))
                urls << url;
        }
    }
    return list.proxies();
}

void CHarvestRun::showProgress(bool last)
{
    const QString text = QStringLiteral("pages %1 of %2, proxies %3").arg(m_pagesDone).arg(m_pagesTotal).arg(m_proxies);
    if (text == m_shown && !(last && m_terminal))
        return;
    m_shown = text;
    Console::showProgress(text, m_terminal, last);
}

void CHarvestRun::writeReport(const QHash<QString, int>* workingPerPage) const
{
    if (!m_report)
        return;
    CSourceReport report(m_engine->sourceResults(), m_engine->tallies(), m_engine->proxiesPerPage());
    if (workingPerPage)
        report.setWorkingPerPage(*workingPerPage);
    QString failure;
    if (!m_report->commit(report.text(), &failure))
        Console::tell(QStringLiteral("cannot write the report %1: %2").arg(m_report->path(), failure));
}

void CHarvestRun::end()
{
    showProgress(true);
    printLine(stderr, CSourceReport(m_engine->sourceResults(), m_engine->tallies()).summary());
    if (!m_outputPath.isEmpty()) {
        printLine(stdout, m_outputPath);
        // A stop means the whole run: the harvest's list is kept, and not checked.
        if (m_job.checkFollows && !m_stopped)
            return emit readyForCheck();
        writeReport();
        return emit finished(ExitCode::written);
    }
    writeReport();
    if (!m_failure.isEmpty()) {
        printLine(stderr, QStringLiteral("sievra: ") + QString(m_failure).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        emit finished(ExitCode::badInput);
    } else {
        printLine(stderr, QStringLiteral("sievra: no proxies found."));
        emit finished(ExitCode::noProxies);
    }
}
