#include "bench/pageserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace {

const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
const QByteArray notFound = "HTTP/1.0 404 Not Found\r\n\r\n";

bool sendAll(int connection, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t sent = ::send(connection, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

} // namespace

PageServer::PageServer(QHash<QByteArray, QByteArray> pages) : m_pages(std::move(pages))
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 256) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        return;
    }
    m_listener = listener;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptConnections(); });
}

PageServer::~PageServer()
{
    if (m_listener < 0)
        return;
    m_stopping = true;
    // Wakes the blocked accept().
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    ::close(m_listener);
    for (std::thread& connection : m_connections)
        connection.join();
}

void PageServer::acceptConnections()
{
    while (!m_stopping) {
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            continue;
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.emplace_back([this, connection] { serve(connection); });
    }
}

void PageServer::serve(int connection) const
{
    // The whole request head first: closing with unread bytes would reset the connection.
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        const ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    const qsizetype pathStart = request.indexOf(' ') + 1;
    const QByteArray path = request.mid(pathStart, request.indexOf(' ', pathStart) - pathStart);
    const auto page = m_pages.constFind(path);
    if (page == m_pages.constEnd()) {
        sendAll(connection, notFound.constData(), notFound.size());
    } else if (sendAll(connection, head.constData(), head.size())) {
        sendAll(connection, page->constData(), page->size());
    }
    ::shutdown(connection, SHUT_WR);
    ::close(connection);
}
