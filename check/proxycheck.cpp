#include "check/proxycheck.h"

#include "check/judgepage.h"
#include "check/protocolattempt.h"

#include <algorithm>

namespace {

// Once one protocol has worked, the others are given three times as long as it took, and half a second more: a
// proxy that speaks them answers about as fast (SOCKS takes up to three round trips where HTTP takes one), and
// an HTTP proxy that waits for the end of a line it will never get in a SOCKS greeting would otherwise hold the
// check for the whole time-out.
constexpr int graceFactor = 3;
constexpr int graceMs = 500;

} // namespace

CProxyCheck::CProxyCheck(const ProxyEndpoint& proxy, const Judge& judge, int timeoutMs, QObject* parent)
    : QObject(parent), m_proxy(proxy), m_judge(judge), m_timeoutMs(timeoutMs)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { endRunning(CheckResult::TimedOut); });
}

void CProxyCheck::start()
{
    m_clock.start();
    m_deadline.start(m_timeoutMs);
    // The first connection tells whether anyone listens; only then are the other protocols tried beside it.
    startAttempt(protocolsToTry(m_judge).first(), true);
}

QList<CProtocolAttempt::Protocol> CProxyCheck::protocolsToTry(const Judge& judge)
{
    QList<CProtocolAttempt::Protocol> protocols = {CProtocolAttempt::Connect, CProtocolAttempt::Socks5};
    // An HTTP proxy would speak to an https:// judge itself, in TLS we could not check: only tunnels carry it.
    if (!judge.isSecure())
        protocols.prepend(CProtocolAttempt::Http);
    // SOCKS 4 names the judge by an IPv4 address only.
    if (judge.address.protocol() == QAbstractSocket::IPv4Protocol)
        protocols.append(CProtocolAttempt::Socks4);
    return protocols;
}

void CProxyCheck::startAttempt(CProtocolAttempt::Protocol protocol, bool first)
{
    auto* attempt = new CProtocolAttempt(protocol, m_judge, m_clock, this);
    m_attempts.append(attempt);
    if (first)
        connect(attempt, &CProtocolAttempt::connected, this, &CProxyCheck::startOtherProtocols);
    connect(attempt, &CProtocolAttempt::finished, this, &CProxyCheck::attemptFinished);
    attempt->start(m_proxy);
}

void CProxyCheck::startOtherProtocols()
{
    const QList<CProtocolAttempt::Protocol> protocols = protocolsToTry(m_judge);
    for (qsizetype i = 1; i < protocols.size(); ++i)
        startAttempt(protocols[i], false);
}

void CProxyCheck::stop()
{
    m_stopped = true;
    endRunning(CheckResult::TimedOut);
}

void CProxyCheck::endRunning(CheckResult::Outcome outcome)
{
    // A copy: ending one can end the check, which changes nothing in the list but is safer to walk unshared.
    const QList<CProtocolAttempt*> attempts = m_attempts;
    for (CProtocolAttempt* attempt : attempts)
        attempt->end(outcome);
}

void CProxyCheck::attemptFinished()
{
    if (m_done)
        return;
    const auto running = [](const CProtocolAttempt* attempt) { return attempt->isRunning(); };
    if (std::any_of(m_attempts.cbegin(), m_attempts.cend(), running)) {
        const auto* attempt = qobject_cast<CProtocolAttempt*>(sender());
        if (attempt && attempt->outcome() == CheckResult::Working && !m_graceGiven) {
            m_graceGiven = true;
            const qint64 grace = graceFactor * m_clock.elapsed() + graceMs;
            m_deadline.start(int(std::min<qint64>(m_deadline.remainingTime(), grace)));
        }
        return;
    }
    m_done = true;
    m_deadline.stop();
    sum();
    emit finished();
}

void CProxyCheck::sum()
{
    const CProtocolAttempt* first = nullptr; // the first working one, in the order the protocols are listed
    int worst = CheckResult::Refused;
    for (const CProtocolAttempt* attempt : std::as_const(m_attempts)) {
        if (attempt->outcome() == CheckResult::Working) {
            m_result.protocols |= CProtocolAttempt::protocolFlag(attempt->protocol());
            if (!first || attempt->protocol() < first->protocol())
                first = attempt;
        }
        worst = std::min(worst, int(attempt->outcome()));
    }
    if (!first) {
        m_result.outcome = m_stopped ? CheckResult::Stopped : CheckResult::Outcome(worst);
        return;
    }
    m_result.outcome = CheckResult::Working;
    m_result.firstByteMs = int(first->firstByteMs());
    const QByteArray& page = first->reply();
    m_result.seenAddress = JudgePage::firstAddress(page, m_judge.ownOfJudge);
    if (m_judge.ownAddress.isEmpty())
        m_result.anonymity = CheckResult::Unknown;
    else if (JudgePage::mentionsAddress(page, m_judge.ownAddress))
        m_result.anonymity = CheckResult::Transparent;
    else if (JudgePage::showsProxyHeader(page))
        m_result.anonymity = CheckResult::Anonymous;
    else
        m_result.anonymity = CheckResult::Elite;
}
