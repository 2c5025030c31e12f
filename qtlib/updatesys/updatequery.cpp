#include "qtlib/updatesys/updatequery.h"

#include "util/externalhosts.h"
#include "util/httpport.h"
#include "util/latin1read.h"

#include <QNetworkProxy>
#include <QSignalBlocker>
#include <QStringList>

namespace TXL::QtLib::UpdateSys {

CUpdateQuery::CUpdateQuery()
{
    m_socket.setProxy(QNetworkProxy::NoProxy); // the server is reached directly, as every fetch is
    connect(&m_socket, &QTcpSocket::connected, this, &CUpdateQuery::onConnect);
    connect(&m_socket, &QTcpSocket::disconnected, this, &CUpdateQuery::onDisconnect);
    connect(&m_socket, &QTcpSocket::readyRead, this, &CUpdateQuery::onDataArrival);
}

CUpdateQuery::~CUpdateQuery()
{
    // The socket outlives the other members: its close must not run the answer handler on them.
    dropConnection();
}

void CUpdateQuery::dropConnection()
{
    // Our own close is no answer from the server: it must not tell the user anything.
    const QSignalBlocker quiet(m_socket);
    m_socket.abort();
}

void CUpdateQuery::query(const QString& productId, const QString& version)
{
    if (!productId.isEmpty())
        m_productId = productId;
    if (!version.isEmpty())
        m_version = version;
    // A check still waiting for its answer gives way to the new one.
    dropConnection();
    m_buffer.clear();
    m_socket.connectToHost(HttpPort::connectHost(ExternalHosts::updateServer), HttpPort::port(), QIODevice::ReadWrite);
}

void CUpdateQuery::onConnect()
{
    QString plainVersion = m_version;
    plainVersion.remove(QLatin1Char('.'));
    QString host = ExternalHosts::updateServer;
    host.remove(QStringLiteral("www."));
    const QString request = QStringLiteral("GET /lookup.php?id=") + m_productId + QStringLiteral("&vn=") +
                            plainVersion + QStringLiteral(" HTTP/1.0\r\nHost: ") + host +
                            QStringLiteral("\r\nConnection: close\r\n\r\n");
    m_socket.write(request.toLatin1());
}

void CUpdateQuery::onDataArrival()
{
    m_buffer += latin1TextOfRead(m_socket.readAll());
}

void CUpdateQuery::onDisconnect()
{
    const QString reply = m_buffer;
    m_buffer.clear();
    if (!reply.contains(QLatin1Char('|'))) {
        if (m_showIfCurrent)
            emit upToDate();
        return;
    }
    emit newVersionAvailable(newVersionIn(reply));
}

QString CUpdateQuery::newVersionIn(const QString& reply)
{
    // The last line in front of the first "|" names the version; the status line and headers come before it.
    const QString head = reply.split(QLatin1Char('|'), Qt::SkipEmptyParts).value(0);
    const QStringList lines = head.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace TXL::QtLib::UpdateSys
