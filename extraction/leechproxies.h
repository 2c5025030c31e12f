#pragma once

#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include "util/memorypages.h"
#include "util/outputlist.h"

#include <atomic>
#include <functional>

class CConfig;

// Turns the stored pages of the program run into one output file of proxies, one line per proxy.
class CLeechProxies : public QThread
{
    Q_OBJECT

public:
    explicit CLeechProxies(QObject* parent = nullptr);
    ~CLeechProxies() override;

    void setRunStamp(unsigned long runStamp) { m_runStamp = runStamp; }
    // The window's settings: the template is read from them when a run starts.
    void setConfig(CConfig* config) { m_config = config; }
    // Without settings: the template of every run.
    void setLineTemplate(const QString& lineTemplate) { m_format = lineTemplate; }
    // Called by Stop on the GUI thread: no line is written after it and the run ends at its next check.
    // Only a file already open is closed; a run that has not opened its file yet is not affected.
    void closeOutput();

    // Starts a run. The template is copied here, on the thread that owns the settings, so the worker never
    // reads them while the configuration window may be writing them.
    void start(QThread::Priority priority = QThread::InheritPriority);

    // Lines the last run wrote from each page, by the page's file name; pages without a line are left out.
    // Read once the run has ended.
    QHash<QString, int> linesPerPage();
    // What each page of the last run gave: its proxies, and the lines written from them (fewer where an earlier
    // page gave some of them and each proxy is written once); pages without a proxy left out.
    struct PageTally
    {
        int given = 0;
        int written = 0;
    };
    QHash<QString, PageTally> tallies();

    // When on, each run also keeps the proxy texts each page gave, page by page in the order found (with those an
    // earlier page gave); for a check of what a harvest gave, or a report of it, source by source.
    struct PageProxies
    {
        QString page; // the page file's name
        QList<QByteArray> proxies;
    };
    void setKeepProxies(bool keep) { m_keepProxies = keep; }
    // The command line's rule: a proxy written takes only its own copies out of the page, not every text that holds
    // it (1.2.3.4:80 leaves 1.2.3.4:8080 be), and a run writes each proxy once, from the first page in the order of
    // the URL list that gave it. Off, the window's: every copy of the text goes, wherever it stands in the page,
    // and pages are read in name order, each on its own.
    void setWholeProxyCopies(bool whole) { m_wholeProxyCopies = whole; }
    // Distinct proxies remembered at once where each is written once: about 25 bytes each. Past them, the rest of
    // the run is told after more reads of its pages (DistinctProxies). Set before a run starts.
    static constexpr qsizetype defaultDistinctCapacity = qsizetype(4) << 20;
    void setDistinctCapacity(qsizetype capacity) { m_distinctCapacity = capacity; }
    QList<PageProxies> proxiesPerPage();
    // Told on the extraction thread as soon as a page of the run folder is read, so that nothing need keep every
    // page's proxies to the end: the page file's name, the proxies it gave (those an earlier page gave too) one text
    // a line, and how many lines were written from it. Pages in the order read, each once; a page without a proxy
    // is not told, nor one kept in memory, whose texts its fetching told as it kept it
    // (PageFetching::setPageRead). Set before a run starts.
    using PageSink = std::function<void(const QString& page, const QByteArray& texts, const PageTally& tally)>;
    void setPageSink(PageSink sink) { m_pageSink = std::move(sink); }
    // Each line written also adds one to `counter`, for a reader on another thread; set before a run starts. Cheaper
    // than a receiver of signifyNewProxy() for who only counts.
    void setLineCounter(std::atomic<int>* counter) { m_lineCounter = counter; }
    // Pages kept in memory are read with those of the run folder, in name order; set before a run starts.
    void setMemoryPages(MemoryPages* memory) { m_memory = memory; }

signals:
    void signifyNewProxy();
    void harvestComplete();
    // After harvestComplete, with the file's final path, once the run's pages are gone. Whether the
    // desktop opens it is the receiver's choice.
    void outputWritten(const QString& path);
    void noProxyResults();
    // The output file could not be created or written to the end; the pages stay.
    void outputWriteFailed(const QString& strMessage);

protected:
    void run() override;

private:
    // Who may touch the output file: only the worker writes and closes it while a run goes on; Stop
    // turns Writing into StopRequested and the worker closes the file itself at its next check.
    enum OutputState { Closed, Writing, StopRequested };

    bool outputWritable() const;
    int writeProxies(const QStringList& pagePaths, const QList<MemoryPages::Page>& kept);
    bool finishOutput();

    unsigned long m_runStamp = 0;
    OutputList m_output;
    CConfig* m_config = nullptr;
    QString m_format = QStringLiteral("A:P");
    QHash<QString, PageTally> m_tallies;
    std::atomic<bool> m_keepProxies{false};
    std::atomic<bool> m_wholeProxyCopies{false};
    qsizetype m_distinctCapacity = defaultDistinctCapacity;
    QList<PageProxies> m_proxiesPerPage;
    PageSink m_pageSink;
    MemoryPages* m_memory = nullptr;
    std::atomic<int>* m_lineCounter = nullptr;
    std::atomic<int> m_outputState{Closed};
    // The members a run uses belong to whoever holds this: the worker for the whole run, the GUI thread while it
    // sets up a run or destroys the object. QThread::isRunning() and wait() give the same order, but through a
    // lock inside Qt that the thread sanitizer cannot see.
    QMutex m_runLock;
};
