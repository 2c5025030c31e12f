#include "pool/poolharvestrecorder.h"

#include "util/threadpriority.h"

#include <cstring>

namespace {

// Up to `count` lines of `texts` from `*at` on, counted in `*taken`; `*at` moves past them.
QByteArray lines(const QByteArray& texts, qsizetype* at, size_t count, size_t* taken)
{
    const char* const start = texts.constData() + *at;
    const char* const end = texts.constData() + texts.size();
    const char* line = start;
    for (*taken = 0; line < end && *taken < count; ++*taken) {
        const char* next = static_cast<const char*>(std::memchr(line, '\n', size_t(end - line)));
        line = next ? next + 1 : end;
    }
    *at += line - start;
    return QByteArray(start, line - start);
}

} // namespace

PoolHarvestRecorder::PoolHarvestRecorder(const QString& path, const RunClock& clock, quint32 runStamp, qint64 started,
                                         QObject* parent)
    : QObject(parent), m_clock(clock), m_started(started),
      m_thread(path, PoolStore::Access::Write, QStringLiteral("harvest pool"))
{
    connect(&m_thread, &PoolThread::openFailed, this, &PoolHarvestRecorder::openFailed);
    m_timer.setInterval(flushEveryMs);
    connect(&m_timer, &QTimer::timeout, this, &PoolHarvestRecorder::flush);
    m_timer.start();
    PoolHarvest harvest;
    harvest.runStamp = runStamp;
    harvest.started = started;
    harvest.ended = started;
    m_thread.ask([this, harvest](PoolStore* store) {
        ThreadPriority::giveWay();
        if (store && !store->beginHarvest(harvest, &m_harvestId)) {
            m_harvestId = -1;
            m_thread.answer([this, failure = store->failure()] { tellMissed(failure); });
        }
    });
}

PoolHarvestRecorder::~PoolHarvestRecorder() = default;

void PoolHarvestRecorder::addPage(PoolHarvest::Page page, const QByteArray& texts)
{
    std::unique_lock<std::mutex> hold(m_lock);
    const auto proxies = size_t(page.proxies);
    // A copy of its own: the caller's bytes are shared through Qt's counts, which ThreadSanitizer cannot see.
    m_batch.push_back({std::move(page), QByteArray(texts.constData(), texts.size())});
    m_batchProxies += proxies;
    m_waiting += proxies;
    if (m_batchProxies >= flushProxies)
        flushLocked();
    m_written.wait(hold, [this] { return m_waiting <= maxWaiting; });
}

void PoolHarvestRecorder::flush()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    flushLocked();
}

void PoolHarvestRecorder::finish(std::vector<PoolHarvest::Page> rest)
{
    m_timer.stop();
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        for (PoolHarvest::Page& page : rest)
            m_batch.push_back({std::move(page), {}});
        flushLocked();
    }
    const qint64 ended = m_clock.now();
    m_thread.ask([this, ended](PoolStore* store) {
        if (store && m_harvestId >= 0 && !store->endHarvest(m_harvestId, ended))
            m_thread.answer([this, failure = store->failure()] { tellMissed(failure); });
    });
    m_thread.finish();
}

void PoolHarvestRecorder::flushLocked()
{
    if (m_batch.empty())
        return;
    m_thread.ask([this, pages = std::move(m_batch), proxies = m_batchProxies](PoolStore* store) mutable {
        write(store, pages, proxies);
    });
    m_batch.clear();
    m_batchProxies = 0;
}

void PoolHarvestRecorder::write(PoolStore* store, std::vector<WaitingPage>& waiting, size_t proxies)
{
    // Written a batch at a time, a large page in pieces, so that no write holds the pool for long.
    std::vector<PoolHarvest::Page> pages;
    size_t batched = 0;
    const auto writeBatch = [&] {
        if (store && m_harvestId >= 0 && !store->recordPages(m_harvestId, m_started, pages))
            m_thread.answer([this, failure = store->failure()] { tellMissed(failure); });
        pages.clear();
        batched = 0;
    };
    for (WaitingPage& page : waiting) {
        qsizetype at = 0;
        do {
            pages.push_back(page.page);
            // A page that fits whole, as most do, is passed on without a look at its lines.
            size_t taken = size_t(page.page.proxies);
            if (at == 0 && batched + taken <= batchProxies) {
                pages.back().texts = page.texts;
                at = page.texts.size();
            } else {
                pages.back().texts = lines(page.texts, &at, batchProxies - batched, &taken);
            }
            pages.back().more = at < page.texts.size();
            batched += taken;
            if (batched >= batchProxies)
                writeBatch();
        } while (at < page.texts.size());
        page.texts.clear();
    }
    if (!pages.empty())
        writeBatch();
    // While the extraction still runs: the harvest's end writes a few pages more, after the log has restarted.
    if (store)
        store->copyLogIn();
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_waiting -= proxies;
    }
    m_written.notify_all();
}

void PoolHarvestRecorder::tellMissed(const QString& failure)
{
    if (!m_missed)
        emit missed(QStringLiteral("some of this harvest's pages"), failure);
    m_missed = true;
}
