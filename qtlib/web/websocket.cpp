#include "qtlib/web/websocket.h"

#include <QTcpSocket>

namespace TXL::QtLib::Web {

CWebSocket::CWebSocket(QObject* parent, int iSocketDescriptor)
    : QThread(parent), m_socket(new QTcpSocket(this)), m_socketDescriptor(iSocketDescriptor)
{
    m_timer.setInterval(25000);
    connect(m_socket, &QTcpSocket::connected, this, &CWebSocket::onConnect);
    connect(m_socket, &QTcpSocket::disconnected, this, &CWebSocket::onDisconnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &CWebSocket::onDataArrival);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &CWebSocket::onError);
    connect(&m_timer, &QTimer::timeout, this, &CWebSocket::onTimeout);
}

CWebSocket::~CWebSocket()
{
    m_timer.stop();
}

void CWebSocket::setTimeout(int msecs)
{
    if (msecs <= 25000)
        m_timer.setInterval(msecs);
}

void CWebSocket::reset()
{
    m_host = m_path = m_cookie = m_referrer = m_buffer = m_result = QLatin1String("");
    m_bytesRetrieved = 0;
    m_port = 80;
}

void CWebSocket::startFetch()
{
    // Filled in with the fetching work.
}

void CWebSocket::onConnect() {}

void CWebSocket::onDisconnect() {}

void CWebSocket::onDataArrival() {}

void CWebSocket::onError(QAbstractSocket::SocketError) {}

void CWebSocket::onTimeout() {}

void CWebSocket::run()
{
    exec();
}

} // namespace TXL::QtLib::Web
