#include "extraction/leechproxies.h"

#include "extraction/claimedpages.h"
#include "extraction/distinctproxies.h"
#include "extraction/linetemplate.h"
#include "extraction/pagescanner.h"
#include "extraction/proxytext.h"
#include "extraction/proxytextset.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "util/vectorstate.h"

#include <algorithm>
#include <optional>
#include <utility>

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <unistd.h>

namespace {

// A stored page as bytes. Pages hold ASCII only; in any other file every byte that is not a digit, dot or
// colon parts proxies just as the character a text reading would make of it. A folder or a file that cannot be
// read counts as an empty page.
QByteArray readPage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The pages of one extraction in the order they are read, whether on disk or in memory: by name, as the run
// folder lists them.
struct ReadPage
{
    QString name;
    QString path; // empty for a page in memory
    QByteArray text;
};

// A page file's place in the URL list: "<fetcher>-<page>.dat", each fetcher holding one block of the list in
// order. Nothing for a name of another form.
std::optional<std::pair<int, int>> listPlace(const QString& name)
{
    const qsizetype dash = name.indexOf(QLatin1Char('-'));
    const qsizetype dot = name.indexOf(QLatin1Char('.'), dash + 1);
    bool fetcherRead = false;
    bool pageRead = false;
    const int fetcher = QStringView(name).left(dash).toInt(&fetcherRead);
    const int page = QStringView(name).mid(dash + 1, dot - dash - 1).toInt(&pageRead);
    if (dash < 0 || dot < 0 || !fetcherRead || !pageRead)
        return std::nullopt;
    return std::pair{fetcher, page};
}

// By name, as the run folder lists them; or, where each proxy is written once, in the order of the URL list, so
// that a proxy is written from the first source that gave it.
QList<ReadPage> pagesInOrder(const QStringList& paths, const QList<MemoryPages::Page>& kept, bool listOrder)
{
    QList<ReadPage> pages;
    for (const QString& path : paths)
        pages.append({QFileInfo(path).fileName(), path, QByteArray()});
    for (const MemoryPages::Page& page : kept)
        pages.append({page.name, QString(), page.text});
    std::stable_sort(pages.begin(), pages.end(), [listOrder](const ReadPage& a, const ReadPage& b) {
        if (listOrder) {
            const auto placeA = listPlace(a.name);
            const auto placeB = listPlace(b.name);
            if (placeA && placeB)
                return *placeA < *placeB;
        }
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    return pages;
}

// A page kept in memory is its proxy texts already, each once, a line each, in page order: written as they stand.
bool writeKeptProxies(const QByteArray& texts, const PageScanner::Sink& sink)
{
    for (qsizetype at = 0; at < texts.size();) {
        qsizetype end = texts.indexOf('\n', at);
        if (end < 0)
            end = texts.size();
        const QByteArrayView proxy(texts.constData() + at, end - at);
        if (!proxy.isEmpty() && !sink(proxy.data(), int(proxy.size()), int(proxy.indexOf(':'))))
            return false;
        at = end + 1;
    }
    return true;
}

// About how many proxy texts the pages hold: a page in memory holds one a line; a page on disk, as a proxy-list row,
// about one in 64 bytes.
qsizetype expectedTexts(const QList<ReadPage>& pages)
{
    qsizetype texts = 0;
    for (const ReadPage& page : pages)
        // std::count, which the compiler does many bytes at a time: QByteArray::count looks at one after the other,
        // and the run waits for this over every kept text.
        texts += page.path.isEmpty() ? std::count(page.text.cbegin(), page.text.cend(), '\n')
                                     : QFileInfo(page.path).size() / 64;
    return texts;
}

} // namespace

CLeechProxies::CLeechProxies(QObject* parent) : QThread(parent) {}

CLeechProxies::~CLeechProxies()
{
    // A run that has not opened its file yet does not take the request, so it is repeated until the run ends.
    closeOutput();
    while (!wait(20))
        closeOutput();
    const QMutexLocker runLock(&m_runLock);
}

void CLeechProxies::closeOutput()
{
    int writing = Writing;
    m_outputState.compare_exchange_strong(writing, StopRequested);
}

bool CLeechProxies::outputWritable() const
{
    return m_outputState.load() == Writing && m_output.isOpen() && m_output.failure().isEmpty();
}

bool CLeechProxies::finishOutput()
{
    // On disk before any page goes: the pages are removed only once the proxies are safe.
    const bool complete = m_output.isOpen() && m_output.close();
    m_outputState.store(Closed);
    return complete;
}

QHash<QString, int> CLeechProxies::linesPerPage()
{
    const QMutexLocker runLock(&m_runLock);
    QHash<QString, int> lines;
    for (auto it = m_tallies.cbegin(); it != m_tallies.cend(); ++it)
        if (it->written > 0)
            lines.insert(it.key(), it->written);
    return lines;
}

QHash<QString, CLeechProxies::PageTally> CLeechProxies::tallies()
{
    const QMutexLocker runLock(&m_runLock);
    return m_tallies;
}

QList<CLeechProxies::PageProxies> CLeechProxies::proxiesPerPage()
{
    const QMutexLocker runLock(&m_runLock);
    return m_proxiesPerPage;
}

void CLeechProxies::start(QThread::Priority priority)
{
    if (isRunning())
        return;
    const QMutexLocker runLock(&m_runLock);
    // The window's template is the one set when the run starts; a job's was given with the job.
    if (m_config)
        m_format = m_config->outputFormat();
    QThread::start(priority);
}

void CLeechProxies::run()
{
    const QMutexLocker runLock(&m_runLock);
    const QString pageFolder = UserFolders::runFolder(static_cast<quint32>(m_runStamp));
    // QDir's defaults: files and folders, hidden ones left out, "." and ".." included, sorted by name
    // ignoring case. A name such as "-x" sorts before ".", so the dot entries are skipped by name.
    const QStringList listing = QDir(pageFolder).entryList();
    if (listing.isEmpty())
        return; // no page folder at all
    ClaimedPages pages(pageFolder, listing);
    const QList<MemoryPages::Page> kept = m_memory ? m_memory->takeAll() : QList<MemoryPages::Page>();
    const auto giveBack = [&] {
        pages.giveBack();
        if (m_memory)
            m_memory->giveBack(kept);
    };

    // The start time names the file, in whole seconds. A list of this run stamp started in the same second has
    // that name already, here or in another program: the run then takes the next second.
    QString createFailure;
    const bool opened = m_output.create(UserFolders::outputFolder(), static_cast<quint32>(m_runStamp), &createFailure);
    if (opened)
        m_outputState.store(Writing);

    const int lineCount = writeProxies(pages.paths(), kept);
    const bool complete = finishOutput();

    QString finalPath;
    // Never over another file: the name is ours, since no other list could take our unfinished name's second.
    if (!opened || lineCount == 0 || !complete || !m_output.finish(lineCount, &finalPath)) {
        // A cut file is no list: it goes, and every page stays to be read again by the next Start.
        m_output.discard();
        giveBack();
        if (opened && lineCount == 0) {
            // The pages stay for the next run of this program run.
            emit noProxyResults();
            return;
        }
        // The notice first: the window shows the reason on top of it, so the reason is read first.
        if (!opened)
            emit noProxyResults();
        emit outputWriteFailed(opened ? QStringLiteral("Writing the output file failed:\n%1\n%2\nThe fetched pages are "
                                                       "kept and read again by the next Start.")
                                            .arg(m_output.unfinishedPath(), m_output.failure())
                                      : QStringLiteral("The output file could not be created:\n%1\n%2\nThe fetched "
                                                       "pages are kept and read again by the next Start.")
                                            .arg(m_output.unfinishedPath(), createFailure));
        return;
    }

    emit harvestComplete();
    // Only the pages listed at the start go; one stored since stays for the next run.
    pages.remove();
    emit outputWritten(finalPath);
}

int CLeechProxies::writeProxies(const QStringList& pagePaths, const QList<MemoryPages::Page>& kept)
{
    // Taken once, when the run was started: a template changed during the run applies to the next one.
    const LineTemplate lineTemplate(m_format);
    const bool keep = m_keepProxies.load();
    const bool whole = m_wholeProxyCopies.load();
    const QList<ReadPage> pages = pagesInOrder(pagePaths, kept, whole);
    int lineCount = 0;
    QByteArray line;
    // The proxy goes to the list; false when the list cannot take it.
    const auto writeLine = [&](const char* proxy, int length, int colon) {
        if (lineTemplate.isPlain()) {
            // Made in the list's own room: no copy of the line.
            const int portLength = length - colon - 1;
            const qsizetype size = lineTemplate.lineSize(colon, portLength, "\r\n");
            char* to = m_output.room(size);
            if (!to)
                return false;
            lineTemplate.writeLine(to, proxy, colon, proxy + colon + 1, portLength, "\r\n");
            if (!m_output.wrote(size))
                return false;
        } else {
            line.truncate(0); // keeps its room: clear() would free it, and each line allocate anew
            lineTemplate.appendLine(line, proxy, colon, proxy + colon + 1, length - colon - 1, "\r\n");
            if (!m_output.write(line))
                return false;
        }
        ++lineCount;
        if (m_lineCounter)
            m_lineCounter->fetch_add(1, std::memory_order_relaxed);
        emit signifyNewProxy();
        return true;
    };
    m_tallies.clear();
    m_proxiesPerPage.clear();
    if (keep) {
        for (const ReadPage& page : pages)
            m_proxiesPerPage.append({page.name, {}});
    }
    // The page being read, for the sink: pages come in order, so a page is whole when the next one starts.
    int toldPage = -1;
    QByteArray toldTexts;
    const auto tellPage = [&] {
        if (toldPage >= 0)
            m_pageSink(pages[toldPage].name, toldTexts, m_tallies.value(pages[toldPage].name));
        toldTexts.clear();
    };
    // A proxy the page gives: counted and kept for it, and written unless an earlier page gave it.
    // The tally of the page being read, looked up once a page: nothing else is added to the tallies meanwhile.
    int tallyPage = -1;
    PageTally* tally = nullptr;
    const auto given = [&](int page, const char* proxy, int length, int colon, bool written) {
        if (!outputWritable())
            return false;
        if (page != tallyPage) {
            tally = &m_tallies[pages[page].name];
            tallyPage = page;
            VectorState::clearUpperHalves(); // after the page's name was hashed
        }
        ++tally->given;
        if (keep)
            m_proxiesPerPage[page].proxies.append(QByteArray(proxy, length));
        if (m_pageSink && !pages[page].path.isEmpty()) {
            if (page != toldPage)
                tellPage();
            toldPage = page;
            toldTexts.append(proxy, length).append('\n');
        }
        if (!written)
            return true;
        ++tally->written;
        return writeLine(proxy, length, colon);
    };
    if (!whole) {
        PageScanner scanner;
        for (int page = 0; page < pages.size() && outputWritable(); ++page) {
            QByteArray text = readPage(pages[page].path);
            scanner.scan(text, [&](const char* proxy, int length, int colon) {
                return given(page, proxy, length, colon, true);
            });
        }
        tellPage();
        return lineCount;
    }
    // Every proxy text of the pages in order, repeats too: pages in memory hold each of theirs once already.
    const DistinctProxies::Walk walk = [&](const DistinctProxies::Visit& visit) {
        for (int page = 0; page < pages.size(); ++page) {
            const PageScanner::Sink sink = [&](const char* proxy, int length, int colon) {
                return visit(page, proxy, length, colon);
            };
            const ReadPage& source = pages[page];
            if (!outputWritable() ||
                !(source.path.isEmpty() ? writeKeptProxies(source.text, sink)
                                        : PageScanner::scanEveryProxy(readPage(source.path), sink)))
                return false;
        }
        return true;
    };
    DistinctProxies distinct(m_distinctCapacity);
    distinct.expect(expectedTexts(pages));
    distinct.tell(walk, [&](int page, const char* proxy, int length, int colon, DistinctProxies::Kind kind) {
        return given(page, proxy, length, colon, kind == DistinctProxies::FirstOfRun);
    });
    tellPage();
    return lineCount;
}
