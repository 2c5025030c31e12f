#pragma once

#include <QObject>
#include <QString>

namespace TXL::QtLib::UpdateSys {
class CUpdateQuery;
}

// Tells the user what an update check found: that ours is the latest version, or that a newer one is there,
// with the offer to open its download page.
class UpdatePrompt : public QObject
{
    Q_OBJECT

public:
    explicit UpdatePrompt(TXL::QtLib::UpdateSys::CUpdateQuery* query, QObject* parent = nullptr);

private slots:
    void showUpToDate();
    void offerDownload(const QString& newVersion);
};
