#include "cli/serverun.h"

#include "cli/console.h"
#include "cli/openfiles.h"
#include "cli/servepool.h"

namespace {

// A client's connection, its upstream's, and one more while a failed upstream is replaced.
constexpr int filesPerClient = 3;

} // namespace

CServeRun::CServeRun(const ServeJob& job, bool terminal, QObject* parent)
    : QObject(parent), m_job(job), m_terminal(terminal)
{
    // Kept in place on a terminal; a log gets a line a minute.
    m_progressTimer.setInterval(terminal ? 1000 : 60000);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { showProgress(); });
}

void CServeRun::fitClients()
{
    m_job.maxClients = OpenFiles::fit(m_job.maxClients, filesPerClient, QStringLiteral("--serve-connections"));
}

bool CServeRun::listen(QString* failure)
{
    m_server = std::make_unique<CProxyServer>(m_job);
    connect(m_server.get(), &CProxyServer::healthChanged, this, [](bool any) {
        Console::tell(any ? QStringLiteral("an upstream proxy is healthy again.")
                          : QStringLiteral("no upstream proxy is healthy now: clients get 503 until one is."));
    });
    return m_server->listen(failure);
}

bool CServeRun::openLog(const QString& path, QString* failure)
{
    m_log.setFileName(path);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *failure = QStringLiteral("cannot write the serve log %1: %2").arg(path, m_log.errorString());
        return false;
    }
    connect(m_server.get(), &CProxyServer::served, this, [this](const ServedRequest& request) {
        // Written as it goes, so that a tail of the log follows the requests.
        m_log.write(request.line());
        m_log.flush();
    });
    return true;
}

std::vector<Upstream> CServeRun::upstreamsOf(const std::vector<ProxyRecord>& records)
{
    std::vector<Upstream> upstreams;
    for (const ProxyRecord& record : records)
        if (record.result.outcome == CheckResult::Working && record.result.protocols != 0)
            upstreams.push_back({record.proxy, record.result.protocols});
    return upstreams;
}

void CServeRun::serve(const std::vector<ProxyRecord>& records)
{
    m_server->setUpstreams(upstreamsOf(records));
    const QString where = m_job.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QStringLiteral("[%1]:%2").arg(m_job.address.toString()).arg(m_server->port())
                              : QStringLiteral("%1:%2").arg(m_job.address.toString()).arg(m_server->port());
    Console::tell(
        QStringLiteral("serving %1 upstream proxies on %2; Ctrl+C stops.").arg(m_server->upstreamCount()).arg(where));
    m_progressTimer.start();
}

void CServeRun::update(const std::vector<ProxyRecord>& records)
{
    m_server->setUpstreams(upstreamsOf(records));
    Console::tell(QStringLiteral("serving %1 upstream proxies.").arg(m_server->upstreamCount()));
}

void CServeRun::recordFailuresIn(CServePool* pool)
{
    connect(m_server.get(), &CProxyServer::upstreamSetAside, pool, &CServePool::recordFailure);
}

void CServeRun::stop()
{
    m_progressTimer.stop();
    if (!m_server)
        return;
    m_server->stop();
    showProgress(true);
}

void CServeRun::showProgress(bool last)
{
    const CProxyServer::Counters& counters = m_server->counters();
    const QString text = QStringLiteral("clients %1, requests %2, up %3 kB, down %4 kB, rerouted %5, failed %6, "
                                        "healthy %7 of %8")
                             .arg(counters.clients)
                             .arg(counters.requests)
                             .arg(counters.bytesUp / 1024)
                             .arg(counters.bytesDown / 1024)
                             .arg(counters.rerouted)
                             .arg(counters.failed)
                             .arg(m_server->healthy())
                             .arg(m_server->upstreamCount());
    Console::showProgress(text, m_terminal, last);
}
