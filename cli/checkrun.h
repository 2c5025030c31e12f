#pragma once

#include "check/checkjob.h"
#include "check/geolookup.h"
#include "check/listformat.h"
#include "check/proxychecker.h"
#include "extraction/leechproxies.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

// A check without a window: runs the checker over a list, shows progress on standard error, and at the end
// writes the working proxies to a new output list, through the line template or as JSON or CSV records, and, when
// asked, the report.
class NamedOutput;

class CCheckRun : public QObject
{
    Q_OBJECT

public:
    // The lists are named with the run's stamp; the report, when the job asks for one, is written to `report`,
    // prepared before the run starts.
    CCheckRun(const CheckJob& job, quint32 runStamp, bool terminal, NamedOutput* report = nullptr,
              QObject* parent = nullptr);

    // The open-file limit raised as far as allowed; the concurrency lowered, with a word, when it does not fit.
    void fitConcurrency();
    // After a harvest: the URLs of the sources that gave each proxy, by ProxyEndpoint::key(), for the records.
    void setSources(const QHash<quint64, QStringList>& sources);
    void start(const std::vector<ProxyEndpoint>& proxies);
    void stop();

    // After finished(): the list written, or empty when no proxy worked or it could not be written.
    QString outputPath() const { return m_outputPath; }
    int working() const { return m_checker.working(); }
    // Every proxy of the list with what its check found and where it is, stopped ones too.
    std::vector<ProxyRecord> allRecords() const;
    // The record of the proxy at `index` of the list, once proxyChecked() told it.
    ProxyRecord recordOf(size_t index) const;
    // The judge could not be fetched: nothing was checked.
    bool judgeFailed() const { return m_judgeFailed; }
    // Working proxies of each page, for a harvest's source report.
    QHash<QString, int> workingPerPage(const QList<CLeechProxies::PageProxies>& pages) const;

signals:
    // With the exit status (ExitCode): some proxy works and the list is written, none does, or it went wrong.
    void finished(int status);
    // As each proxy's check ends, stopped ones left out.
    void proxyChecked(size_t index);

private:
    void showProgress(bool last = false);
    void end();
    bool writeList(const std::vector<ProxyRecord>& records, QString* failure);
    void writeReport(const std::vector<ProxyRecord>& records);

    CheckJob m_job;
    quint32 m_runStamp;
    bool m_terminal;
    NamedOutput* m_report;
    CProxyChecker m_checker;
    GeoLookup m_noPlaces;
    QHash<quint64, QStringList> m_sources;
    bool m_withSources = false;
    QTimer m_progressTimer;
    QString m_shown;
    QString m_outputPath;
    bool m_judgeFailed = false;
};
