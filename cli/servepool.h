#pragma once

#include "check/proxyendpoint.h"
#include "check/proxyrecord.h"
#include "pool/pooljob.h"

#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ServePoolWorker;

// The serve's pool, written and read on a thread of its own through a connection of its own, so that a pool busy
// with other runs never holds up a client: the upstreams that failed the serve, the rechecks while it serves, and
// the alive proxies read back after each.
//
// What is asked and what is answered passes through queues under a lock of ours, and a queued call without
// arguments only wakes the other side: ThreadSanitizer cannot see the locks of Debian's Qt, so a vector copied into
// a queued call would look unordered between the two threads.
class CServePool : public QObject
{
    Q_OBJECT

public:
    explicit CServePool(const PoolJob& job, QObject* parent = nullptr);
    ~CServePool() override;
    CServePool(const CServePool&) = delete;
    CServePool& operator=(const CServePool&) = delete;

    void recordFailure(const ProxyEndpoint& proxy, const QString& reason);
    // dueRead() answers.
    void readDue();
    // The finished checks recorded; then, with `readAlive`, aliveRead() answers with the alive proxies of the filter.
    void recordChecks(const std::vector<ProxyRecord>& records, const QString& judge, bool readAlive);

    // On the pool's thread: an answer, emitted on the thread that owns this object.
    void answer(std::function<void()> emitting);

signals:
    void dueRead(const std::vector<ProxyEndpoint>& proxies);
    void aliveRead(const std::vector<ProxyRecord>& records);
    // What the pool missed, or could not give, in one line.
    void missed(const QString& line);
    // Wakes the worker.
    void asked();

private:
    void ask(std::function<void(ServePoolWorker&)> task);
    void takeAnswers();

    QThread m_thread;
    std::unique_ptr<ServePoolWorker> m_worker; // lives on m_thread while it runs

    std::mutex m_lock; // guards the two queues
    std::deque<std::function<void(ServePoolWorker&)>> m_asked;
    std::deque<std::function<void()>> m_answers;

    friend class ServePoolWorker;
};
