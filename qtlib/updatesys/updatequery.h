#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>

namespace TXL::QtLib::UpdateSys {

// Asks the update server whether a version newer than ours exists and tells the user the answer.
class CUpdateQuery : public QObject
{
    Q_OBJECT

public:
    CUpdateQuery();
    ~CUpdateQuery() override;

    void setShowIfCurrent(bool show) { m_showIfCurrent = show; }
    void query(const QString& productId, const QString& version);

private slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();

private:
    void dropConnection();
    static QString newVersionIn(const QString& reply);
    static void showUpToDate();
    static void offerDownload(const QString& newVersion);

    QTcpSocket m_socket;
    QString m_buffer;
    QString m_productId;
    QString m_version;
    bool m_showIfCurrent = false;
};

} // namespace TXL::QtLib::UpdateSys
