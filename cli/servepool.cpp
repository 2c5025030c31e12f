#include "cli/servepool.h"

#include "pool/poolstore.h"

#include <memory>

// On the pool's thread: opens its connection at the first task, and keeps it.
class ServePoolWorker : public QObject
{
    Q_OBJECT

public:
    ServePoolWorker(const PoolJob& job, CServePool* pool) : m_job(job), m_pool(pool) {}

    // The last of it.
    void close() { m_store.reset(); }

    // Woken by the serve: runs what was asked, in order.
    void takeAsked()
    {
        std::deque<std::function<void(ServePoolWorker&)>> asked;
        {
            const std::lock_guard<std::mutex> hold(m_pool->m_lock);
            asked.swap(m_pool->m_asked);
        }
        for (const auto& task : asked)
            task(*this);
    }

    void recordFailure(const ProxyEndpoint& proxy, const QString& reason)
    {
        if (opened() && !m_store->recordServeFailure(proxy, reason, m_job.clock.now()))
            tellMissed(
                QStringLiteral("the pool %1 missed an upstream's failure: %2").arg(m_job.path, m_store->failure()));
    }

    void readDue()
    {
        auto due = std::make_shared<std::vector<ProxyEndpoint>>();
        if (opened() && !m_store->due(m_job.clock.now(), false, due.get()))
            tellMissed(QStringLiteral("cannot read the pool %1: %2").arg(m_job.path, m_store->failure()));
        CServePool* pool = m_pool;
        m_pool->answer([pool, due] { emit pool->dueRead(*due); });
    }

    void recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive)
    {
        if (!opened())
            return;
        if (!m_store->recordChecks(records, judge, m_job.clock.now()))
            tellMissed(QStringLiteral("the pool %1 missed some of a recheck's results: %2")
                           .arg(m_job.path, m_store->failure()));
        if (!readAlive)
            return;
        auto alive = std::make_shared<std::vector<ProxyRecord>>();
        if (!m_store->proxies(m_job.filter, m_job.clock.now(), alive.get()))
            return tellMissed(QStringLiteral("cannot read the pool %1: %2").arg(m_job.path, m_store->failure()));
        CServePool* pool = m_pool;
        m_pool->answer([pool, alive] { emit pool->aliveRead(*alive); });
    }

signals:
    void answered();

private:
    bool opened()
    {
        if (m_store)
            return true;
        QString failure;
        m_store = PoolStore::open(m_job.path, PoolStore::Access::Update, &failure);
        if (!m_store)
            tellMissed(failure);
        return m_store != nullptr;
    }

    void tellMissed(const QString& line)
    {
        CServePool* pool = m_pool;
        m_pool->answer([pool, line] { emit pool->missed(line); });
    }

    PoolJob m_job;
    CServePool* m_pool; // outlives this: it waits for the thread
    std::unique_ptr<PoolStore> m_store;
};

CServePool::CServePool(const PoolJob& job, QObject* parent)
    : QObject(parent), m_worker(std::make_unique<ServePoolWorker>(job, this))
{
    m_worker->moveToThread(&m_thread);
    // Connected before the thread starts: a wake-up allocates nothing that the other thread frees.
    connect(this, &CServePool::asked, m_worker.get(), &ServePoolWorker::takeAsked);
    connect(m_worker.get(), &ServePoolWorker::answered, this, &CServePool::takeAnswers);
    m_thread.setObjectName(QStringLiteral("serve pool"));
    m_thread.start();
}

CServePool::~CServePool()
{
    // What was asked before the end is done first; the last task closes the connection on the pool's thread, then
    // takes the lock, so that all the worker did is ordered before what follows here.
    ask([this](ServePoolWorker& worker) {
        worker.close();
        const std::lock_guard<std::mutex> hold(m_lock);
        QThread::currentThread()->quit();
    });
    m_thread.wait();
    const std::lock_guard<std::mutex> hold(m_lock);
    m_asked.clear();
    m_answers.clear();
    // The worker goes here, its thread over.
}

void CServePool::recordFailure(const ProxyEndpoint& proxy, const QString& reason)
{
    ask([proxy, reason](ServePoolWorker& worker) { worker.recordFailure(proxy, reason); });
}

void CServePool::readDue()
{
    ask([](ServePoolWorker& worker) { worker.readDue(); });
}

void CServePool::recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive)
{
    ask([records, judge, readAlive](ServePoolWorker& worker) { worker.recordChecks(records, judge, readAlive); });
}

void CServePool::ask(std::function<void(ServePoolWorker&)> task)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_asked.push_back(std::move(task));
    }
    emit asked();
}

void CServePool::answer(std::function<void()> emitting)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_answers.push_back(std::move(emitting));
    }
    emit m_worker->answered();
}

void CServePool::takeAnswers()
{
    std::deque<std::function<void()>> answers;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        answers.swap(m_answers);
    }
    for (const auto& emitting : answers)
        emitting();
}

#include "servepool.moc"
