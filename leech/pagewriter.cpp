#include "leech/pagewriter.h"

#include "extraction/pagetext.h"
#include "util/bytebudget.h"
#include "util/memorypages.h"
#include "util/vectorstate.h"

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

} // namespace

CPageWriter::~CPageWriter()
{
    waitForDone();
}

void CPageWriter::write(const QString& path, const QByteArray& reply, const QString& host, Stored stored,
                        const PageReading& reading, Kept kept)
{
    if (m_budget)
        m_budget->take(reply.size());
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back({path, reply, host, std::move(stored), reading, std::move(kept)});
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
    // The last task on this thread may have hashed a string (VectorState).
    VectorState::clearUpperHalves();
    Page page;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        page = std::move(m_waiting.front());
        m_waiting.pop_front();
    }
    QString failure;
    // A page's texts are hardly ever longer than the page: one that could not be kept is not read twice.
    QByteArray texts;
    const bool kept = m_memory && !page.reply.isEmpty() && m_memory->hasRoom(page.reply.size()) &&
                      m_memory->put(QFileInfo(page.path).fileName(),
                                    texts = PageText::proxyTexts(page.reply, page.host, page.reading));
    if (!kept)
        storePage(page.path, page.reply, page.host, &failure, page.reading);
    // The reply is given back before the fetcher hears of it and perhaps starts its next page.
    const qint64 held = page.reply.size();
    page.reply = QByteArray();
    if (m_budget)
        m_budget->give(held);
    // Before `stored`, and so before the owner can count the page in: whoever is told may take its time.
    if (kept && page.kept)
        page.kept(texts);
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

bool CPageWriter::storePage(const QString& path, const QByteArray& reply, const QString& host, QString* failure,
                            const PageReading& reading)
{
    if (reply.isEmpty())
        return false;
    // The marked site is rewritten before the page is reduced, piece by piece.
    const QByteArray text = PageText::rewritten(reply, host);
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
        PageText::reduce(text.constData() + at, size, piece.data());
        if (file.write(piece.constData(), size) != size)
            return fail();
    }
    bool written = true;
    PageText::forEachPartBehind(reply, reading, [&file, &written](const QByteArray& part) {
        written = written && file.write("\n", 1) == 1 && file.write(part) == part.size();
    });
    if (!written)
        return fail();
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
