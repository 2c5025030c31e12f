#pragma once

#include "check/proxychecker.h"
#include "extraction/leechproxies.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

// A check without a window: runs the checker over a list, shows progress on standard error, and at the end
// writes the working proxies through the line template to a new output list and, when asked, the report.
class CCheckRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QUrl judge;
        QByteArray marker;
        int timeoutMs = 5000;
        int concurrency = 256;
        QString reportPath;
        QString lineTemplate;
        quint32 runStamp = 0;
        bool terminal = false;
    };

    explicit CCheckRun(const Options& options, QObject* parent = nullptr);

    // The open-file limit raised as far as allowed; the concurrency lowered, with a word, when it does not fit.
    void fitConcurrency();
    void start(const std::vector<ProxyEndpoint>& proxies);
    void stop();

    // After finished(): the list written, or empty when no proxy worked or it could not be written.
    QString outputPath() const { return m_outputPath; }
    int working() const { return m_checker.working(); }
    // Working proxies of each page, for a harvest's source report.
    QHash<QString, int> workingPerPage(const QList<CLeechProxies::PageProxies>& pages) const;

signals:
    // With the exit status: 0 some proxy works (and the list is written), 2 none does, 1 it went wrong.
    void finished(int status);

private:
    void showProgress(bool last = false);
    void end();
    bool writeList(QString* failure);
    void writeReport();

    Options m_options;
    CProxyChecker m_checker;
    QTimer m_progressTimer;
    QString m_shown;
    QString m_outputPath;
    bool m_judgeFailed = false;
};
