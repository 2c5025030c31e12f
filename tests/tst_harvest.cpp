#include "app/mainwindow.h"
#include "util/formatting.h"
#include "util/httpport.h"
#include "settings/userfolders.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testhome.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <memory>

namespace {

QByteArray pageWithProxy(int n)
{
    return "<html><body><table><tr><td>10.0.0." + QByteArray::number(n) + ":80" + QByteArray::number(10 + n) +
           "</td></tr></table></body></html>";
}

QString urlOf(int n)
{
    return QStringLiteral("http://www.site%1.com/list%1.html").arg(n);
}

} // namespace

// Whole harvests from the window's controls, with the fetchers pointed at a loopback server.
class HarvestTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void singleCrawl_sharesUrlsAndShowsProgress_data();
    void singleCrawl_sharesUrlsAndShowsProgress();
    void sizes_goToFirstRowOfEachUrl();
    void noProxies_showsNoticeAndKeepsControls();

private:
    QTableWidget* urlTable() const { return m_window->findChild<QTableWidget*>(QStringLiteral("tableUrls")); }
    void addUrlRow(const QString& url);
    void start();
    QStringList outputFiles() const;
    int pageRequests() const;

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<DesktopCapture> m_desktop;
    std::unique_ptr<MainWindow> m_window;
};

void HarvestTest::init()
{
    m_home = std::make_unique<TestHome>();
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->listen());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
    HttpPort::setPortForTests(m_server->port());
    m_desktop = std::make_unique<DesktopCapture>();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

void HarvestTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    m_window.reset();
    m_desktop.reset();
    m_server.reset();
    m_home.reset();
    HttpPort::setConnectHostForTests(QString());
    HttpPort::setPortForTests(80);
}

void HarvestTest::addUrlRow(const QString& url)
{
    QTableWidget* table = urlTable();
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 1, new QTableWidgetItem(url));
}

void HarvestTest::start()
{
    m_window->findChild<QPushButton*>(QStringLiteral("btnStart"))->click();
}

// Requests for the list pages; the leech list download at start-up reaches the same server.
int HarvestTest::pageRequests() const
{
    int count = 0;
    for (const FakeRequest& request : m_server->requests())
        count += request.host.startsWith(QLatin1String("www.site")) ? 1 : 0;
    return count;
}

QStringList HarvestTest::outputFiles() const
{
    return QDir(UserFolders::outputFolder()).entryList(QDir::Files, QDir::Name);
}

void HarvestTest::singleCrawl_sharesUrlsAndShowsProgress_data()
{
    QTest::addColumn<int>("urls");
    QTest::addColumn<int>("threadIndex");
    QTest::addColumn<int>("threadIndexAfter");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("7 urls, 5 threads") << 7 << 4 << 4 << QList<int>{20, 40, 60, 80, 100, 0};
    QTest::newRow("3 urls, 5 threads") << 3 << 4 << 2 << QList<int>{33, 66, 100, 0};
    QTest::newRow("1 url, 5 threads") << 1 << 4 << 0 << QList<int>{100, 0};
    QTest::newRow("4 urls, 2 threads") << 4 << 1 << 1 << QList<int>{50, 100, 0};
}

void HarvestTest::singleCrawl_sharesUrlsAndShowsProgress()
{
    QFETCH(int, urls);
    QFETCH(int, threadIndex);
    QFETCH(int, threadIndexAfter);
    QFETCH(QList<int>, progress);
    for (int n = 0; n < urls; ++n) {
        m_server->setReply(QStringLiteral("www.site%1.com").arg(n), QStringLiteral("/list%1.html").arg(n),
                           FakeReply::page(pageWithProxy(n)));
        addUrlRow(urlOf(n));
    }
    auto* threads = m_window->findChild<QComboBox*>(QStringLiteral("cbThreads"));
    threads->setCurrentIndex(threadIndex);
    auto* bar = m_window->findChild<QProgressBar*>(QStringLiteral("crawlProgress"));
    QSignalSpy barValues(bar, &QProgressBar::valueChanged);
    auto* tabs = m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    auto* startButton = m_window->findChild<QPushButton*>(QStringLiteral("btnStart"));
    auto* stopButton = m_window->findChild<QPushButton*>(QStringLiteral("btnStop"));
    auto* tally = m_window->findChild<QLabel*>(QStringLiteral("lblProxies"));
    // The controls come back with the bar set to 0, just before the counter is reset.
    QString tallyAtEnd;
    QObject watcher;
    connect(bar, &QProgressBar::valueChanged, &watcher, [&](int value) {
        if (value == 0)
            tallyAtEnd = tally->text();
    });

    start();
    QCOMPARE(threads->currentIndex(), threadIndexAfter);
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblProxies"))->text(), QStringLiteral("PE: 0"));
    // A single crawl leaves the controls as they are for the whole harvest.
    QVERIFY(startButton->isEnabled());
    QVERIFY(!stopButton->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(tabs->currentIndex(), 1, 20000);

    QList<int> values;
    for (const QList<QVariant>& call : barValues)
        values << call.first().toInt();
    QCOMPARE(values, progress);
    QCOMPARE(pageRequests(), urls);
    QCOMPARE(tallyAtEnd, QStringLiteral("PE: %1").arg(urls));

    // One output file with one line per page, in page-file order, which is URL order here.
    const QStringList files = outputFiles();
    QCOMPARE(files.size(), 1);
    QVERIFY2(files.first().startsWith(QString::number(urls) + QLatin1Char('-')), qPrintable(files.first()));
    QFile output(QDir(UserFolders::outputFolder()).filePath(files.first()));
    QVERIFY(output.open(QIODevice::ReadOnly));
    QByteArray expected;
    for (int n = 0; n < urls; ++n)
        expected += "10.0.0." + QByteArray::number(n) + ":80" + QByteArray::number(10 + n) + "\r\n";
    QCOMPARE(output.readAll(), expected);

    // Each row shows its page's size, the whole reply counted.
    for (int n = 0; n < urls; ++n) {
        const int replyLength = FakeReply::page(pageWithProxy(n)).parts.join().size();
        QTableWidgetItem* bytes = urlTable()->item(n, 2);
        QVERIFY(bytes);
        QCOMPARE(bytes->text(), formatByteSize(quint64(replyLength)));
        QCOMPARE(bytes->textAlignment(), int(Qt::AlignCenter));
    }
    QCOMPARE(bar->value(), 0);
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblProxies"))->text(), QStringLiteral("PE: 0"));
}

void HarvestTest::sizes_goToFirstRowOfEachUrl()
{
    m_server->setReply(QStringLiteral("www.site1.com"), QStringLiteral("/list1.html"),
                       FakeReply::page(pageWithProxy(1)));
    m_server->setReply(QStringLiteral("www.site2.com"), QStringLiteral("/list2.html"),
                       FakeReply::page(pageWithProxy(2)));
    addUrlRow(urlOf(1));
    addUrlRow(urlOf(1));
    addUrlRow(urlOf(2));
    start();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->currentIndex(), 1, 20000);
    QCOMPARE(pageRequests(), 3);
    QVERIFY(urlTable()->item(0, 2));
    QVERIFY(!urlTable()->item(1, 2));
    QVERIFY(urlTable()->item(2, 2));
}

void HarvestTest::noProxies_showsNoticeAndKeepsControls()
{
    m_server->setDefaultReply(FakeReply::page("<p>nothing here today</p>"));
    addUrlRow(urlOf(1));
    addUrlRow(urlOf(2));
    DialogAnswerer dialogs;
    start();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.count(), 1, 20000);
    const DialogRecord notice = dialogs.last();
    QCOMPARE(notice.title, QStringLiteral("Sievra v1.03"));
    QCOMPARE(notice.text, QStringLiteral("No proxies found"));
    QCOMPARE(notice.icon, QMessageBox::Question);
    QCOMPARE(notice.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Without proxies the controls are not given back through the usual path: the bar stays full.
    QCOMPARE(m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->currentIndex(), 0);
    QCOMPARE(m_window->findChild<QProgressBar*>(QStringLiteral("crawlProgress"))->value(), 100);
    QVERIFY(outputFiles().isEmpty());
}

QTEST_MAIN(HarvestTest)
#include "tst_harvest.moc"
