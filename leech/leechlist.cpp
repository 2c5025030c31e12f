#include "leech/leechlist.h"

#include "util/externalhosts.h"
#include "util/httpport.h"
#include "util/latin1read.h"

#include <QNetworkProxy>
#include <QTcpSocket>

namespace {

QString leechListRequest()
{
    const QString host = ExternalHosts::updateServer;
    return QStringLiteral("GET http://") + host + QStringLiteral("/4/proxyUrlList.txt HTTP/1.0\r\n") +
           QStringLiteral("Host: ") + host + QStringLiteral("\r\n") +
           QStringLiteral("User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/535.1 (KHTML, like Gecko) "
                          "Chrome/13.0.782.112 Safari/535.1\r\n") +
           QStringLiteral("Connection: close\r\n\r\n");
}

} // namespace

CLeechList::CLeechList(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    m_socket->setProxy(QNetworkProxy::NoProxy); // the server is reached directly, as every fetch is
    connect(m_socket, &QTcpSocket::connected, this, &CLeechList::onConnect);
    connect(m_socket, &QTcpSocket::disconnected, this, &CLeechList::onDisconnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &CLeechList::onDataArrival);
    m_busy = true;
    m_buffer.clear();
    // Nothing watches for errors: an unreachable server simply leaves the list empty.
    m_socket->connectToHost(HttpPort::connectHost(ExternalHosts::updateServer), HttpPort::port(), QIODevice::ReadWrite);
}

CLeechList::~CLeechList()
{
    if (m_socket->isOpen())
        m_socket->close();
    delete m_socket;
}

void CLeechList::onConnect()
{
    m_busy = true;
    m_socket->write(leechListRequest().toLatin1());
}

void CLeechList::onDataArrival()
{
    m_buffer += latin1TextOfRead(m_socket->readAll());
}

void CLeechList::onDisconnect()
{
    // The reply is not parsed: status and header lines become lines too, and a CR stays at its line's end.
    m_list = m_buffer.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    m_buffer.clear();
    m_busy = false;
}
