#include "qtlib/updatesys/updatequery.h"

#include "util/appinfo.h"
#include "util/externalhosts.h"
#include "util/httpport.h"
#include "util/latin1read.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QSignalBlocker>
#include <QStringList>
#include <QUrl>

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
            showUpToDate();
        return;
    }
    offerDownload(newVersionIn(reply));
}

QString CUpdateQuery::newVersionIn(const QString& reply)
{
    // The last line in front of the first "|" names the version; the status line and headers come before it.
    const QString head = reply.split(QLatin1Char('|'), Qt::SkipEmptyParts).value(0);
    const QStringList lines = head.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

void CUpdateQuery::showUpToDate()
{
    QMessageBox box(QMessageBox::Question, AppInfo::messageTitle,
                    QStringLiteral("You're using the latest version at this time."), QMessageBox::Ok);
    box.setWindowIcon(QIcon(AppInfo::programIcon));
    box.exec();
}

void CUpdateQuery::offerDownload(const QString& newVersion)
{
    // A last line of nothing but line ends names no version; the offer is made all the same. Blanks are text.
    const bool named = !QString(newVersion).remove(QLatin1Char('\r')).isEmpty();
    const QString text = named ? QStringLiteral("Version ") + newVersion + QStringLiteral(" is available")
                               : QStringLiteral("A new version is available");
    QMessageBox box(QMessageBox::Question, AppInfo::messageTitle, text, QMessageBox::Yes | QMessageBox::No);
    box.setWindowIcon(QIcon(AppInfo::programIcon));
    box.setInformativeText(QStringLiteral("Download now?"));
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() == QMessageBox::Yes)
        QDesktopServices::openUrl(QUrl(ExternalHosts::downloadPage));
}

} // namespace TXL::QtLib::UpdateSys
