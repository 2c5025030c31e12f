#pragma once

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A web server on 127.0.0.1 for the benchmarks: answers every GET with the page stored for its path (or a
// 404), then closes. Plain blocking sockets, one thread per connection, so serving costs the measured
// program's event loop nothing.
class PageServer
{
public:
    // The pages by path ("/p1.html"); not changed while the server runs.
    explicit PageServer(QHash<QByteArray, QByteArray> pages);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    bool isListening() const { return m_listener >= 0; }
    quint16 port() const { return m_port; }

private:
    void acceptConnections();
    void serve(int connection) const;

    const QHash<QByteArray, QByteArray> m_pages;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
};
