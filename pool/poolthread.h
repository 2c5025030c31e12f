#pragma once

#include "pool/poolstore.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class PoolThreadWorker;

// A connection to the pool on a thread of its own, so that writing and reading it never holds up the thread that
// asks: a check goes on while its results are written, a serve's clients while its pool is read. Tasks run there in
// the order asked, with the store opened at the first one (nullptr when it cannot be: openFailed() says why, once);
// what they answer runs back on the asking thread.
//
// Tasks and answers pass through queues under a lock of ours, and a queued signal without arguments only wakes the
// other side: ThreadSanitizer cannot see the locks of Debian's Qt, so data copied into a queued call would look
// unordered between the two threads.
class PoolThread : public QObject
{
    Q_OBJECT

public:
    using Task = std::function<void(PoolStore* store)>;

    PoolThread(const QString& path, PoolStore::Access access, const QString& name, QObject* parent = nullptr);
    // Ends as finish() does, but what is still to be answered is dropped.
    ~PoolThread() override;
    PoolThread(const PoolThread&) = delete;
    PoolThread& operator=(const PoolThread&) = delete;

    void ask(Task task);
    // From a task: runs `answer` on the asking thread.
    void answer(std::function<void()> answer);
    // Every task asked so far done, the connection closed, then what they answered run here.
    void finish();

signals:
    void openFailed(const QString& line);
    // Wakes the worker.
    void asked();

private:
    void takeAnswers();
    void end();

    QThread m_thread;
    std::unique_ptr<PoolThreadWorker> m_worker; // lives on m_thread while it runs
    bool m_ended = false;

    std::mutex m_lock; // guards the two queues and m_ending
    std::deque<Task> m_tasks;
    bool m_ending = false; // no task after these
    std::deque<std::function<void()>> m_answers;

    friend class PoolThreadWorker;
};
