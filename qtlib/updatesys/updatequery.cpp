#include "qtlib/updatesys/updatequery.h"

namespace TXL::QtLib::UpdateSys {

CUpdateQuery::CUpdateQuery()
{
    connect(&m_socket, &QTcpSocket::connected, this, &CUpdateQuery::onConnect);
    connect(&m_socket, &QTcpSocket::disconnected, this, &CUpdateQuery::onDisconnect);
    connect(&m_socket, &QTcpSocket::readyRead, this, &CUpdateQuery::onDataArrival);
}

void CUpdateQuery::query(const QString& productId, const QString& version)
{
    if (!productId.isEmpty())
        m_productId = productId;
    if (!version.isEmpty())
        m_version = version;
    m_buffer.clear();
    // The lookup itself comes with the update check work.
}

void CUpdateQuery::onConnect() {}

void CUpdateQuery::onDisconnect() {}

void CUpdateQuery::onDataArrival() {}

} // namespace TXL::QtLib::UpdateSys
