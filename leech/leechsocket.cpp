#include "leech/leechsocket.h"

#include "settings/userfolders.h"

#include <QDir>
#include <QMessageBox>

CLeechSocket::CLeechSocket(QObject* parent) : CWebSocket(parent, 0) {}

void CLeechSocket::setDataFolder(uint runStamp)
{
    m_runStamp = runStamp;
    const QString folder = UserFolders::runFolder(runStamp);
    if (QDir(folder).exists())
        return;
    // One level only: the data folder was made by the start-up folder set-up.
    if (!QDir().mkdir(folder)) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Sievra"), QStringLiteral("Error creating data directory"),
                        QMessageBox::Ok);
        box.exec();
    }
}

void CLeechSocket::clearQueue()
{
    m_queue.clear();
    m_results.clear();
    m_pageCounter = 0;
    m_previousTotal = 0;
}

void CLeechSocket::addUrl(const CLeechUrl& url)
{
    m_queue.append(url);
}

void CLeechSocket::fetchQueue()
{
    // Filled in with the fetching work.
}

void CLeechSocket::abort()
{
    // Filled in with the fetching work.
}

void CLeechSocket::processData() {}

void CLeechSocket::processError() {}
