#include "extraction/leechproxies.h"
#include "extraction/pagescanner.h"
#include "extraction/proxyaddress.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "tests/support/literalscan.h"
#include "tests/support/testhome.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <iterator>
#include <memory>

using Pages = QList<QPair<QString, QByteArray>>;
Q_DECLARE_METATYPE(Pages)

namespace {

const quint32 runStamp = 1341302400;

// The expected file of a run over these pages, in name order, built from the literal scan.
QByteArray literalOutput(const QList<QByteArray>& pages, const QString& format)
{
    QByteArray expected;
    CProxyAddress record;
    for (const QByteArray& page : pages) {
        for (const QString& proxy : LiteralScan::scanPage(QString::fromLatin1(page))) {
            const int colon = proxy.indexOf(QLatin1Char(':'));
            record.setAddress(proxy.left(colon));
            expected +=
                (formatProxyLine(format, proxy.left(colon), proxy.mid(colon + 1), record) + QStringLiteral("\r\n"))
                    .toLatin1();
        }
    }
    return expected;
}

// Points at the first line where two files part, so a mismatch in a large file can be read.
QByteArray firstDifference(const QByteArray& actual, const QByteArray& expected)
{
    const QList<QByteArray> a = actual.split('\n');
    const QList<QByteArray> e = expected.split('\n');
    for (int i = 0; i < qMax(a.size(), e.size()); ++i) {
        const QByteArray left = i < a.size() ? a.at(i) : QByteArray("<end>");
        const QByteArray right = i < e.size() ? e.at(i) : QByteArray("<end>");
        if (left != right) {
            const auto shown = [](QByteArray line) { return line.replace('\r', "\\r"); };
            return "line " + QByteArray::number(i + 1) + ": got \"" + shown(left) + "\", expected \"" + shown(right) +
                   '"';
        }
    }
    return QByteArray();
}

// Waits without running the event loop, so the queued signals are all delivered after the run.
bool waitForLines(const std::atomic<int>& written, int lines)
{
    QElapsedTimer waited;
    waited.start();
    while (written.load() < lines && waited.elapsed() < 60000)
        QThread::msleep(1);
    return written.load() >= lines;
}

// Set by the worker as its last act. A global, not a capture: the connection holding the slot is freed on the GUI
// thread, and a read of a capture on the worker would race with that in the sanitizer's eyes.
std::atomic<bool> runEnded{false};

} // namespace

class LeechProxiesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeFile_data();
    void wholeFile();
    void noPageFolder_nothingHappens();
    void emptyPageFolder_noticeAndNoFileLeft();
    void pagesWithoutProxies_stayForTheNextRun();
    void finishedRun_namedCountedOpenedAndPagesGone();
    void entriesSortedBeforeTheDotEntries_areRead();
    void folderAndHiddenEntries_areNeitherReadNorRemoved();
    void pageStoredDuringRun_stays_data();
    void pageStoredDuringRun_stays();
    void outputNotWritten_toldAndNoPageLost_data();
    void outputNotWritten_toldAndNoPageLost();
    void twoRuns_sameStampNewStartAndTemplateReadPerRun();
    void scanner_matchesLiteralScan_data();
    void scanner_matchesLiteralScan();
    void randomPages_matchLiteralScan();
    void realPages_matchLiteralScan();
    void stopAfterThreeLines_keepsExactlyThose();
    void stopBeforeAnyLine_writesNothingAndPagesStay();
    void stopWhileWritingLargePageSet_fileHoldsTheCountedPrefix();
    void destroyedDuringRun_stopsAndKeepsItsLines();

private:
    void writePage(const QString& name, const QByteArray& content);
    QString pageFolder() const { return UserFolders::runFolder(runStamp); }
    QStringList pageNames() const;
    QStringList outputNames() const;
    QByteArray outputContent(const QString& name) const;
    void prepare(CLeechProxies& extraction);
    void runToEnd(CLeechProxies& extraction);
    void finishRun(CLeechProxies& extraction);
    void runAndCompareWithLiteralScan(const QList<QByteArray>& pagesInNameOrder, const QString& format,
                                      int moreLinesThan);
    void watch(CLeechProxies& extraction);
    // Writes large pages of distinct, well separated proxies, so the lines of a full run are known in order.
    QByteArray writeLargePageSet(int pages, int proxiesPerPage);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<CConfig> m_config;
    QStringList m_written; // output paths told, in order
    QStringList m_signals; // in the order they reached the GUI thread
    QString m_failure;
};

void LeechProxiesTest::init()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QVERIFY(QDir().mkpath(pageFolder()));
    QVERIFY(QDir().mkpath(UserFolders::outputFolder()));
    m_config = std::make_unique<CConfig>();
    // Signals left over from a test that failed half-way must not count here.
    QCoreApplication::sendPostedEvents();
    m_signals.clear();
    m_written.clear();
}

void LeechProxiesTest::cleanup()
{
    m_config.reset();
    m_home.reset();
}

void LeechProxiesTest::writePage(const QString& name, const QByteArray& content)
{
    QFile file(QDir(pageFolder()).filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QStringList LeechProxiesTest::pageNames() const
{
    return QDir(pageFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList LeechProxiesTest::outputNames() const
{
    return QDir(UserFolders::outputFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray LeechProxiesTest::outputContent(const QString& name) const
{
    QFile file(QDir(UserFolders::outputFolder()).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot open>");
    return file.readAll();
}

void LeechProxiesTest::watch(CLeechProxies& extraction)
{
    // Context object in the GUI thread: the signals arrive queued, as they do in the main window.
    connect(&extraction, &CLeechProxies::signifyNewProxy, this, [this] { m_signals << "new"; });
    connect(&extraction, &CLeechProxies::harvestComplete, this, [this] { m_signals << "complete"; });
    connect(&extraction, &CLeechProxies::noProxyResults, this, [this] { m_signals << "none"; });
    connect(&extraction, &CLeechProxies::outputWriteFailed, this, [this](const QString& message) {
        m_signals << "failed";
        m_failure = message;
    });
    // Told through the extraction itself, so a run that ends with its object tells nobody.
    connect(&extraction, &CLeechProxies::outputWritten, &extraction,
            [this](const QString& path) { m_written << path; });
}

void LeechProxiesTest::prepare(CLeechProxies& extraction)
{
    extraction.setRunStamp(runStamp);
    extraction.setConfig(m_config.get());
    // Qt hands a finished thread and its queued calls over through its own locks, which ThreadSanitizer
    // cannot see in an uninstrumented Qt; this flag makes the end of the run visible to it.
    connect(
        &extraction, &QThread::finished, &extraction, [] { runEnded.store(true, std::memory_order_release); },
        Qt::DirectConnection);
}

void LeechProxiesTest::runToEnd(CLeechProxies& extraction)
{
    extraction.start();
    finishRun(extraction);
}

void LeechProxiesTest::finishRun(CLeechProxies& extraction)
{
    QVERIFY(extraction.wait(120000));
    QVERIFY(runEnded.exchange(false, std::memory_order_acquire));
    // The queued signals of the run are delivered only now, after the run has ended.
    QCoreApplication::sendPostedEvents();
}

QByteArray LeechProxiesTest::writeLargePageSet(int pages, int proxiesPerPage)
{
    QByteArray all;
    for (int p = 0; p < pages; ++p) {
        QByteArray page;
        for (int i = 0; i < proxiesPerPage; ++i) {
            // Fixed width, so no proxy is part of another and a removal never joins two into a new one.
            const QByteArray proxy =
                QString::asprintf("%03d.%03d.%03d.%03d:%05d", 100 + p, i / 256, i % 256, (i * 7) % 256, 10000 + i)
                    .toLatin1();
            page += proxy + "\n\n";
            all += proxy + "\r\n";
        }
        writePage(QString::asprintf("%03d-1.dat", p), page);
    }
    return all;
}

void LeechProxiesTest::wholeFile_data()
{
    QTest::addColumn<Pages>("pages");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("expected");

    auto one = [](const QByteArray& content) { return Pages{{QStringLiteral("0-1.dat"), content}}; };

    QTest::newRow("duplicates in a page written once")
        << one("1.2.3.4:80\n1.2.3.4:80\n5.6.7.8:3128\n") << "A:P" << QByteArray("1.2.3.4:80\r\n5.6.7.8:3128\r\n");
    QTest::newRow("same proxy in two pages written twice")
        << Pages{{"0-1.dat", "1.2.3.4:80"}, {"0-2.dat", "\n1.2.3.4:80\n"}} << "A:P"
        << QByteArray("1.2.3.4:80\r\n1.2.3.4:80\r\n");
    QTest::newRow("removal joins its two sides into a new proxy")
        << one("1.2.3.4:80\n5.6.71.2.3.4:80.8:3128") << "A:P" << QByteArray("1.2.3.4:80\r\n5.6.7.8:3128\r\n");
    QTest::newRow("longer proxy cut by a shorter one written first")
        << one("1.2.3.4:80\n11.2.3.4:8080\n") << "A:P" << QByteArray("1.2.3.4:80\r\n");
    QTest::newRow("leftmost match taken as long as possible")
        << one("1234.5.6.7:80\n") << "A:P" << QByteArray("234.5.6.7:80\r\n");
    QTest::newRow("port cut at five digits") << one("1.2.3.4:123456") << "A:P" << QByteArray("1.2.3.4:12345\r\n");
    QTest::newRow("port 808080 gives 80808") << one("1.2.3.4:808080") << "A:P" << QByteArray("1.2.3.4:80808\r\n");
    QTest::newRow("four-digit first group loses a digit")
        << one("0001.2.3.4:80") << "A:P" << QByteArray("001.2.3.4:80\r\n");
    QTest::newRow("no range checks") << one("999.999.999.999:99999") << "A:P"
                                     << QByteArray("999.999.999.999:99999\r\n");
    QTest::newRow("one-digit port is no proxy") << one("1.2.3.4:8\n") << "A:P" << QByteArray();
    QTest::newRow("five dotted groups: the last four count")
        << one("1.2.3.4.5:80") << "A:P" << QByteArray("2.3.4.5:80\r\n");
    QTest::newRow("leading zeros written as found")
        << one("010.001.002.003:00080") << "A:P C B"
        << QByteArray("010.001.002.003:00080 A 00001010 00000001 00000010 00000011\r\n");
    QTest::newRow("several pages in name order")
        << Pages{{"9-1.dat", "9.9.9.9:99"}, {"10-1.dat", "10.10.10.10:1010"}, {"1-2.dat", "1.1.1.1:11"}} << "A:P"
        << QByteArray("1.1.1.1:11\r\n10.10.10.10:1010\r\n9.9.9.9:99\r\n");
    QTest::newRow("empty template gives empty lines") << one("1.2.3.4:80 5.6.7.8:81") << "" << QByteArray("\r\n\r\n");
    QTest::newRow("tab template") << one("1.2.3.4:80") << "ATP" << QByteArray("1.2.3.4\t80\r\n");
    QTest::newRow("Latin-1 kept, others become ?") << one("1.2.3.4:80") << QString::fromUtf8("A\u00e9P\u2192")
                                                   << QByteArray("1.2.3.4\xe9"
                                                                 "80?\r\n");
}

void LeechProxiesTest::wholeFile()
{
    QFETCH(Pages, pages);
    QFETCH(QString, format);
    QFETCH(QByteArray, expected);
    for (const auto& page : std::as_const(pages))
        writePage(page.first, page.second);
    m_config->setOutputFormat(format);

    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    runToEnd(extraction);

    const int lines = int(expected.count("\r\n"));
    const QStringList names = outputNames();
    if (lines == 0) {
        QCOMPARE(names, QStringList());
        QCOMPARE(m_signals, QStringList{"none"});
        return;
    }
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith(QString::number(lines) + QLatin1Char('-')), qPrintable(names.first()));
    const QByteArray actual = outputContent(names.first());
    QVERIFY2(actual == expected, firstDifference(actual, expected).constData());
    QCOMPARE(m_signals.size(), lines + 1);
    QCOMPARE(m_signals.last(), QStringLiteral("complete"));
}

void LeechProxiesTest::noPageFolder_nothingHappens()
{
    QVERIFY(QDir(pageFolder()).removeRecursively());
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    runToEnd(extraction);
    QCoreApplication::processEvents();

    QCOMPARE(m_signals, QStringList());
    QCOMPARE(outputNames(), QStringList());
    QCOMPARE(m_written, QStringList());
}

void LeechProxiesTest::emptyPageFolder_noticeAndNoFileLeft()
{
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    runToEnd(extraction);
    QCoreApplication::processEvents();

    QCOMPARE(m_signals, QStringList{"none"});
    QCOMPARE(outputNames(), QStringList());
    QVERIFY(QDir(pageFolder()).exists());
    QCOMPARE(m_written, QStringList());
}

void LeechProxiesTest::pagesWithoutProxies_stayForTheNextRun()
{
    writePage("0-1.dat", "1.2.3.4\n80\n1.2.3:80\n");
    writePage("0-2.dat", "");
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    runToEnd(extraction);

    QCOMPARE(m_signals, QStringList{"none"});
    QCOMPARE(outputNames(), QStringList());
    QCOMPARE(pageNames(), QStringList({"0-1.dat", "0-2.dat"}));

    // The next run of the same program run reads them again together with a new page.
    writePage("1-1.dat", "5.6.7.8:3128");
    m_signals.clear();
    runToEnd(extraction);
    QCOMPARE(m_signals, QStringList({"new", "complete"}));
    QCOMPARE(pageNames(), QStringList());
}

void LeechProxiesTest::finishedRun_namedCountedOpenedAndPagesGone()
{
    writePage("0-1.dat", "1.2.3.4:80\n\n5.6.7.8:3128\n1.2.3.4:80\n");
    writePage("0-2.dat", "9.8.7.6:8080");
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QDate dayBefore = QDate::currentDate();
    runToEnd(extraction);
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    QCOMPARE(m_signals, QStringList({"new", "new", "new", "complete"}));
    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    const QRegularExpression recognised(QRegularExpression::anchoredPattern(CLeechProxies::outputNamePattern),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch fields = recognised.match(names.first());
    QVERIFY2(fields.hasMatch(), qPrintable(names.first()));
    QCOMPARE(fields.captured(1), QStringLiteral("3"));
    const QDate day(fields.captured(2).toInt(), fields.captured(3).toInt(), fields.captured(4).toInt());
    QVERIFY(day == dayBefore || day == QDate::currentDate());
    QCOMPARE(fields.captured(5), QString::number(runStamp));
    const qint64 start = fields.captured(6).toLongLong();
    QVERIFY(start >= before && start <= after);

    QCOMPARE(outputContent(names.first()), QByteArray("1.2.3.4:80\r\n5.6.7.8:3128\r\n9.8.7.6:8080\r\n"));
    QCOMPARE(pageNames(), QStringList());
    QVERIFY(QDir(pageFolder()).exists());

    // The final path is told once the event loop runs.
    QTRY_COMPARE(m_written.size(), 1);
    QCOMPARE(m_written.first(), QDir(UserFolders::outputFolder()).filePath(names.first()));
}

void LeechProxiesTest::entriesSortedBeforeTheDotEntries_areRead()
{
    // "-x" and " b" sort before "." and "..": skipping two entries by position would miss them.
    writePage("-early.dat", "1.1.1.1:11");
    writePage(" blank.dat", "2.2.2.2:22");
    writePage("0-1.dat", "3.3.3.3:33");
    CLeechProxies extraction;
    prepare(extraction);
    runToEnd(extraction);

    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QCOMPARE(outputContent(names.first()), QByteArray("2.2.2.2:22\r\n1.1.1.1:11\r\n3.3.3.3:33\r\n"));
    QCOMPARE(pageNames(), QStringList());
}

void LeechProxiesTest::folderAndHiddenEntries_areNeitherReadNorRemoved()
{
    writePage(".hidden.dat", "7.7.7.7:77");
    QVERIFY(QDir(pageFolder()).mkdir("0-0.dat"));
    writePage("0-1.dat", "1.2.3.4:80");
    CLeechProxies extraction;
    prepare(extraction);
    runToEnd(extraction);

    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QCOMPARE(outputContent(names.first()), QByteArray("1.2.3.4:80\r\n"));
    QCOMPARE(pageNames(), QStringList({".hidden.dat", "0-0.dat"}));
}

void LeechProxiesTest::pageStoredDuringRun_stays_data()
{
    QTest::addColumn<QString>("late");
    QTest::newRow("new name") << "0-3.dat";
    // A harvest started again during the extraction stores its pages under the names just read.
    QTest::newRow("name of a page read") << "0-1.dat";
}

void LeechProxiesTest::pageStoredDuringRun_stays()
{
    QFETCH(QString, late);
    writePage("0-1.dat", "1.2.3.4:80");
    writePage("0-2.dat", "5.6.7.8:80");
    CLeechProxies extraction;
    prepare(extraction);
    // Runs in the worker after its first line, so the new page comes after the listing.
    const QString path = QDir(pageFolder()).filePath(late);
    connect(
        &extraction, &CLeechProxies::signifyNewProxy, &extraction,
        [path] {
            QFile page(path);
            if (page.size() != 10 && page.open(QIODevice::WriteOnly))
                page.write("9.9.9.9:99");
        },
        Qt::DirectConnection);
    runToEnd(extraction);

    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QCOMPARE(outputContent(names.first()), QByteArray("1.2.3.4:80\r\n5.6.7.8:80\r\n"));
    QCOMPARE(pageNames(), QStringList{late});
    QFile page(path);
    QVERIFY(page.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), QByteArray("9.9.9.9:99"));
}

void LeechProxiesTest::outputNotWritten_toldAndNoPageLost_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QStringList>("ending");
    QTest::addColumn<QString>("message");
    // The notice of a run without an output file stays; the reason follows it.
    QTest::newRow("output folder missing")
        << false << QStringList{"none", "failed"} << "The output file could not be created:\n";
    QTest::newRow("disk full") << true << QStringList{"failed"} << "Writing the output file failed:\n";
}

void LeechProxiesTest::outputNotWritten_toldAndNoPageLost()
{
    QFETCH(bool, diskFull);
    QFETCH(QStringList, ending);
    QFETCH(QString, message);
    const QByteArray lines = writeLargePageSet(3, 2000);
    const QStringList pages = pageNames();
    QDir output(UserFolders::outputFolder());
    if (diskFull) {
        // The file the run opens, under any start time of the next minute, is the full device.
        const QString day = QDate::currentDate().toString("yyyy-MM-dd-");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (qint64 start = now; start < now + 60; ++start)
            QVERIFY(QFile::link("/dev/full", output.filePath(day + QString("%1-%2.txt").arg(runStamp).arg(start))));
    } else {
        QVERIFY(output.removeRecursively());
    }
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    runToEnd(extraction);

    m_signals.removeAll("new");
    QCOMPARE(m_signals, ending);
    QVERIFY2(m_failure.startsWith(message), qPrintable(m_failure));
    QVERIFY2(m_failure.endsWith("\nThe fetched pages are kept and read again by the next Start."),
             qPrintable(m_failure));
    QCOMPARE(pageNames(), pages);
    const QStringList listed = output.entryList(QStringList{"*.txt"}, QDir::Files | QDir::System);
    QCOMPARE(listed.size(), diskFull ? 59 : 0);
    QVERIFY(lines.size() > 0);
}

void LeechProxiesTest::twoRuns_sameStampNewStartAndTemplateReadPerRun()
{
    writePage("0-1.dat", "1.2.3.4:80\n5.6.7.8:81");
    m_config->setOutputFormat("A:P");
    CLeechProxies extraction;
    prepare(extraction);
    // A template changed while a run goes on applies to the next run only.
    connect(
        &extraction, &CLeechProxies::signifyNewProxy, &extraction, [this] { m_config->setOutputFormat("P A"); },
        Qt::DirectConnection);
    runToEnd(extraction);
    const QStringList first = outputNames();
    QCOMPARE(first.size(), 1);
    QCOMPARE(outputContent(first.first()), QByteArray("1.2.3.4:80\r\n5.6.7.8:81\r\n"));

    // Started at once, with as many lines: the same second must not give the same name.
    writePage("0-1.dat", "1.2.3.4:80\n5.6.7.8:81");
    runToEnd(extraction);

    QStringList names = outputNames();
    QCOMPARE(names.size(), 2);
    names.removeOne(first.first());
    QCOMPARE(outputContent(names.first()), QByteArray("80 1.2.3.4\r\n81 5.6.7.8\r\n"));
    const QStringList a = first.first().split('-');
    const QStringList b = names.first().split('-');
    QCOMPARE(a.at(4), QString::number(runStamp));
    QCOMPARE(b.at(4), QString::number(runStamp));
    QVERIFY(b.at(5) > a.at(5));
}

// Runs over the stored pages and checks the one output file, name and content, against the literal scan of
// the same pages in name order.
void LeechProxiesTest::runAndCompareWithLiteralScan(const QList<QByteArray>& pagesInNameOrder, const QString& format,
                                                    int moreLinesThan)
{
    CLeechProxies extraction;
    prepare(extraction);
    runToEnd(extraction);

    const QByteArray expected = literalOutput(pagesInNameOrder, format);
    QVERIFY(expected.count("\r\n") > moreLinesThan);
    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    const QByteArray actual = outputContent(names.first());
    QVERIFY2(actual == expected, firstDifference(actual, expected).constData());
    QVERIFY(names.first().startsWith(QString::number(expected.count("\r\n")) + QLatin1Char('-')));
}

void LeechProxiesTest::scanner_matchesLiteralScan_data()
{
    // Each page is drawn from pieces; small alphabets make removals cut and join texts in every way.
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("longestPage");
    QTest::newRow("characters") << QStringList{"1", "2", "1", "0", ".", ".", ":", "\n"} << 80;
    QTest::newRow("digit runs") << QStringList{"1", "12", "123", "1234", "00", ".", ".", ":", ":12345"} << 60;
    QTest::newRow("contained proxies") << QStringList{"1.2.3.4:80",  "11.2.3.4:8080",
                                                      "1.2.3.4:808", "2.3.4:80",
                                                      "1.2.3.44:80", "1",
                                                      "8",           ".",
                                                      ":",           "\n"}
                                       << 40;
    QTest::newRow("self-overlapping") << QStringList{"11.2.3.4:11", ".2.3.4:11", "11", "1", ".", ":", "1.1.1.1:11"}
                                      << 40;
    QTest::newRow("long ports and zeros")
        << QStringList{"0.0.0.0:00", "000.0.00.0:", "123456", "0", ".0", ":0", "999.999.999.999:99999"} << 30;
    QTest::newRow("joins far left") << QStringList{"1.2.3.4:", "12.3.4.5:", "5.6.7.8:99999", "5.6.7.8:9", "12",
                                                   "1",        "."}
                                    << 30;
}

void LeechProxiesTest::scanner_matchesLiteralScan()
{
    QFETCH(QStringList, pieces);
    QFETCH(int, longestPage);
    QRandomGenerator random(20120703);
    // Both ways through a token: closed up after each removal, and marked and indexed as long tokens are.
    PageScanner scanners[] = {PageScanner(), PageScanner(0)};
    for (int round = 0; round < 4000; ++round) {
        QByteArray page;
        const int count = int(random.bounded(1, longestPage));
        for (int i = 0; i < count; ++i)
            page += pieces.at(int(random.bounded(pieces.size()))).toLatin1();
        const QStringList expected = LiteralScan::scanPage(QString::fromLatin1(page));
        for (PageScanner& scanner : scanners) {
            QStringList found;
            QByteArray scanned = page;
            scanner.scan(scanned, [&](const char* proxy, int length, int colon) {
                found << QString::fromLatin1(proxy, length);
                return proxy[colon] == ':';
            });
            QVERIFY2(found == expected, page.constData());
        }
    }
}

void LeechProxiesTest::randomPages_matchLiteralScan()
{
    // Pages built from proxies that contain each other, stray digits and separators, without gaps, so
    // removals cut and join texts in every way.
    const char* const pool[] = {"1.2.3.4:80",  "11.2.3.4:8080", "1.2.3.4:808", "2.3.4:80",        "1.1.1.1:11",
                                "11.1.1.1:11", "1.2.3.44:80",   "0.0.0.0:00",  "123.45.6.7:12345"};
    const char* const filler[] = {"1", "12", "123", "1234", ".", ":", "\n", "..", "::", ".1", ":80"};
    QRandomGenerator random(20120703);
    QList<QByteArray> pages;
    for (int p = 0; p < 150; ++p) {
        QByteArray page;
        const int tokens = int(random.bounded(1, 60));
        for (int t = 0; t < tokens; ++t)
            page += random.bounded(3) == 0 ? QByteArray(pool[random.bounded(int(std::size(pool)))])
                                           : QByteArray(filler[random.bounded(int(std::size(filler)))]);
        pages << page;
        writePage(QString::asprintf("%03d-1.dat", p), page);
    }
    m_config->setOutputFormat("A|P|C|B");

    runAndCompareWithLiteralScan(pages, "A|P|C|B", 300);
}

void LeechProxiesTest::realPages_matchLiteralScan()
{
    const QString readme = QFINDTESTDATA("data/real-pages/README.md");
    QVERIFY(!readme.isEmpty());
    const QString folder = QFileInfo(readme).absolutePath();
    const QStringList files = QDir(folder).entryList({"*.html", "*.txt"}, QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 5);
    QList<QByteArray> pages;
    for (int i = 0; i < files.size(); ++i) {
        QFile file(QDir(folder).filePath(files.at(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        pages << LiteralScan::reduceLikeFetcher(file.readAll());
        writePage(QString::asprintf("%d-%02d.dat", i % 2, i), pages.last());
    }
    // The run reads them in name order: all of fetcher 0's pages, then fetcher 1's.
    QList<QByteArray> inNameOrder;
    for (int i = 0; i < files.size(); i += 2)
        inNameOrder << pages.at(i);
    for (int i = 1; i < files.size(); i += 2)
        inNameOrder << pages.at(i);

    runAndCompareWithLiteralScan(inNameOrder, "A:P", 50);
}

void LeechProxiesTest::stopAfterThreeLines_keepsExactlyThose()
{
    const QByteArray all = writeLargePageSet(3, 50);
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);

    // The worker waits after its third line until the GUI thread has pressed Stop.
    QSemaphore reachedThree;
    QSemaphore stopped;
    std::atomic<int> written{0};
    connect(
        &extraction, &CLeechProxies::signifyNewProxy, &extraction,
        [&] {
            if (++written == 3) {
                reachedThree.release();
                stopped.acquire();
            }
        },
        Qt::DirectConnection);

    extraction.start();
    QVERIFY(reachedThree.tryAcquire(1, 60000));
    extraction.closeOutput();
    stopped.release();
    finishRun(extraction);

    QCOMPARE(written.load(), 3);
    QCOMPARE(m_signals, QStringList({"new", "new", "new", "complete"}));
    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith("3-"), qPrintable(names.first()));
    const QList<QByteArray> lines = all.split('\n');
    QCOMPARE(outputContent(names.first()), lines.at(0) + '\n' + lines.at(1) + '\n' + lines.at(2) + '\n');
    QCOMPARE(pageNames(), QStringList());
    QTRY_COMPARE(m_written.size(), 1);
}

void LeechProxiesTest::stopBeforeAnyLine_writesNothingAndPagesStay()
{
    // Long pages without a proxy come first, so the worker is still reading them when Stop comes.
    const QByteArray noProxy = QByteArray(8 * 1024 * 1024, '1') + "\n1.2.3:80\n";
    for (int i = 0; i < 4; ++i)
        writePage(QString::asprintf("0-%d.dat", i), noProxy);
    writePage("1-0.dat", "5.6.7.8:3128");
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);
    extraction.start();

    // Stop as soon as the output file exists; a request made in the instant before it was opened is not
    // taken, so it is repeated until the run ends.
    QElapsedTimer waited;
    waited.start();
    while (outputNames().isEmpty() && extraction.isRunning() && waited.elapsed() < 60000)
        QThread::yieldCurrentThread();
    QVERIFY(!outputNames().isEmpty() || !extraction.isRunning());
    while (!extraction.wait(1))
        extraction.closeOutput();
    finishRun(extraction);
    QCoreApplication::processEvents();

    QCOMPARE(m_signals, QStringList{"none"});
    QCOMPARE(outputNames(), QStringList());
    QCOMPARE(pageNames(), QStringList({"0-0.dat", "0-1.dat", "0-2.dat", "0-3.dat", "1-0.dat"}));
    QCOMPARE(m_written, QStringList());
}

void LeechProxiesTest::stopWhileWritingLargePageSet_fileHoldsTheCountedPrefix()
{
    const QByteArray all = writeLargePageSet(40, 2000);
    CLeechProxies extraction;
    prepare(extraction);
    watch(extraction);

    std::atomic<int> written{0};
    connect(
        &extraction, &CLeechProxies::signifyNewProxy, &extraction, [&written] { ++written; }, Qt::DirectConnection);

    extraction.start();
    // Stop from the GUI thread as the first lines come in, while the worker goes on writing.
    QVERIFY(waitForLines(written, 5));
    extraction.closeOutput();
    finishRun(extraction);

    const int counted = int(m_signals.count("new"));
    QCOMPARE(m_signals.last(), QStringLiteral("complete"));
    QVERIFY2(counted < 40 * 2000, "the run was not stopped");
    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith(QString::number(counted) + QLatin1Char('-')), qPrintable(names.first()));
    // Exactly the first lines of a full run, each one whole.
    const QByteArray content = outputContent(names.first());
    QCOMPARE(int(content.count("\r\n")), counted);
    QVERIFY(all.startsWith(content));
    QVERIFY(content.endsWith("\r\n"));
    QCOMPARE(pageNames(), QStringList());
}

void LeechProxiesTest::destroyedDuringRun_stopsAndKeepsItsLines()
{
    writeLargePageSet(40, 2000);
    auto extraction = std::make_unique<CLeechProxies>();
    prepare(*extraction);
    watch(*extraction);

    std::atomic<int> written{0};
    connect(
        extraction.get(), &CLeechProxies::signifyNewProxy, extraction.get(), [&written] { ++written; },
        Qt::DirectConnection);

    extraction->start();
    QVERIFY(waitForLines(written, 1));
    extraction.reset(); // must stop the run and wait for it, not leave it writing into a freed object
    QVERIFY(runEnded.exchange(false, std::memory_order_acquire));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    const int counted = int(m_signals.count("new"));
    QCOMPARE(m_signals.last(), QStringLiteral("complete"));
    QVERIFY(counted < 40 * 2000);
    const QStringList names = outputNames();
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith(QString::number(counted) + QLatin1Char('-')), qPrintable(names.first()));
    QCOMPARE(int(outputContent(names.first()).count("\r\n")), counted);
    QCOMPARE(pageNames(), QStringList());
    // Nothing is told for a run that ended with its object.
    QCOMPARE(m_written, QStringList());
}

QTEST_MAIN(LeechProxiesTest)
#include "tst_leechproxies.moc"
