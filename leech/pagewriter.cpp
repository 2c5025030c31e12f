#include "leech/pagewriter.h"

#include "extraction/pagescanner.h"
#include "extraction/pairreader.h"
#include "util/externalhosts.h"
#include "util/memorypages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// QThreadPool gives a task to its worker under a lock of Qt's own, which the thread sanitizer cannot see, so the
// worker's first touch of a writer made on the GUI thread would look unordered to it. Every task is also handed
// over through this counter: released before start(), acquired as the task begins.
std::atomic<quint64> tasksHandedOver{0};

// Pages are written in pieces of this size, so a reply is never held twice over in full.
constexpr qsizetype pieceSize = 1 << 20;

// Every byte that is not a digit, "." or ":" becomes one line feed, so the text keeps its length. Plain
// comparisons rather than a table, so the compiler can do many bytes at a time.
void reduce(const char* from, qsizetype size, char* to)
{
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(from[i]);
        const bool keep = static_cast<unsigned char>(c - '0') <= ':' - '0' || c == '.';
        to[i] = keep ? static_cast<char>(c) : '\n';
    }
}

// That site's links carry address and port as query parameters; this turns each into "address:port".
QByteArray rewritten(const QByteArray& reply, const QString& host)
{
    if (!host.contains(ExternalHosts::rewriteSiteMarker))
        return reply;
    QByteArray text = reply;
    text.replace("&host=", "\r\n");
    text.replace("&port=", ":");
    text.replace("&isSocks", "\r\n");
    return text;
}

} // namespace

void CPageWriter::dropCutAddressRun(QByteArray& reply)
{
    qsizetype end = reply.size();
    while (end > 0 && ((reply.at(end - 1) >= '0' && reply.at(end - 1) <= '9') || reply.at(end - 1) == '.' ||
                       reply.at(end - 1) == ':'))
        --end;
    reply.truncate(end);
}

CPageWriter::~CPageWriter()
{
    waitForDone();
}

void CPageWriter::write(const QString& path, const QByteArray& reply, const QString& host, Stored stored,
                        PageReading reading)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back({path, reply, host, std::move(stored), reading});
        ++m_pending;
    }
    // The application's pool has one worker per core: twenty writers of their own would only compete with
    // the window's thread, and the fetchers' own threads are ended by Stop.
    tasksHandedOver.fetch_add(1, std::memory_order_release);
    QThreadPool::globalInstance()->start([this] {
        tasksHandedOver.load(std::memory_order_acquire);
        writeNext();
    });
}

void CPageWriter::writeNext()
{
    Page page;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        page = std::move(m_waiting.front());
        m_waiting.pop_front();
    }
    QString failure;
    const bool kept =
        m_memory && !page.reply.isEmpty() &&
        m_memory->put(QFileInfo(page.path).fileName(), proxyTexts(readablePage(page.reply, page.host, page.reading)));
    if (!kept)
        storePage(page.path, page.reply, page.host, &failure, page.reading);
    // The reply is given back before the fetcher hears of it and perhaps starts its next page.
    page.reply = QByteArray();
    const std::lock_guard<std::mutex> lock(m_mutex);
    // Still counted while the owner is told, so an owner that waits for us is not gone yet.
    if (page.stored)
        page.stored(failure);
    --m_pending;
    m_done.notify_all();
}

int CPageWriter::pending() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
}

void CPageWriter::waitForDone()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return m_pending == 0; });
}

QByteArray CPageWriter::pageText(const QByteArray& reply, const QString& host)
{
    const QByteArray text = rewritten(reply, host);
    QByteArray page(text.size(), Qt::Uninitialized);
    reduce(text.constData(), text.size(), page.data());
    return page;
}

QByteArray CPageWriter::readablePage(const QByteArray& reply, const QString& host, PageReading reading)
{
    QByteArray page = pageText(reply, host);
    if (reading.pairs)
        page += '\n' + PairReader::read(reply, reading.cut);
    return page;
}

QByteArray CPageWriter::proxyTexts(const QByteArray& page)
{
    QByteArray texts;
    PageScanner::scanWholeProxies(page, [&texts](const char* text, int length, int) {
        texts.append(text, length).append('\n');
        return true;
    });
    return texts;
}

bool CPageWriter::storePage(const QString& path, const QByteArray& reply, const QString& host, QString* failure,
                            PageReading reading)
{
    if (reply.isEmpty())
        return false;
    const QByteArray text = rewritten(reply, host);
    const QFileInfo target(path);
    const QString partial = target.dir().filePath(QLatin1Char('.') + target.fileName() + QStringLiteral(".part"));
    QFile file(partial);
    const auto fail = [&] {
        if (failure)
            *failure = file.errorString();
        file.remove();
        return false;
    };
    // Text mode as the page files always had; on this platform it writes line feeds unchanged.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text | QIODevice::Unbuffered))
        return fail();
    QByteArray piece(qMin(pieceSize, text.size()), Qt::Uninitialized);
    for (qsizetype at = 0; at < text.size(); at += pieceSize) {
        const qsizetype size = qMin(pieceSize, text.size() - at);
        reduce(text.constData() + at, size, piece.data());
        if (file.write(piece.constData(), size) != size)
            return fail();
    }
    // The pairs go behind the page, a line each, where the scan finds them like any proxy text.
    if (reading.pairs) {
        const QByteArray pairs = '\n' + PairReader::read(reply, reading.cut);
        if (file.write(pairs) != pairs.size())
            return fail();
    }
    file.close();
    // rename() replaces a page of the same name in one step, as a page of a new harvest must.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0) {
        if (failure)
            *failure = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(partial);
        return false;
    }
    return true;
}
