#include "harvest/sourcereport.h"

CSourceReport::CSourceReport(const QList<CCrawlResult>& results, const QHash<QString, int>& linesPerPage)
{
    for (const CCrawlResult& result : results)
        m_sources.append({result, result.pageName().isEmpty() ? 0 : linesPerPage.value(result.pageName())});
}

void CSourceReport::setWorkingPerPage(const QHash<QString, int>& workingPerPage)
{
    m_checked = true;
    for (Source& source : m_sources)
        source.working = source.result.pageName().isEmpty() ? 0 : workingPerPage.value(source.result.pageName());
}

QByteArray CSourceReport::text() const
{
    QString text = m_checked ? QStringLiteral("url\tfinal url\toutcome\tstatus\tbytes\tproxies\tworking\tms\n")
                             : QStringLiteral("url\tfinal url\toutcome\tstatus\tbytes\tproxies\tms\n");
    for (const Source& source : m_sources) {
        const CFetchOutcome outcome = source.result.outcome();
        QStringList fields = {source.result.url(),
                              outcome.finalUrl(),
                              outcome.text(),
                              outcome.status() > 0 ? QString::number(outcome.status()) : QString(),
                              QString::number(source.result.bytes()),
                              QString::number(source.proxies)};
        if (m_checked)
            fields << QString::number(source.working);
        fields << QString::number(outcome.milliseconds());
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
        if (source.proxies > 0)
            ++gave;
        else if (failed(source))
            ++failures;
        else
            ++none;
    }
    return QStringLiteral("sources: %1 gave proxies, %2 gave none, %3 failed").arg(gave).arg(none).arg(failures);
}
