#include "check/proxychecker.h"

#include "check/judgepage.h"
#include "check/protocolattempt.h"
#include "check/proxycheck.h"

#include <QTimer>

CProxyChecker::CProxyChecker(QObject* parent) : QObject(parent) {}

CProxyChecker::~CProxyChecker() = default;

void CProxyChecker::setProxies(const std::vector<ProxyEndpoint>& proxies)
{
    m_proxies = proxies;
    m_results.assign(proxies.size(), CheckResult());
}

void CProxyChecker::setJudge(const QUrl& url, const QByteArray& marker, bool insecure)
{
    m_judge = Judge();
    m_judge.url = url;
    m_judge.marker = marker;
    m_judge.insecure = insecure;
}

void CProxyChecker::setJob(const CheckJob& job)
{
    setJudge(job.judge, job.marker, job.insecure);
    setTimeout(job.timeoutMs);
    setConcurrency(job.concurrency);
}

void CProxyChecker::start()
{
    m_judgeClock.start();
    m_direct = new CProtocolAttempt(CProtocolAttempt::Direct, m_judge, m_judgeClock, this);
    connect(m_direct, &CProtocolAttempt::finished, this, &CProxyChecker::judgeFetched);
    QTimer::singleShot(m_timeoutMs, m_direct, [attempt = m_direct] { attempt->end(CheckResult::TimedOut); });
    m_direct->start();
}

void CProxyChecker::judgeFetched()
{
    const CProtocolAttempt* direct = m_direct;
    m_direct->deleteLater();
    m_direct = nullptr;
    if (m_stopping) {
        m_ended = true;
        emit finished();
        return;
    }
    if (direct->outcome() != CheckResult::Working) {
        const QString judge = m_judge.url.toString();
        switch (direct->outcome()) {
        case CheckResult::Liar:
            emit judgeFailed(QStringLiteral("the judge %1 did not answer with status 200 and its marker \"%2\"")
                                 .arg(judge, QString::fromUtf8(m_judge.marker)));
            return;
        case CheckResult::TimedOut:
            emit judgeFailed(QStringLiteral("the judge %1 did not answer in time").arg(judge));
            return;
        default:
            emit judgeFailed(QStringLiteral("the judge %1 cannot be fetched: %2")
                                 .arg(judge, direct->errorText().isEmpty() ? CheckResult::outcomeText(direct->outcome())
                                                                           : direct->errorText()));
            return;
        }
    }
    m_judge.address = direct->peerAddress();
    if (m_judge.address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 ipv4 = m_judge.address.toIPv4Address(&mapped);
        if (mapped)
            m_judge.address = QHostAddress(ipv4);
    }
    if (m_judge.address != direct->localAddress())
        m_judge.ownOfJudge = m_judge.address.toString();
    m_judge.ownAddress = JudgePage::firstAddress(direct->reply(), m_judge.ownOfJudge);
    m_clock.start();
    launch();
}

void CProxyChecker::launch()
{
    while (!m_stopping && m_inFlight < m_concurrency && m_next < m_proxies.size()) {
        const size_t index = m_next++;
        auto* check = new CProxyCheck(m_proxies[index], m_judge, m_timeoutMs, this);
        connect(check, &CProxyCheck::finished, this, [this, check, index] { checkFinished(check, index); });
        ++m_inFlight;
        check->start();
    }
    if (m_inFlight == 0 && !m_ended) {
        m_ended = true;
        emit finished();
    }
}

void CProxyChecker::checkFinished(CProxyCheck* check, size_t index)
{
    m_results[index] = check->result();
    --m_inFlight;
    if (check->result().outcome == CheckResult::Working)
        ++m_working;
    check->deleteLater();
    if (check->result().outcome != CheckResult::Stopped) {
        ++m_checked;
        emit proxyChecked(index);
    }
    emit progressed();
    if (!m_stopping)
        launch();
    else if (m_inFlight == 0 && !m_ended) {
        m_ended = true;
        emit finished();
    }
}

void CProxyChecker::stop()
{
    if (m_ended || m_stopping)
        return;
    m_stopping = true;
    if (m_direct) {
        m_direct->end(CheckResult::TimedOut);
        return;
    }
    for (CProxyCheck* check : findChildren<CProxyCheck*>(QString(), Qt::FindDirectChildrenOnly))
        check->stop();
    if (m_inFlight == 0 && !m_ended) {
        m_ended = true;
        emit finished();
    }
}
