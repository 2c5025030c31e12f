#include "leech/leechsocket.h"

#include "extraction/pagetext.h"
#include "settings/userfolders.h"
#include "util/httpport.h"

#include <QDir>
#include <QFileInfo>

CLeechSocket::CLeechSocket(QObject* parent) : CWebSocket(parent, 0)
{
    // Direct, so the reply is taken and the next URL started within the base's own report of the fetch.
    connect(this, &CWebSocket::dataRetrieved, this, &CLeechSocket::processData, Qt::DirectConnection);
    connect(this, &CWebSocket::dataRetrievalError, this, &CLeechSocket::processError, Qt::DirectConnection);
    // The writer's worker reports through a queued signal: Qt copies the arguments into the call itself, so
    // nothing of ours is made on the worker and freed on this object's thread through Qt's event queue, which
    // the thread sanitizer cannot follow.
    connect(this, &CLeechSocket::pageWritten, this, &CLeechSocket::pageStored, Qt::QueuedConnection);
}

CLeechSocket::~CLeechSocket()
{
    // The writes tell this object when they are done; it must outlive them.
    m_writer.waitForDone();
}

bool CLeechSocket::setDataFolder(uint runStamp)
{
    m_runStamp = runStamp;
    // One level only: the data folder was made by the start-up folder set-up. Without the folder the fetcher
    // goes on, and its pages fail to be stored.
    return UserFolders::makeRunFolder(runStamp);
}

void CLeechSocket::clearQueue()
{
    // A page of an earlier list may still be on its way to a file name the next list uses again.
    m_writer.waitForDone();
    m_fetchWaiting = false;
    m_reportWaiting = false;
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
    m_fetchWaiting = false;
    m_reportWaiting = false;
    // The report may start the extraction, which must find the pages that were already in.
    m_writer.waitForDone();
    emit urlListProcessed(socketDescriptor());
}

QString CLeechSocket::pageName(int page) const
{
    return QString::number(socketDescriptor()) + QLatin1Char('-') + QString::number(page) + QStringLiteral(".dat");
}

QString CLeechSocket::pageFile(int page) const
{
    return QDir(UserFolders::runFolder(m_runStamp)).filePath(pageName(page));
}

void CLeechSocket::processData()
{
    // The reply goes to the writer whole; nothing of the page stays here once it is stored. An empty page
    // writes no file; a file that cannot be written is skipped like a failed fetch.
    QByteArray reply = takeResult();
    // Cut at the size limit, the page may end in the middle of a proxy: the address characters that touch the cut
    // could be half of one, and go.
    if (outcome().kind() == CFetchOutcome::Truncated)
        PageText::dropCutAddressRun(reply);
    const QString storedAs = reply.isEmpty() ? QString() : pageName(m_pageCounter);
    if (!reply.isEmpty()) {
        const QString path = pageFile(m_pageCounter);
        // The reply's head is not kept here: whether a page is HTML is told by the page itself.
        const PageReading reading{m_readsStructure, outcome().kind() == CFetchOutcome::Truncated, QByteArray()};
        m_writer.write(
            path, reply, host(), [this, path](const QString& failure) { emit pageWritten(path, failure); }, reading);
    }
    ++m_pageCounter;
    finishUrl(true, storedAs);
}

void CLeechSocket::pageStored(const QString& path, const QString& failure)
{
    // The fetcher goes on as with any page; the window tells the user what is missing.
    if (!failure.isEmpty()) {
        const QString name = QFileInfo(path).fileName();
        for (CCrawlResult& result : m_results) {
            if (result.pageName() != name)
                continue;
            CFetchOutcome outcome = result.outcome();
            outcome.setKind(CFetchOutcome::NotStored, failure);
            result.setOutcome(outcome);
        }
        emit pageNotStored(path, failure);
    }
    if (m_fetchWaiting && writerFree()) {
        m_fetchWaiting = false;
        fetch(m_queue.first());
    }
    if (m_reportWaiting && m_writer.pending() == 0) {
        m_reportWaiting = false;
        emit urlListProcessed(socketDescriptor());
    }
}

void CLeechSocket::processError()
{
    // The failed page's number stays unused, so one fetcher's files can have gaps.
    ++m_pageCounter;
    finishUrl(false);
}

void CLeechSocket::finishUrl(bool retrieved, const QString& storedAs)
{
    if (m_queue.isEmpty())
        return;
    m_current = m_queue.first();
    int bytes = 0;
    if (retrieved) {
        // This URL's own reply: the base counts every reply since its last reset.
        bytes = static_cast<int>(bytesRetrieved() - m_previousTotal); // one reply: 64 MB at most
        m_previousTotal = bytesRetrieved();
    }
    CCrawlResult result(socketDescriptor(), bytes, m_current.url());
    CFetchOutcome fetched = outcome();
    // The fetch has no URL of its own beyond the one it was given: no redirect is followed.
    if (fetched.finalUrl().isEmpty())
        fetched.setFinalUrl(m_current.url());
    result.setOutcome(fetched);
    result.setPageName(storedAs);
    m_results.append(result);
    m_queue.removeFirst();
    emit urlFinished();
    if (m_queue.isEmpty()) {
        // Only once every page of the list is on disk: the last report starts the extraction.
        if (m_writer.pending() == 0)
            emit urlListProcessed(socketDescriptor());
        else
            m_reportWaiting = true;
        return;
    }
    if (writerFree())
        fetch(m_queue.first());
    else
        m_fetchWaiting = true;
}

void CLeechSocket::fetch(const CLeechUrl& url)
{
    m_next = url;
    setHost(m_next.host());
    setPath(m_next.path());
    // Always the web port: the port field of the base is not ours to use.
    startFetchOnPort(HttpPort::port());
}
