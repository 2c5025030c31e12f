#include "util/externalhosts.h"
#include "util/httpport.h"
#include "leech/leechurl.h"
#include "qtlib/web/websocket.h"
#include "tests/support/fakehttpserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

using TXL::QtLib::Web::CWebSocket;

Q_DECLARE_METATYPE(FakeReply)

namespace {

const QByteArray userAgentLine = "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.1.2) "
                                 "Gecko/20090729 Firefox/3.5.2 (.NET CLR 3.5.30729)\r\n";
// The whole literal, zero bytes included.
template <qsizetype N> QByteArray literal(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

const QByteArray firstReply = "HTTP/1.0 200 OK\r\n\r\nfirst page 1.1.1.1:80";

// Lets the tests see the time-out timer and the connection.
class ProbedWebSocket : public CWebSocket
{
public:
    using CWebSocket::cancelFetch;
    int interval() { return timer().interval(); }
    bool timerActive() { return timer().isActive(); }
    QTcpSocket* connection() const { return socket(); }
};

} // namespace

class WebSocketTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void parse_data();
    void parse();
    void freshUrl_carriesSearchReferrer();

    void requestBytes_data();
    void requestBytes();

    void setTimeout_data();
    void setTimeout();
    void reset_clearsResultsButKeepsDescriptorAndTimeout();

    void fetchOutcome_data();
    void fetchOutcome();
    void twoFetchesInARow_secondResultAndGrowingTotal();
    void failures_data();
    void failures();
    void timeout_runsFromConnectionNotFromLastRead();
    void ownClose_completesNothing();
    void destructionDuringFetch_emitsNothing();

private:
    // Fetches the path from the server; true when exactly one outcome signal came and it was dataRetrieved().
    bool fetch(CWebSocket& socket, const QString& path, int* errors = nullptr);

    FakeHttpServer* m_server = nullptr;
};

void WebSocketTest::initTestCase()
{
    m_server = new FakeHttpServer(this);
    QVERIFY(m_server->listen());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
}

void WebSocketTest::init()
{
    m_server->clearRequests();
    m_server->setReply(QStringLiteral("/first"), FakeReply::whole(firstReply));
}

void WebSocketTest::cleanupTestCase()
{
    HttpPort::setConnectHostForTests(QString());
}

bool WebSocketTest::fetch(CWebSocket& socket, const QString& path, int* errors)
{
    QSignalSpy retrieved(&socket, &CWebSocket::dataRetrieved);
    QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
    socket.setHost(QStringLiteral("www.example.com"));
    socket.setPath(path);
    socket.setPort(m_server->port());
    socket.startFetch();
    if (!QTest::qWaitFor([&] { return retrieved.count() + failed.count() > 0; }, 10000))
        return false;
    // Anything late, such as a second outcome for the same fetch, shows up in this pause.
    QTest::qWait(150);
    if (errors)
        *errors = int(failed.count());
    return retrieved.count() == 1 && failed.count() == 0;
}

void WebSocketTest::parse_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");

    QTest::newRow("full url") << "http://www.example.com/proxy/list.html"
                              << "www.example.com"
                              << "/proxy/list.html";
    QTest::newRow("bare host") << "example.com"
                               << "example.com"
                               << "/";
    QTest::newRow("host and path") << "example.com/a/b.htm"
                                   << "example.com"
                                   << "/a/b.htm";
    QTest::newRow("www. inside the path goes too") << "http://www.example.com/www.list/x"
                                                   << "www.example.com"
                                                   << "/list/x";
    QTest::newRow("bare host with trailing slash") << "http://example.com/"
                                                   << "example.com"
                                                   << "/";
    QTest::newRow("query kept") << "http://www.example.com/list.php?page=2&c=us"
                                << "www.example.com"
                                << "/list.php?page=2&c=us";
    QTest::newRow("port stays in the host") << "http://example.com:8080/x"
                                            << "example.com:8080"
                                            << "/x";
    QTest::newRow("other scheme gives an unusable host") << "https://example.com/x"
                                                         << "https:"
                                                         << "//example.com/x";
    QTest::newRow("scheme matched case-sensitively") << "HTTP://www.example.com/x"
                                                     << "HTTP:"
                                                     << "//example.com/x";
    QTest::newRow("every copy of the host leaves the path") << "http://a.com/a.com/list"
                                                            << "a.com"
                                                            << "//list";
    QTest::newRow("nothing but a path") << "/list.html"
                                        << ""
                                        << "/list.html";
}

void WebSocketTest::parse()
{
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(QString, path);

    CLeechUrl record;
    record.parse(url, 3, QStringLiteral("www.referrer.com/page"));
    QCOMPARE(record.url(), url);
    QCOMPARE(record.host(), host);
    QCOMPARE(record.path(), path);
    QCOMPARE(record.level(), 3);
    QCOMPARE(record.referrer(), QStringLiteral("www.referrer.com/page"));
}

void WebSocketTest::freshUrl_carriesSearchReferrer()
{
    const CLeechUrl record;
    QVERIFY(record.url().isNull());
    QVERIFY(record.host().isNull());
    QVERIFY(record.path().isNull());
    QCOMPARE(record.level(), 0);
    QVERIFY(record.referrer().endsWith(QStringLiteral("/search?q=proxy+list&x=0&y=0&form=MSNH90")));
    QVERIFY(!record.referrer().startsWith(QLatin1Char('/')));
}

void WebSocketTest::requestBytes_data()
{
    QTest::addColumn<bool>("resetFirst");
    QTest::addColumn<bool>("setOptional");
    QTest::addColumn<QString>("referrer");
    QTest::addColumn<QString>("cookie");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("fresh instance: no optional lines")
        << false << false << QString() << QString() << "/list.html"
        << "GET /list.html HTTP/1.0\r\nHost: www.example.com\r\n" + userAgentLine + "Connection: close\r\n\r\n";
    QTest::newRow("after reset: both lines with empty values")
        << true << false << QString() << QString() << "/list.html"
        << "GET /list.html HTTP/1.0\r\nHost: www.example.com\r\n" + userAgentLine +
               "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n";
    QTest::newRow("both set")
        << false << true << "www.bing.com/search?q=x"
        << "id=42; s=1"
        << "/list.html"
        << "GET /list.html HTTP/1.0\r\nHost: www.example.com\r\n" + userAgentLine +
               "Referrer: www.bing.com/search?q=x\r\nCookie: id=42; s=1\r\nConnection: close\r\n\r\n";
    QTest::newRow("set to empty on a fresh instance") << false << true << ""
                                                      << ""
                                                      << "/"
                                                      << "GET / HTTP/1.0\r\nHost: www.example.com\r\n" + userAgentLine +
                                                             "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n";
    QTest::newRow("path unescaped, Latin-1 kept, the rest as ?")
        << false << false << QString() << QString() << QStringLiteral("/a b%20/\u00fc\u20ac?x=1")
        << "GET /a b%20/\xfc?"
           "?x=1 HTTP/1.0\r\nHost: www.example.com\r\n" +
               userAgentLine + "Connection: close\r\n\r\n";
}

void WebSocketTest::requestBytes()
{
    QFETCH(bool, resetFirst);
    QFETCH(bool, setOptional);
    QFETCH(QString, referrer);
    QFETCH(QString, cookie);
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);

    m_server->setReply(path, FakeReply::page("ok"));
    CWebSocket socket;
    if (resetFirst)
        socket.reset();
    if (setOptional) {
        socket.setReferrer(referrer);
        socket.setCookie(cookie);
    }
    QVERIFY(fetch(socket, path));

    const QList<FakeRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().bytes, expected);
}

void WebSocketTest::setTimeout_data()
{
    QTest::addColumn<QList<int>>("settings");
    QTest::addColumn<int>("interval");

    QTest::newRow("fresh") << QList<int>() << 25000;
    QTest::newRow("25000 takes effect") << QList<int>{1000, 25000} << 25000;
    QTest::newRow("25001 is ignored") << QList<int>{1000, 25001} << 1000;
    QTest::newRow("far above is ignored") << QList<int>{15000, 1000000} << 15000;
    QTest::newRow("harvest choice") << QList<int>{10000 + 5000 * 2} << 20000;
    QTest::newRow("zero") << QList<int>{0} << 0;
    QTest::newRow("negative counts as zero") << QList<int>{-5000} << 0;
}

void WebSocketTest::setTimeout()
{
    QFETCH(QList<int>, settings);
    QFETCH(int, interval);

    ProbedWebSocket socket;
    for (int msecs : settings)
        socket.setTimeout(msecs);
    QCOMPARE(socket.interval(), interval);
}

void WebSocketTest::reset_clearsResultsButKeepsDescriptorAndTimeout()
{
    ProbedWebSocket socket;
    socket.setSocketDescriptor(7);
    socket.setTimeout(700);
    QVERIFY(fetch(socket, QStringLiteral("/first")));
    QCOMPARE(socket.data(), QString::fromLatin1(firstReply));

    socket.setPort(8080);
    socket.reset();
    QCOMPARE(socket.data(), QString());
    QVERIFY(!socket.data().isNull());
    QVERIFY(!socket.host().isNull());
    QVERIFY(!socket.referrer().isNull());
    QVERIFY(!socket.cookie().isNull());
    QCOMPARE(socket.bytesRetrieved(), 0);
    QCOMPARE(socket.port(), 80);
    QCOMPARE(socket.socketDescriptor(), 7);
    QCOMPARE(socket.interval(), 700);
}

void WebSocketTest::fetchOutcome_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("retrieved");
    QTest::addColumn<QString>("result");

    // The pause must outlast the client's handling of the first read, so the second comes on its own.
    QTest::newRow("several reads, zero byte ends its read only")
        << FakeReply::inParts({literal("HTTP/1.0 200 OK\r\n\r\n1.2.3.4:80\0dropped 9.9.9.9:99"), "\n5.6.7.8:3128",
                               "\n\r\n10.0.0.1:8080"},
                              120)
        << true << "HTTP/1.0 200 OK\r\n\r\n1.2.3.4:80\n5.6.7.8:3128\n\r\n10.0.0.1:8080";
    QTest::newRow("zero byte first in a read")
        << FakeReply::inParts({"HTTP/1.0 200 OK\r\n\r\n", literal("\0all of this read"), "tail"}, 120) << true
        << "HTTP/1.0 200 OK\r\n\r\ntail";
    QTest::newRow("302 counted as retrieved")
        << FakeReply::redirect("http://www.example.com/moved.html") << true
        << "HTTP/1.0 302 Found\r\nLocation: http://www.example.com/moved.html\r\n\r\n";
    QTest::newRow("404 counted as retrieved")
        << FakeReply::whole("HTTP/1.0 404 Not Found\r\n\r\ngone") << true << "HTTP/1.0 404 Not Found\r\n\r\ngone";
    QTest::newRow("close without data") << FakeReply::closeWithoutSending() << true << "";
    QTest::newRow("bytes read as Latin-1")
        << FakeReply::whole("\xe9t\xe9 \xff\x80") << true << QStringLiteral("\u00e9t\u00e9 \u00ff\u0080");
    QTest::newRow("stall after part of a reply")
        << FakeReply::keepOpenAfter("HTTP/1.0 200 OK\r\n\r\n1.2.3.") << false << QString::fromLatin1(firstReply);
    QTest::newRow("whole reply but never a close") << FakeReply::keepOpenAfter("HTTP/1.0 200 OK\r\n\r\n1.2.3.4:80\r\n")
                                                   << false << QString::fromLatin1(firstReply);
}

void WebSocketTest::fetchOutcome()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, retrieved);
    QFETCH(QString, result);

    m_server->setReply(QStringLiteral("/test"), reply);
    CWebSocket socket;
    socket.setTimeout(600);
    QVERIFY(fetch(socket, QStringLiteral("/first")));
    const int before = socket.bytesRetrieved();
    QCOMPARE(before, firstReply.size());

    int errors = -1;
    QCOMPARE(fetch(socket, QStringLiteral("/test"), &errors), retrieved);
    QCOMPARE(errors, retrieved ? 0 : 1);
    QCOMPARE(socket.data(), result);
    QCOMPARE(socket.bytesRetrieved(), retrieved ? before + int(result.size()) : before);
}

void WebSocketTest::twoFetchesInARow_secondResultAndGrowingTotal()
{
    const QByteArray second = "HTTP/1.0 200 OK\r\n\r\n2.2.2.2:8080";
    m_server->setReply(QStringLiteral("/second"), FakeReply::whole(second));

    CWebSocket socket;
    QVERIFY(fetch(socket, QStringLiteral("/first")));
    QVERIFY(fetch(socket, QStringLiteral("/second")));
    QCOMPARE(socket.data(), QString::fromLatin1(second));
    QCOMPARE(socket.bytesRetrieved(), int(firstReply.size() + second.size()));
    QCOMPARE(m_server->requestCount(QStringLiteral("www.example.com"), QStringLiteral("/first")), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("www.example.com"), QStringLiteral("/second")), 1);
}

void WebSocketTest::failures_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("refusedPort");

    QTest::newRow("connection refused") << "127.0.0.1" << true;
    QTest::newRow("host not found") << "no-such-host.invalid" << false;
    QTest::newRow("port kept in the host") << "no-such-host.invalid:8080" << false;
}

void WebSocketTest::failures()
{
    QFETCH(QString, host);
    QFETCH(bool, refusedPort);

    CWebSocket socket;
    QVERIFY(fetch(socket, QStringLiteral("/first")));

    // Real names this time: the failure must come from the socket layer.
    HttpPort::setConnectHostForTests(QString());
    QSignalSpy retrieved(&socket, &CWebSocket::dataRetrieved);
    QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
    socket.setHost(host);
    socket.setPort(refusedPort ? FakeHttpServer::unusedPort() : m_server->port());
    socket.startFetch();
    const bool ended = failed.wait(15000);
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
    QVERIFY(ended);
    QTest::qWait(150);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(retrieved.count(), 0);
    QCOMPARE(socket.data(), QString::fromLatin1(firstReply));
    QCOMPARE(socket.bytesRetrieved(), firstReply.size());
}

void WebSocketTest::timeout_runsFromConnectionNotFromLastRead()
{
    // A part every 150 ms for well over the time-out: a timer restarted by each read would never run out.
    QList<QByteArray> parts;
    for (int i = 0; i < 10; ++i)
        parts.append("1.2.3.4:80\n");
    FakeReply trickle = FakeReply::inParts(parts, 150);
    trickle.ending = FakeReply::Ending::KeepOpen;
    m_server->setReply(QStringLiteral("/trickle"), trickle);

    ProbedWebSocket socket;
    socket.setTimeout(500);
    QElapsedTimer sinceConnection;
    connect(socket.connection(), &QTcpSocket::connected, this, [&] { sinceConnection.start(); });
    QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
    socket.setHost(QStringLiteral("www.example.com"));
    socket.setPath(QStringLiteral("/trickle"));
    socket.setPort(m_server->port());
    socket.startFetch();
    QVERIFY(!socket.timerActive());
    QVERIFY(failed.wait(5000));
    QVERIFY(sinceConnection.isValid());
    const qint64 elapsed = sinceConnection.elapsed();
    QVERIFY2(elapsed >= 450 && elapsed < 1300, qPrintable(QString::number(elapsed)));
    QVERIFY(!socket.timerActive());
    QCOMPARE(failed.count(), 1);
}

void WebSocketTest::ownClose_completesNothing()
{
    m_server->setReply(QStringLiteral("/slow"), FakeReply::inParts({"HTTP/1.0 200 OK\r\n\r\n", "rest"}, 300));
    ProbedWebSocket socket;
    QVERIFY(fetch(socket, QStringLiteral("/first")));

    QSignalSpy retrieved(&socket, &CWebSocket::dataRetrieved);
    QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
    QSignalSpy requested(m_server, &FakeHttpServer::requestReceived);
    socket.setPath(QStringLiteral("/slow"));
    socket.startFetch();
    QVERIFY(requested.wait(5000));
    QTest::qWait(100);
    socket.cancelFetch();
    QTest::qWait(400);
    QCOMPARE(retrieved.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(socket.data(), QString::fromLatin1(firstReply));
    QCOMPARE(socket.bytesRetrieved(), firstReply.size());

    // The instance is good for the next fetch.
    QVERIFY(fetch(socket, QStringLiteral("/first")));
    QCOMPARE(socket.bytesRetrieved(), 2 * firstReply.size());
}

void WebSocketTest::destructionDuringFetch_emitsNothing()
{
    m_server->setReply(QStringLiteral("/stall"), FakeReply::keepOpenAfter("HTTP/1.0 200 OK\r\n\r\npart"));
    auto* socket = new CWebSocket;
    socket->start(QThread::InheritPriority);
    int outcomes = 0;
    connect(socket, &CWebSocket::dataRetrieved, this, [&] { ++outcomes; });
    connect(socket, &CWebSocket::dataRetrievalError, this, [&] { ++outcomes; });
    QSignalSpy requested(m_server, &FakeHttpServer::requestReceived);
    socket->setHost(QStringLiteral("www.example.com"));
    socket->setPath(QStringLiteral("/stall"));
    socket->setPort(m_server->port());
    socket->startFetch();
    QVERIFY(requested.wait(5000));
    QTest::qWait(100);
    socket->exit(0);
    socket->wait();
    delete socket;
    QCOMPARE(outcomes, 0);
    // The server sees the connection go.
    QTRY_COMPARE(m_server->openConnections(), 0);
}

QTEST_MAIN(WebSocketTest)
#include "tst_websocket.moc"
