#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>

namespace TXL::QtLib::UpdateSys {

// Asks the update server whether a version newer than ours exists and reports the answer; the window tells the
// user (windows/updateprompt).
class CUpdateQuery : public QObject
{
    Q_OBJECT

public:
    CUpdateQuery();
    ~CUpdateQuery() override;

    void setShowIfCurrent(bool show) { m_showIfCurrent = show; }
    void query(const QString& productId, const QString& version);

signals:
    // No newer version; only when asked to tell.
    void upToDate();
    // A newer version; its name as the server gave it, which may be blank or only line ends.
    void newVersionAvailable(const QString& newVersion);

private slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();

private:
    void dropConnection();
    static QString newVersionIn(const QString& reply);

    QTcpSocket m_socket;
    QString m_buffer;
    QString m_productId;
    QString m_version;
    bool m_showIfCurrent = false;
};

} // namespace TXL::QtLib::UpdateSys
