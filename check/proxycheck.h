#pragma once

#include "check/checkresult.h"
#include "check/judge.h"
#include "check/protocolattempt.h"
#include "check/proxyendpoint.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// The check of one proxy: connects, then fetches the judge's page through it by every protocol at once, each on
// a connection of its own, all within one time-out.
class CProxyCheck : public QObject
{
    Q_OBJECT

public:
    CProxyCheck(const ProxyEndpoint& proxy, const Judge& judge, int timeoutMs, QObject* parent = nullptr);

    void start();
    // Ends every attempt still running; finished() follows at once.
    void stop();
    const ProxyEndpoint& proxy() const { return m_proxy; }
    const CheckResult& result() const { return m_result; }
    // In the order the first working one is chosen by; the first also tells whether anyone listens.
    static QList<CProtocolAttempt::Protocol> protocolsToTry(const Judge& judge);

signals:
    void finished();

private:
    void startAttempt(CProtocolAttempt::Protocol protocol, bool first);
    void startOtherProtocols();
    void attemptFinished();
    void endRunning(CheckResult::Outcome outcome);
    void sum();

    ProxyEndpoint m_proxy;
    Judge m_judge;
    int m_timeoutMs;
    QElapsedTimer m_clock;
    QTimer m_deadline;
    QList<CProtocolAttempt*> m_attempts;
    CheckResult m_result;
    bool m_done = false;
    bool m_stopped = false;
    bool m_graceGiven = false;
};
