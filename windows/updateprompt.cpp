#include "windows/updateprompt.h"

#include "qtlib/updatesys/updatequery.h"
#include "util/appinfo.h"
#include "util/externalhosts.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QUrl>

using TXL::QtLib::UpdateSys::CUpdateQuery;

UpdatePrompt::UpdatePrompt(CUpdateQuery* query, QObject* parent) : QObject(parent)
{
    connect(query, &CUpdateQuery::upToDate, this, &UpdatePrompt::showUpToDate);
    connect(query, &CUpdateQuery::newVersionAvailable, this, &UpdatePrompt::offerDownload);
}

void UpdatePrompt::showUpToDate()
{
    QMessageBox box(QMessageBox::Question, AppInfo::messageTitle,
                    QStringLiteral("You're using the latest version at this time."), QMessageBox::Ok);
    box.setWindowIcon(QIcon(AppInfo::programIcon));
    box.exec();
}

void UpdatePrompt::offerDownload(const QString& newVersion)
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
