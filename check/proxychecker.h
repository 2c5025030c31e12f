#pragma once

#include "check/checkjob.h"
#include "check/checkresult.h"
#include "check/judge.h"
#include "check/proxyendpoint.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <vector>

class CProtocolAttempt;
class CProxyCheck;

// Checks a list of proxies, many at a time, all in the event loop of the thread it lives on: first fetches the
// judge's page straight, to learn this machine's address as the judge sees it, then keeps up to `concurrency`
// checks in flight until every proxy has its result.
class CProxyChecker : public QObject
{
    Q_OBJECT

public:
    // Sockets one check may hold at once: one per protocol.
    static constexpr int socketsPerCheck = 4;
    static constexpr int maxConcurrency = 4096;

    explicit CProxyChecker(QObject* parent = nullptr);
    ~CProxyChecker() override;

    void setProxies(const std::vector<ProxyEndpoint>& proxies);
    // The job's judge, marker, certificate rule, time-out and concurrency.
    void setJob(const CheckJob& job);
    // An https:// judge's certificate is verified unless `insecure`.
    void setJudge(const QUrl& url, const QByteArray& marker, bool insecure = false);
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    void setConcurrency(int checks) { m_concurrency = qBound(1, checks, maxConcurrency); }

    void start();
    // Ends the checks in flight and starts no more; finished() follows. Proxies not checked keep "stopped".
    void stop();

    const std::vector<ProxyEndpoint>& proxies() const { return m_proxies; }
    // In the order of the proxies.
    const std::vector<CheckResult>& results() const { return m_results; }
    const Judge& judge() const { return m_judge; }
    int checked() const { return m_checked; }
    int working() const { return m_working; }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

signals:
    // The judge could not be fetched straight, or its page lacks the marker: no check would mean anything.
    void judgeFailed(const QString& reason);
    void progressed();
    // The proxy at `index` of the list is checked (stopped ones are not).
    void proxyChecked(size_t index);
    void finished();

private:
    void judgeFetched();
    void launch();
    void checkFinished(CProxyCheck* check, size_t index);

    std::vector<ProxyEndpoint> m_proxies;
    std::vector<CheckResult> m_results;
    Judge m_judge;
    int m_timeoutMs = 5000;
    int m_concurrency = 256;
    size_t m_next = 0;
    int m_inFlight = 0;
    int m_checked = 0;
    int m_working = 0;
    bool m_stopping = false;
    bool m_ended = false;
    QElapsedTimer m_clock;
    QElapsedTimer m_judgeClock;
    CProtocolAttempt* m_direct = nullptr;
};
