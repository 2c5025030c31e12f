#include "leech/leechsocket.h"

#include "app/util/externalhosts.h"
#include "app/util/httpport.h"
#include "app/util/textfiles.h"
#include "settings/userfolders.h"

#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>

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
    if (m_queue.isEmpty())
        return;
    fetch(m_queue.first());
}

void CLeechSocket::abort()
{
    cancelFetch();
    emit urlListProcessed(socketDescriptor());
}

QString CLeechSocket::pageText(const QString& reply, const QString& host)
{
    QString text = reply;
    // That site's links carry address and port as query parameters; this turns each into "address:port".
    if (host.contains(ExternalHosts::rewriteSiteMarker)) {
        text.replace(QStringLiteral("&host="), QStringLiteral("\r\n"));
        text.replace(QStringLiteral("&port="), QStringLiteral(":"));
        text.replace(QStringLiteral("&isSocks"), QStringLiteral("\r\n"));
    }
    // One line feed per character, so the text keeps its length.
    static const QRegularExpression notAddressCharacter(QStringLiteral("[^\\d\\.\\:]"));
    text.replace(notAddressCharacter, QStringLiteral("\n"));
    return text;
}

QString CLeechSocket::pageFile(int page) const
{
    const QString name =
        QString::number(socketDescriptor()) + QLatin1Char('-') + QString::number(page) + QStringLiteral(".dat");
    return QDir(UserFolders::runFolder(m_runStamp)).filePath(name);
}

void CLeechSocket::processData()
{
    m_pageText = pageText(data(), host());
    // An empty page writes no file; a file that cannot be written is skipped like a failed fetch.
    writeTextFile(pageFile(m_pageCounter), m_pageText);
    ++m_pageCounter;
    finishUrl(true);
}

void CLeechSocket::processError()
{
    // The failed page's number stays unused, so one fetcher's files can have gaps.
    ++m_pageCounter;
    finishUrl(false);
}

void CLeechSocket::finishUrl(bool retrieved)
{
    if (m_queue.isEmpty())
        return;
    m_current = m_queue.first();
    int bytes = 0;
    if (retrieved) {
        // This URL's own reply: the base counts every reply since its last reset.
        bytes = bytesRetrieved() - m_previousTotal;
        m_previousTotal = bytesRetrieved();
    }
    m_results.append(CCrawlResult(socketDescriptor(), bytes, m_current.url()));
    m_queue.removeFirst();
    if (m_queue.isEmpty()) {
        emit urlListProcessed(socketDescriptor());
        return;
    }
    fetch(m_queue.first());
}

void CLeechSocket::fetch(const CLeechUrl& url)
{
    m_next = url;
    setHost(m_next.host());
    setPath(m_next.path());
    // Always the web port: the port field of the base is not ours to use.
    startFetchOnPort(HttpPort::port());
}
