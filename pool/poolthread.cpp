#include "pool/poolthread.h"

// On the pool's thread: opens the connection at the first task, and keeps it.
class PoolThreadWorker : public QObject
{
    Q_OBJECT

public:
    PoolThreadWorker(const QString& path, PoolStore::Access access, PoolThread* owner)
        : m_path(path), m_access(access), m_owner(owner)
    {
    }

    // Woken by the owner: runs what was asked, in order.
    void takeTasks()
    {
        std::deque<PoolThread::Task> tasks;
        bool ending = false;
        {
            const std::lock_guard<std::mutex> hold(m_owner->m_lock);
            tasks.swap(m_owner->m_tasks);
            ending = m_owner->m_ending;
        }
        for (const PoolThread::Task& task : tasks)
            task(store());
        if (!ending)
            return;
        // The last of it: the connection closed here, then the lock taken, so that all done on this thread is
        // ordered before what the owner does once the thread is over.
        m_store.reset();
        const std::lock_guard<std::mutex> hold(m_owner->m_lock);
        QThread::currentThread()->quit();
    }

signals:
    void answered();

private:
    PoolStore* store()
    {
        if (!m_store && !m_openFailed) {
            QString failure;
            m_store = PoolStore::open(m_path, m_access, &failure);
            m_openFailed = !m_store;
            PoolThread* owner = m_owner;
            if (m_openFailed)
                m_owner->answer([owner, failure] { emit owner->openFailed(failure); });
        }
        return m_store.get();
    }

    QString m_path;
    PoolStore::Access m_access;
    PoolThread* m_owner; // outlives this: it waits for the thread
    std::unique_ptr<PoolStore> m_store;
    bool m_openFailed = false;
};

PoolThread::PoolThread(const QString& path, PoolStore::Access access, const QString& name, QObject* parent)
    : QObject(parent), m_worker(std::make_unique<PoolThreadWorker>(path, access, this))
{
    m_worker->moveToThread(&m_thread);
    // Connected before the thread starts: a wake-up allocates nothing that the other thread frees.
    connect(this, &PoolThread::asked, m_worker.get(), &PoolThreadWorker::takeTasks);
    connect(m_worker.get(), &PoolThreadWorker::answered, this, &PoolThread::takeAnswers);
    m_thread.setObjectName(name);
    m_thread.start();
}

PoolThread::~PoolThread()
{
    end();
    m_answers.clear();
    // The worker goes here, its thread over.
}

void PoolThread::ask(Task task)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_tasks.push_back(std::move(task));
    }
    emit asked();
}

void PoolThread::answer(std::function<void()> answer)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_answers.push_back(std::move(answer));
    }
    emit m_worker->answered();
}

void PoolThread::finish()
{
    end();
    takeAnswers();
}

void PoolThread::end()
{
    if (m_ended)
        return;
    m_ended = true;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_ending = true;
    }
    emit asked();
    m_thread.wait();
    // The worker's last step was under the lock: taking it here orders everything it did before what follows.
    m_lock.lock();
    m_lock.unlock();
}

void PoolThread::takeAnswers()
{
    std::deque<std::function<void()>> answers;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        answers.swap(m_answers);
    }
    for (const auto& answer : answers)
        answer();
}

#include "poolthread.moc"
