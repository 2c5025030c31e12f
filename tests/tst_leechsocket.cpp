#include "util/httpport.h"
#include "util/textfiles.h"
#include "leech/leechsocket.h"
#include "leech/leechurl.h"
#include "settings/userfolders.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testhome.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using TXL::QtLib::Web::CWebSocket;

Q_DECLARE_METATYPE(FakeReply)

namespace {

constexpr uint runStamp = 1341302400;
const QByteArray okHead = "HTTP/1.0 200 OK\r\n\r\n";

// A fetcher wired and started the way the main window does it.
std::unique_ptr<CLeechSocket> makeFetcher()
{
    auto fetcher = std::make_unique<CLeechSocket>();
    fetcher->setDataFolder(runStamp);
    QObject::connect(fetcher.get(), &CWebSocket::dataRetrieved, fetcher.get(), &CLeechSocket::processData,
                     Qt::DirectConnection);
    QObject::connect(fetcher.get(), &CWebSocket::dataRetrievalError, fetcher.get(), &CLeechSocket::processError,
                     Qt::DirectConnection);
    fetcher->start(QThread::InheritPriority);
    return fetcher;
}

// Hands a block of URLs to a fetcher in the harvest control's order and starts it.
void startRun(CLeechSocket& fetcher, int index, const QStringList& urls, int timeout = 600)
{
    fetcher.reset();
    fetcher.clearQueue();
    fetcher.setTimeout(timeout);
    for (const QString& url : urls) {
        CLeechUrl record;
        record.parse(url, 0, QString());
        fetcher.addUrl(record);
    }
    fetcher.setSocketDescriptor(index);
    fetcher.fetchQueue();
}

QString pagePath(int fetcher, int page)
{
    return QDir(UserFolders::runFolder(runStamp))
        .filePath(QString::number(fetcher) + QLatin1Char('-') + QString::number(page) + QStringLiteral(".dat"));
}

QByteArray pageBytes(int fetcher, int page)
{
    QFile file(pagePath(fetcher, page));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

class LeechSocketTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void threeUrls_middleOutcome_data();
    void threeUrls_middleOutcome();
    void storedPage_data();
    void storedPage();
    void abort_data();
    void abort();
    void secondRun_restartsPageNumbers();
    void fetchers_interleaveWithoutSharingFiles();
    void dataFolder_data();
    void dataFolder();

private:
    FakeHttpServer* m_server = nullptr;
    std::unique_ptr<TestHome> m_home;
};

void LeechSocketTest::initTestCase()
{
    m_server = new FakeHttpServer(this);
    QVERIFY(m_server->listen());
    HttpPort::setPortForTests(m_server->port());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
}

void LeechSocketTest::init()
{
    m_home = std::make_unique<TestHome>();
    // The start-up folder set-up has made the data folder by the time fetchers are created.
    QVERIFY(QDir().mkpath(UserFolders::dataFolder()));
    m_server->clearRequests();
}

void LeechSocketTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    m_home.reset();
}

void LeechSocketTest::cleanupTestCase()
{
    HttpPort::setPortForTests(80);
    HttpPort::setConnectHostForTests(QString());
}

void LeechSocketTest::threeUrls_middleOutcome_data()
{
    QTest::addColumn<FakeReply>("middle");
    QTest::addColumn<bool>("middlePage");
    QTest::addColumn<int>("middleBytes");

    QTest::newRow("time-out after part of a reply") << FakeReply::keepOpenAfter(okHead + "1.2.3.") << false << 0;
    QTest::newRow("whole reply, never closed") << FakeReply::keepOpenAfter(okHead + "1.2.3.4:80") << false << 0;
    QTest::newRow("empty reply") << FakeReply::closeWithoutSending() << false << 0;
    const FakeReply redirect = FakeReply::redirect("http://www.alpha.com/moved.html");
    QTest::newRow("redirect stored like any page") << redirect << true << int(redirect.parts.first().size());
}

void LeechSocketTest::threeUrls_middleOutcome()
{
    QFETCH(FakeReply, middle);
    QFETCH(bool, middlePage);
    QFETCH(int, middleBytes);

    const QByteArray first = okHead + "1.1.1.1:80";
    const QByteArray third = okHead + "3.3.3.3:3128 and more";
    m_server->setReply(QStringLiteral("www.alpha.com"), QStringLiteral("/one.html"), FakeReply::whole(first));
    m_server->setReply(QStringLiteral("www.alpha.com"), QStringLiteral("/two.html"), middle);
    m_server->setReply(QStringLiteral("www.beta.org"), QStringLiteral("/three"), FakeReply::whole(third));

    auto fetcher = makeFetcher();
    // The port field is not the fetcher's: it always goes to the web port.
    fetcher->setPort(1);
    QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
    const QStringList urls{QStringLiteral("http://www.alpha.com/one.html"), QStringLiteral("www.alpha.com/two.html"),
                           QStringLiteral("www.beta.org/three")};
    startRun(*fetcher, 5, urls, 500);
    QVERIFY(processed.wait(10000));
    QTest::qWait(200);
    QCOMPARE(processed.count(), 1);
    QCOMPARE(processed.first().first().toInt(), 5);

    QVERIFY(fileExists(pagePath(5, 0)));
    QCOMPARE(fileExists(pagePath(5, 1)), middlePage);
    QVERIFY(fileExists(pagePath(5, 2)));
    QVERIFY(!fileExists(pagePath(5, 3)));
    QVERIFY(pageBytes(5, 2).endsWith("3.3.3.3:3128\n\n\n\n\n\n\n\n\n"));

    const QList<CCrawlResult> results = fetcher->results();
    QCOMPARE(results.size(), 3);
    const QList<int> bytes{int(first.size()), middleBytes, int(third.size())};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(results.at(i).socketDescriptor(), 5);
        QCOMPARE(results.at(i).url(), urls.at(i));
        QCOMPARE(results.at(i).bytes(), bytes.at(i));
    }

    // One request per URL, in queue order, each with its own host.
    const QList<FakeRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests.at(0).host + requests.at(0).path, QStringLiteral("www.alpha.com/one.html"));
    QCOMPARE(requests.at(1).host + requests.at(1).path, QStringLiteral("www.alpha.com/two.html"));
    QCOMPARE(requests.at(2).host + requests.at(2).path, QStringLiteral("www.beta.org/three"));
}

void LeechSocketTest::storedPage_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("page");

    QTest::newRow("status line and one proxy") << "www.alpha.com" << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.2.3.4:8080")
                                               << QByteArray("\n\n\n\n\n1.0\n200\n\n\n\n\n\n\n1.2.3.4:8080");
    QTest::newRow("marked site: query links become address lines")
        << "www.proxy-listen.de" << QByteArray("a?x=1&host=10.0.0.1&port=3128&isSocks=0")
        << QByteArray("\n\n\n\n1\n\n10.0.0.1:3128\n\n\n0");
    QTest::newRow("marker anywhere in the host name")
        << "lists.proxy-listener.net" << QByteArray("&host=10.0.0.2&port=80&isSocks")
        << QByteArray("\n\n10.0.0.2:80\n\n");
    QTest::newRow("same text from another host is only reduced")
        << "www.other.com" << QByteArray("a?x=1&host=10.0.0.1&port=3128&isSocks=0")
        << QByteArray("\n\n\n\n1\n\n\n\n\n\n10.0.0.1\n\n\n\n\n\n3128\n\n\n\n\n\n\n\n\n0");
    QTest::newRow("marker matched case-sensitively") << "www.PROXY-LISTEN.de" << QByteArray("&host=1.2.3.4&port=80")
                                                     << QByteArray("\n\n\n\n\n\n1.2.3.4\n\n\n\n\n\n80");
    QTest::newRow("parameters matched case-sensitively") << "www.proxy-listen.de" << QByteArray("&HOST=1.2.3.4&Port=80")
                                                         << QByteArray("\n\n\n\n\n\n1.2.3.4\n\n\n\n\n\n80");
    QTest::newRow("tags, blanks and Latin-1 letters each leave one line end")
        << "www.alpha.com" << QByteArray("<td>5.6.7.8</td><td>\xe9:3128</td>\xb2")
        << QByteArray("\n\n\n\n5.6.7.8\n\n\n\n\n\n\n\n\n\n:3128\n\n\n\n\n\n");
    QTest::newRow("existing line ends stay one each")
        << "www.alpha.com" << QByteArray("1.1.1.1:1\r\n2.2.2.2:2\n") << QByteArray("1.1.1.1:1\n\n2.2.2.2:2\n");
    QTest::newRow("page of megabytes, whole on disk at the report")
        << "www.alpha.com" << QByteArray("<td>1.2.3.4:80</td>").repeated(400000)
        << QByteArray("\n\n\n\n1.2.3.4:80\n\n\n\n\n").repeated(400000);
}

void LeechSocketTest::storedPage()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, page);

    m_server->setReply(host, QStringLiteral("/list.html"), FakeReply::whole(reply));
    auto fetcher = makeFetcher();
    QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
    startRun(*fetcher, 3, {QStringLiteral("http://") + host + QStringLiteral("/list.html")});
    QVERIFY(processed.wait(5000));

    QCOMPARE(pageBytes(3, 0), page);
    QCOMPARE(fetcher->results().size(), 1);
    QCOMPARE(fetcher->results().first().bytes(), int(reply.size()));
}

void LeechSocketTest::abort_data()
{
    QTest::addColumn<int>("when");
    // 0: idle fetcher; 1: before the connection opens; 2: with part of a reply in; 3: as a page came in
    QTest::newRow("idle fetcher") << 0;
    QTest::newRow("right after the start") << 1;
    QTest::newRow("during a fetch") << 2;
    QTest::newRow("page received, its file still being written") << 3;
}

void LeechSocketTest::abort()
{
    QFETCH(int, when);

    // Large enough that its page file is not written in an instant.
    const QByteArray slowTail = "5.6.7.8:8080\n" + QByteArray(8 << 20, 'x');
    m_server->setReply(QStringLiteral("/slow.html"), FakeReply::inParts({okHead + "1.2.3.4:80\n", slowTail}, 400));
    m_server->setReply(QStringLiteral("/next.html"), FakeReply::whole(okHead + "9.9.9.9:99"));
    auto fetcher = makeFetcher();
    QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
    QSignalSpy requested(m_server, &FakeHttpServer::requestReceived);
    qsizetype storedAtReport = -1;
    connect(fetcher.get(), &CLeechSocket::urlListProcessed, this, [&] { storedAtReport = pageBytes(4, 0).size(); });
    const auto stop = [&] {
        fetcher->abort();
        fetcher->clearQueue();
    };

    if (when == 3)
        connect(fetcher.get(), &CWebSocket::dataRetrieved, this, stop);
    if (when > 0) {
        startRun(*fetcher, 4, {QStringLiteral("www.alpha.com/slow.html"), QStringLiteral("www.alpha.com/next.html")});
        if (when == 2) {
            QVERIFY(requested.wait(5000));
            QTest::qWait(150);
        }
    }
    if (when == 3)
        QVERIFY(processed.wait(5000));
    else
        stop();
    QCOMPARE(processed.count(), 1);
    QCOMPARE(processed.first().first().toInt(), when > 0 ? 4 : 0);
    // A page already in is stored whole before the report.
    QCOMPARE(storedAtReport, when == 3 ? okHead.size() + 11 + slowTail.size() : 0);

    // Nothing that was on its way completes later, and the fetcher does not move on.
    QTest::qWait(800);
    QCOMPARE(processed.count(), 1);
    QCOMPARE(requested.count(), when >= 2 ? 1 : 0);
    QCOMPARE(m_server->requests().size(), when >= 2 ? 1 : 0);
    QCOMPARE(fileExists(pagePath(4, 0)), when == 3);
    QVERIFY(!fileExists(pagePath(4, 1)));
    QVERIFY(fetcher->results().isEmpty());

    // And it works for the next run.
    startRun(*fetcher, 4, {QStringLiteral("www.alpha.com/next.html")});
    QVERIFY(processed.wait(5000));
    QCOMPARE(pageBytes(4, 0), QByteArray("\n\n\n\n\n1.0\n200\n\n\n\n\n\n\n9.9.9.9:99"));
}

void LeechSocketTest::secondRun_restartsPageNumbers()
{
    const QByteArray a = okHead + "1.1.1.1:11";
    const QByteArray b = okHead + "2.2.2.2:22";
    const QByteArray c = okHead + "3.3.3.3:333";
    m_server->setReply(QStringLiteral("/a"), FakeReply::whole(a));
    m_server->setReply(QStringLiteral("/b"), FakeReply::whole(b));
    m_server->setReply(QStringLiteral("/c"), FakeReply::whole(c));

    auto fetcher = makeFetcher();
    QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
    startRun(*fetcher, 2, {QStringLiteral("www.alpha.com/a"), QStringLiteral("www.alpha.com/b")});
    QVERIFY(processed.wait(5000));
    QVERIFY(pageBytes(2, 0).endsWith("1.1.1.1:11"));
    QVERIFY(pageBytes(2, 1).endsWith("2.2.2.2:22"));

    startRun(*fetcher, 2, {QStringLiteral("www.alpha.com/c")});
    QVERIFY(processed.wait(5000));
    QCOMPARE(processed.count(), 2);
    // Page 0 is replaced; page 1 of the first run is not the fetcher's to remove.
    QCOMPARE(pageBytes(2, 0), QByteArray("\n\n\n\n\n1.0\n200\n\n\n\n\n\n\n3.3.3.3:333"));
    QVERIFY(pageBytes(2, 1).endsWith("2.2.2.2:22"));
    QCOMPARE(fetcher->results().size(), 1);
    QCOMPARE(fetcher->results().first().bytes(), int(c.size()));
    QCOMPARE(fetcher->results().first().url(), QStringLiteral("www.alpha.com/c"));
}

void LeechSocketTest::fetchers_interleaveWithoutSharingFiles()
{
    for (const char* name : {"a", "b", "c", "d"}) {
        const QByteArray path = QByteArray("/") + name;
        m_server->setReply(QString::fromLatin1(path),
                           FakeReply::inParts({okHead, "10.0.0." + QByteArray(name).toHex() + ":80"}, 60));
    }
    auto first = makeFetcher();
    auto second = makeFetcher();
    QSignalSpy firstDone(first.get(), &CLeechSocket::urlListProcessed);
    QSignalSpy secondDone(second.get(), &CLeechSocket::urlListProcessed);
    startRun(*first, 0, {QStringLiteral("www.alpha.com/a"), QStringLiteral("www.alpha.com/b")});
    startRun(*second, 1, {QStringLiteral("www.beta.org/c"), QStringLiteral("www.beta.org/d")});
    QTRY_VERIFY_WITH_TIMEOUT(firstDone.count() == 1 && secondDone.count() == 1, 5000);

    QVERIFY(pageBytes(0, 0).endsWith("10.0.0.61:80"));
    QVERIFY(pageBytes(0, 1).endsWith("10.0.0.62:80"));
    QVERIFY(pageBytes(1, 0).endsWith("10.0.0.63:80"));
    QVERIFY(pageBytes(1, 1).endsWith("10.0.0.64:80"));
    QCOMPARE(firstDone.first().first().toInt(), 0);
    QCOMPARE(secondDone.first().first().toInt(), 1);
}

void LeechSocketTest::dataFolder_data()
{
    QTest::addColumn<bool>("dataFolderThere");
    QTest::addColumn<bool>("runFolderThere");
    QTest::addColumn<bool>("message");

    QTest::newRow("run folder made") << true << false << false;
    QTest::newRow("run folder already there") << true << true << false;
    QTest::newRow("no data folder") << false << false << true;
}

void LeechSocketTest::dataFolder()
{
    QFETCH(bool, dataFolderThere);
    QFETCH(bool, runFolderThere);
    QFETCH(bool, message);

    if (!dataFolderThere)
        QVERIFY(QDir(UserFolders::dataFolder()).removeRecursively());
    if (runFolderThere)
        QVERIFY(QDir().mkpath(UserFolders::runFolder(runStamp)));

    DialogAnswerer answerer;
    m_server->setReply(QStringLiteral("/p"), FakeReply::whole(okHead + "1.2.3.4:80"));
    auto fetcher = makeFetcher();
    QCOMPARE(answerer.count(), message ? 1 : 0);
    if (message) {
        QCOMPARE(answerer.last().title, QStringLiteral("Sievra"));
        QCOMPARE(answerer.last().text, QStringLiteral("Error creating data directory"));
    }
    QCOMPARE(QDir(UserFolders::runFolder(runStamp)).exists(), !message);

    // Without its folder the fetcher still works through its list; only the pages are lost.
    QSignalSpy processed(fetcher.get(), &CLeechSocket::urlListProcessed);
    startRun(*fetcher, 0, {QStringLiteral("www.alpha.com/p")});
    QVERIFY(processed.wait(5000));
    QCOMPARE(fileExists(pagePath(0, 0)), !message);
    QCOMPARE(fetcher->results().size(), 1);
    QCOMPARE(fetcher->results().first().bytes(), int(okHead.size() + 10));
}

QTEST_MAIN(LeechSocketTest)
#include "tst_leechsocket.moc"
