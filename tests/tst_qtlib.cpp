// The HTTP client of one page at a time against a scripted server on loopback: its request, how a fetch ends,
// its settings; and what a reply's head says.
#include "qtlib/web/httpreply.h"
#include "qtlib/web/websocket.h"
#include "tests/support/loopback.h"
#include "tests/support/testkit.h"

#include <QNetworkProxy>

using TXL::QtLib::Web::CWebSocket;

Q_DECLARE_METATYPE(FakeReply)

namespace {

const QByteArray firstReply = okHead + "first page 1.1.1.1:80";

// Lets the tests see the connection and the time-out.
class ProbedWebSocket : public CWebSocket
{
public:
    QTcpSocket* connection() const { return socket(); }
    int interval() { return timer().interval(); }
};

} // namespace

class QtLibTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        m_server = startLoopbackServer();
        QVERIFY(m_server);
        m_server->setReply(u"/first"_s, FakeReply::whole(firstReply));
    }

    void cleanup()
    {
        stopLoopbackServer(m_server);
        m_home.reset();
    }

    // What a reply's head says about the reply: its status, and whether the reply ended before it said.
    void replyHead_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("cut");

        QTest::newRow("whole, LF line ends") << "HTTP/1.0 301 Moved\nlocation: /x\n\nbody"_ba << 301 << false;
        QTest::newRow("body as long as its length")
            << "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n1234"_ba << 200 << false;
        QTest::newRow("body shorter than its length")
            << "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n1234"_ba << 200 << true;
        QTest::newRow("the first length counts")
            << "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 9\r\n\r\n12"_ba << 200 << false;
        QTest::newRow("a bare LF before an empty CR LF line ends nothing")
            << "HTTP/1.1 200 OK\nServer: x\n\r\nContent-Length: 9\r\n\r\n"_ba << 200 << true;
        QTest::newRow("head never ended") << "HTTP/1.1 200 OK\r\nContent-Ty"_ba << 200 << true;
        QTest::newRow("no status line") << "<html>1.2.3.4:80</html>\r\n\r\n"_ba << 0 << false;
    }

    void replyHead()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(bool, cut);

        const HttpReplyHead head = HttpReplyHead::parse(reply);
        QCOMPARE(head.status, status);
        QCOMPARE(head.isCut(reply.size()), cut);
    }

    void request_optionalLinesOnlyWhenSet()
    {
        const QByteArray head =
            "HTTP/1.0\r\nHost: www.example.com\r\nUser-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.1; "
            "en-US; rv:1.9.1.2) Gecko/20090729 Firefox/3.5.2 (.NET CLR 3.5.30729)\r\n";
        CWebSocket socket;
        QVERIFY(fetch(socket, u"/first"_s));
        // Set but empty still sends the line: the harvest resets its fetchers before each list.
        socket.reset();
        QVERIFY(fetch(socket, u"/first"_s));
        // The path goes as it is: unescaped, Latin-1 kept, anything else as "?".
        QVERIFY(fetch(socket, u"/a b%20/\u00fc\u20ac?x=1"_s));

        const QList<FakeRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].bytes, "GET /first " + head + "Connection: close\r\n\r\n");
        QCOMPARE(requests[1].bytes, "GET /first " + head + "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n");
        QCOMPARE(requests[2].bytes,
                 "GET /a b%20/\xfc??x=1 " + head + "Referrer: \r\nCookie: \r\nConnection: close\r\n\r\n");
    }

    void settings_timeoutBoundsAndDirectConnection()
    {
        ProbedWebSocket socket;
        // Straight to the server: asking the system for a proxy would start a lookup thread for nothing.
        QCOMPARE(socket.connection()->proxy().type(), QNetworkProxy::NoProxy);
        QCOMPARE(socket.interval(), 25000);
        socket.setTimeout(-5000);
        QCOMPARE(socket.interval(), 0);
        socket.setTimeout(25000);
        QCOMPARE(socket.interval(), 25000);
        socket.setTimeout(700);
        socket.setTimeout(25001);
        QCOMPARE(socket.interval(), 700);
    }

    void outcome_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QByteArray>("result"); // null: the fetch fails

        // A zero byte ends the text of its read only; the pause lets each part come in a read of its own.
        QTest::newRow("zero byte first in a read, bytes as Latin-1")
            << FakeReply::inParts({okHead, "\0all of this read"_ba, "\xe9t\xe9 \xff\x80"}, 120)
            << okHead + "\xe9t\xe9 \xff\x80";
        QTest::newRow("close without data") << FakeReply::closeWithoutSending() << ""_ba;
        QTest::newRow("stall after part of a reply") << FakeReply::keepOpenAfter(okHead + "1.2.3.") << QByteArray();
    }

    void outcome()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QByteArray, result);

        m_server->setReply(u"/test"_s, reply);
        CWebSocket socket;
        socket.setTimeout(600);
        QVERIFY(fetch(socket, u"/first"_s));
        QCOMPARE(socket.bytesRetrieved(), firstReply.size());

        // A fetch replaces the result and adds to the total; a failed one leaves both and fails on the time-out.
        int errors = -1;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(fetch(socket, u"/test"_s, &errors), !result.isNull());
        QCOMPARE(errors, result.isNull() ? 1 : 0);
        if (result.isNull())
            QVERIFY2(clock.elapsed() >= 600 && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(socket.data(), QString::fromLatin1(result.isNull() ? firstReply : result));
        QCOMPARE(socket.bytesRetrieved(), firstReply.size() + result.size());
    }

private:
    // Fetches the path from the server; true when exactly one outcome signal came and it was dataRetrieved().
    bool fetch(CWebSocket& socket, const QString& path, int* errors = nullptr)
    {
        QSignalSpy retrieved(&socket, &CWebSocket::dataRetrieved);
        QSignalSpy failed(&socket, &CWebSocket::dataRetrievalError);
        socket.setHost(u"www.example.com"_s);
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

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeHttpServer> m_server;
};

QTEST_MAIN(QtLibTest)
#include "tst_qtlib.moc"
