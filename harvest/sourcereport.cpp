#include "harvest/sourcereport.h"

#include <QSet>

CSourceReport::CSourceReport(const QList<CCrawlResult>& results,
                             const QHash<QString, CLeechProxies::PageTally>& tallies,
                             const QList<CLeechProxies::PageProxies>& pages)
{
    QHash<QString, const QList<QByteArray>*> proxiesOf;
    for (const CLeechProxies::PageProxies& page : pages)
        proxiesOf.insert(page.page, &page.proxies);
    // New in the order of the report's lines, whatever order the pages were read in.
    QSet<QByteArray> given;
    for (const CCrawlResult& result : results) {
        Source source{result, {}, 0, 0};
        if (!result.pageName().isEmpty()) {
            source.tally = tallies.value(result.pageName());
            if (const QList<QByteArray>* proxies = proxiesOf.value(result.pageName()))
                for (const QByteArray& proxy : *proxies) {
                    const qsizetype before = given.size();
                    given.insert(proxy);
                    source.fresh += given.size() > before;
                }
        }
        m_sources.append(source);
    }
}

void CSourceReport::setWorkingPerPage(const QHash<QString, int>& workingPerPage)
{
    m_checked = true;
    for (Source& source : m_sources)
        source.working = source.result.pageName().isEmpty() ? 0 : workingPerPage.value(source.result.pageName());
}

QByteArray CSourceReport::text() const
{
    // "new" last, so that scripts reading the columns before it keep working.
    QString text = m_checked ? QStringLiteral("url\tfinal url\toutcome\tstatus\tbytes\tproxies\tworking\tms\tnew\n")
                             : QStringLiteral("url\tfinal url\toutcome\tstatus\tbytes\tproxies\tms\tnew\n");
    for (const Source& source : m_sources) {
        const CFetchOutcome outcome = source.result.outcome();
        QStringList fields = {source.result.url(),
                              outcome.finalUrl(),
                              outcome.text(),
                              outcome.status() > 0 ? QString::number(outcome.status()) : QString(),
                              QString::number(source.result.bytes()),
                              QString::number(source.tally.given)};
        if (m_checked)
            fields << QString::number(source.working);
        fields << QString::number(outcome.milliseconds()) << QString::number(source.fresh);
        text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

// A source failed when no whole page came: an error page, a reply cut by the server, or none at all. One that
// gave proxies counts as giving them whatever its outcome.
bool CSourceReport::failed(const Source& source)
{
    const CFetchOutcome::Kind kind = source.result.outcome().kind();
    return kind != CFetchOutcome::Ok && kind != CFetchOutcome::Truncated;
}

QString CSourceReport::summary() const
{
    int gave = 0;
    int none = 0;
    int failures = 0;
    for (const Source& source : m_sources) {
        if (source.tally.given > 0)
            ++gave;
        else if (failed(source))
            ++failures;
        else
            ++none;
    }
    return QStringLiteral("sources: %1 gave proxies, %2 gave none, %3 failed").arg(gave).arg(none).arg(failures);
}
