#include "cli/servepool.h"

#include "pool/poolstore.h"

#include <memory>

// On the pool's thread: opens its connection at the first call, and keeps it.
class ServePoolWorker : public QObject
{
    Q_OBJECT

public:
    explicit ServePoolWorker(const PoolJob& job) : m_job(job) {}

    void recordFailure(const ProxyEndpoint& proxy, const QString& reason)
    {
        if (opened() && !m_store->recordServeFailure(proxy, reason, m_job.clock.now()))
            emit missed(
                QStringLiteral("the pool %1 missed an upstream's failure: %2").arg(m_job.path, m_store->failure()));
    }

    void readDue()
    {
        std::vector<ProxyEndpoint> due;
        if (!opened())
            return emit dueRead(due);
        if (!m_store->due(m_job.clock.now(), false, &due))
            emit missed(QStringLiteral("cannot read the pool %1: %2").arg(m_job.path, m_store->failure()));
        emit dueRead(due);
    }

    void recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive)
    {
        if (!opened())
            return;
        if (!m_store->recordChecks(records, judge, m_job.clock.now()))
            emit missed(QStringLiteral("the pool %1 missed some of a recheck's results: %2")
                            .arg(m_job.path, m_store->failure()));
        if (!readAlive)
            return;
        std::vector<ProxyRecord> alive;
        if (!m_store->proxies(m_job.filter, m_job.clock.now(), &alive))
            return emit missed(QStringLiteral("cannot read the pool %1: %2").arg(m_job.path, m_store->failure()));
        emit aliveRead(alive);
    }

    // Behind whatever was asked before it.
    void finish() { QThread::currentThread()->quit(); }

signals:
    void dueRead(const std::vector<ProxyEndpoint>& proxies);
    void aliveRead(const std::vector<ProxyRecord>& records);
    void missed(const QString& line);

private:
    bool opened()
    {
        if (m_store)
            return true;
        QString failure;
        m_store = PoolStore::open(m_job.path, PoolStore::Access::Update, &failure);
        if (!m_store)
            emit missed(failure);
        return m_store != nullptr;
    }

    PoolJob m_job;
    std::unique_ptr<PoolStore> m_store;
};

CServePool::CServePool(const PoolJob& job, QObject* parent) : QObject(parent), m_worker(new ServePoolWorker(job))
{
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &CServePool::failureToRecord, m_worker, &ServePoolWorker::recordFailure);
    connect(this, &CServePool::dueWanted, m_worker, &ServePoolWorker::readDue);
    connect(this, &CServePool::checksToRecord, m_worker, &ServePoolWorker::recordChecks);
    connect(this, &CServePool::finishing, m_worker, &ServePoolWorker::finish);
    connect(m_worker, &ServePoolWorker::dueRead, this, &CServePool::dueRead);
    connect(m_worker, &ServePoolWorker::aliveRead, this, &CServePool::aliveRead);
    connect(m_worker, &ServePoolWorker::missed, this, &CServePool::missed);
    m_thread.setObjectName(QStringLiteral("serve pool"));
    m_thread.start();
}

CServePool::~CServePool()
{
    // What was asked before the end is written first.
    emit finishing();
    m_thread.wait();
}

#include "servepool.moc"
