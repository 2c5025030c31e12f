#pragma once

#include "extraction/pagereading.h"

#include <QByteArray>
#include <QString>

class ByteBudget;
class MemoryPages;

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Reduces replies to page files on the application's worker threads, so a large page never holds up the
// window or the fetches that share its event loop. One writer per page fetcher: it knows how many of that
// fetcher's pages are still on their way to disk.
class CPageWriter
{
public:
    CPageWriter() = default;
    ~CPageWriter();
    CPageWriter(const CPageWriter&) = delete;
    CPageWriter& operator=(const CPageWriter&) = delete;

    // Stores the reduced reply as the file at path on a worker thread. `stored` runs on that worker after
    // the file is in place (or could not be written: it then gets the reason), while pending() still counts
    // the page; an empty reply writes no file.
    using Stored = std::function<void(const QString& failure)>;
    // Runs on that worker with the page's proxy texts when the page is kept in memory, before `stored`.
    using Kept = std::function<void(const QByteArray& texts)>;
    void write(const QString& path, const QByteArray& reply, const QString& host, Stored stored,
               const PageReading& reading = {}, Kept kept = {});
    int pending() const;
    void waitForDone();
    // Pages are kept there, under their file names, while they fit in its budget; only the others are written.
    // A page kept holds its proxy texts alone, each once, in page order (PageText::proxyTexts): all that an extraction
    // that removes copies by whole proxy reads of it, as the command line's does, in a tenth of the room.
    void setMemory(MemoryPages* memory) { m_memory = memory; }
    // A reply waiting to be read, or being read, holds its size of the budget until it is let go.
    void setBudget(ByteBudget* budget) { m_budget = budget; }

    // Writes the page as the extraction reads it (PageText::readable) to the file, replacing it; false when the reply
    // is empty (nothing is written then) or the page could not be stored, with the reason in `failure`. The page is
    // written under a hidden name and only then given its own, so nobody ever reads half a page.
    static bool storePage(const QString& path, const QByteArray& reply, const QString& host, QString* failure = nullptr,
                          const PageReading& reading = {});

private:
    struct Page
    {
        QString path;
        QByteArray reply;
        QString host;
        Stored stored;
        PageReading reading;
        Kept kept;
    };

    void writeNext();

    // Standard locks rather than Qt's: ThreadSanitizer sees through them, so a sanitizer run can tell our
    // hand-over of a page to a worker from a race.
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::deque<Page> m_waiting;
    int m_pending = 0;
    MemoryPages* m_memory = nullptr;
    ByteBudget* m_budget = nullptr;
};
