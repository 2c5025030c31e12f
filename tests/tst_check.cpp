// The proxy checker's pieces: one protocol attempt against a scripted proxy, and what a judge's page tells.
#include "check/judgepage.h"
#include "check/protocolattempt.h"
#include "check/proxylist.h"
#include "tests/support/testkit.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

const QByteArray marker = "JUDGE-PAGE";
const QByteArray judgeReply = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n" + marker;

// A proxy that answers the client's every write with the next reply of its script, then closes after the last.
class ScriptedProxy : public QObject
{
public:
    explicit ScriptedProxy(const QList<QByteArray>& script) : m_script(script)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_received += socket->readAll();
                if (m_script.isEmpty())
                    return;
                socket->write(m_script.takeFirst());
                if (m_script.isEmpty())
                    socket->disconnectFromHost();
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray received() const { return m_received; }

private:
    QTcpServer m_server;
    QList<QByteArray> m_script;
    QByteArray m_received;
};

} // namespace

Q_DECLARE_METATYPE(CProtocolAttempt::Protocol)
Q_DECLARE_METATYPE(CheckResult::Outcome)

class CheckTest : public QObject
{
    Q_OBJECT

private slots:
    // What each protocol makes of the proxy's answers, in whatever pieces they come.
    void attempt_data()
    {
        QTest::addColumn<CProtocolAttempt::Protocol>("protocol");
        QTest::addColumn<QList<QByteArray>>("script");
        QTest::addColumn<CheckResult::Outcome>("outcome");
        QTest::addColumn<QByteArray>("firstWrite"); // what the proxy got first

        const QByteArray get =
            "GET http://judge.example.com:8080/echo?x=1 HTTP/1.0\r\nHost: judge.example.com:8080\r\n";
        const QByteArray socks5Ok("\x05\x00", 2);
        const QByteArray bound("\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x90", 10);
        using P = CProtocolAttempt;
        using R = CheckResult;
        QTest::newRow("http: the judge's page") << P::Http << QList<QByteArray>{judgeReply} << R::Working << get;
        QTest::newRow("http: another page")
            << P::Http << QList<QByteArray>{"HTTP/1.0 200 OK\r\n\r\nWelcome"} << R::Liar << get;
        QTest::newRow("http: a login demand")
            << P::Http << QList<QByteArray>{"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n" + marker} << R::Liar
            << get;
        QTest::newRow("http: cut in the body")
            << P::Http << QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n" + marker} << R::Reset
            << get;
        QTest::newRow("http: cut in the status line") << P::Http << QList<QByteArray>{"HTTP/1."} << R::Reset << get;
        QTest::newRow("http: closed without a word") << P::Http << QList<QByteArray>{""} << R::Reset << get;
        // A judge's page is read up to 64 kB, head and body together; one byte more is no judge's page.
        const auto sized = [](qsizetype size) {
            const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Length: 00000\r\n\r\n";
            const QByteArray body = marker + QByteArray(size - head.size() - marker.size(), 'x');
            return QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Length: " +
                                     QByteArray::number(body.size()).rightJustified(5, '0') + "\r\n\r\n" + body};
        };
        QTest::newRow("http: the judge's page of 64 kB") << P::Http << sized(65536) << R::Working << get;
        QTest::newRow("http: a byte past 64 kB") << P::Http << sized(65537) << R::Liar << get;
        QTest::newRow("connect: a head past 64 kB")
            << P::Connect << QList<QByteArray>{"HTTP/1.0 200 OK\r\nX: " + QByteArray(65536, 'x')} << R::Liar
            << QByteArray("CONNECT ");
        QTest::newRow("http: whole, with a status line of no status")
            << P::Http << QList<QByteArray>{"HTTP/1.0 2001 OK\r\nContent-Length: 0\r\n\r\n"} << R::ProtocolError << get;
        QTest::newRow("http: not http") << P::Http << QList<QByteArray>{QByteArray("\x05\xff", 2)} << R::ProtocolError
                                        << get;
        QTest::newRow("connect: tunnel, then the page")
            << P::Connect << QList<QByteArray>{"HTTP/1.1 200 Connection established\r\n\r\n", judgeReply} << R::Working
            << QByteArray("CONNECT judge.example.com:8080 HTTP/1.0\r\nHost: judge.example.com:8080\r\n\r\n");
        QTest::newRow("connect: refused by the proxy")
            << P::Connect << QList<QByteArray>{"HTTP/1.0 403 Forbidden\r\n\r\n"} << R::Liar << QByteArray("CONNECT ");
        QTest::newRow("connect: no http at all")
            << P::Connect << QList<QByteArray>{"SSH-2.0-OpenSSH_9.2\r\n"} << R::ProtocolError << QByteArray("CONNECT ");
        QTest::newRow("socks5: bound address as a name")
            << P::Socks5 << QList<QByteArray>{socks5Ok, QByteArray("\x05\x00\x00\x03\x04host\x1f\x90", 11), judgeReply}
            << R::Working << QByteArray("\x05\x01\x00", 3);
        QTest::newRow("socks5: bound address as IPv6")
            << P::Socks5
            << QList<QByteArray>{socks5Ok, QByteArray("\x05\x00\x00\x04", 4) + QByteArray(18, '\0'), judgeReply}
            << R::Working << QByteArray("\x05\x01\x00", 3);
        QTest::newRow("socks5: wants a password") << P::Socks5 << QList<QByteArray>{QByteArray("\x05\x02", 2)}
                                                  << R::ProtocolError << QByteArray("\x05\x01\x00", 3);
        QTest::newRow("socks5: judge unreachable")
            << P::Socks5 << QList<QByteArray>{socks5Ok, QByteArray("\x05\x04\x00\x01\0\0\0\0\0\0", 10)}
            << R::Unreachable << QByteArray("\x05\x01\x00", 3);
        QTest::newRow("socks5: closed after the greeting")
            << P::Socks5 << QList<QByteArray>{socks5Ok, bound.left(3)} << R::Reset << QByteArray("\x05\x01\x00", 3);
        // Version 4, CONNECT, port 8080, 127.0.0.1, an empty user id.
        const QByteArray socks4Request("\x04\x01\x1f\x90\x7f\x00\x00\x01\x00", 9);
        QTest::newRow("socks4: granted") << P::Socks4
                                         << QList<QByteArray>{QByteArray("\x00\x5a\0\0\0\0\0\0", 8), judgeReply}
                                         << R::Working << socks4Request;
        QTest::newRow("socks4: granted, with its version")
            << P::Socks4 << QList<QByteArray>{QByteArray("\x04\x5a\0\0\0\0\0\0", 8), judgeReply} << R::Working
            << socks4Request;
        QTest::newRow("socks4: rejected")
            << P::Socks4 << QList<QByteArray>{QByteArray("\x00\x5b\0\0\0\0\0\0", 8)} << R::Unreachable << socks4Request;
        QTest::newRow("socks4: an http answer")
            << P::Socks4 << QList<QByteArray>{"HTTP/1.0 400 Bad Request\r\n\r\n"} << R::ProtocolError << socks4Request;
    }

    void attempt()
    {
        QFETCH(CProtocolAttempt::Protocol, protocol);
        QFETCH(QList<QByteArray>, script);
        QFETCH(CheckResult::Outcome, outcome);
        QFETCH(QByteArray, firstWrite);

        ScriptedProxy proxy(script);
        Judge judge;
        judge.url = QUrl(u"http://judge.example.com:8080/echo?x=1"_s);
        judge.marker = marker;
        judge.address = QHostAddress(QHostAddress::LocalHost);
        QElapsedTimer clock;
        clock.start();
        CProtocolAttempt attempt(protocol, judge, clock);
        attempt.start(QHostAddress(QHostAddress::LocalHost), proxy.port());
        QTRY_VERIFY_WITH_TIMEOUT(!attempt.isRunning(), 5000);
        QCOMPARE(attempt.outcome(), outcome);
        QVERIFY2(proxy.received().startsWith(firstWrite), proxy.received().toHex(' ').constData());
        if (outcome == CheckResult::Working)
            QVERIFY(attempt.firstByteMs() >= 0);
        // Only a working attempt's page is read again; the rest is not held.
        QCOMPARE(attempt.reply().isEmpty(), outcome != CheckResult::Working);
    }

    // What the judge saw of a request, as echo pages write it.
    void judgePage_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("proxyHeader");
        QTest::addColumn<QString>("firstAddress"); // other than the judge's own, 192.0.2.1

        QTest::newRow("cgi names") << QByteArray("SERVER_ADDR = 192.0.2.1\nREMOTE_ADDR = 10.0.0.5\n"
                                                 "HTTP_X_FORWARDED_FOR = 10.0.0.9\n")
                                   << true << u"10.0.0.5"_s;
        QTest::newRow("json") << QByteArray(R"({"headers": {"Via": "1.1 squid"}, "origin": "10.0.0.5"})") << true
                              << u"10.0.0.5"_s;
        QTest::newRow("header lines") << QByteArray("Remote: 10.0.0.5\r\nx-real-ip: 10.0.0.5\r\n") << true
                                      << u"10.0.0.5"_s;
        QTest::newRow("forwarded") << QByteArray("Forwarded: for=10.0.0.9\n") << true << u"10.0.0.9"_s;
        QTest::newRow("words that hold a name")
            << QByteArray("trivia: none\nMy-Via: x\nvia the web\n") << false << QString();
        QTest::newRow("no address beyond the judge's")
            << QByteArray("192.0.2.1 999.1.1.1 1.2.3.4.5 10.0.0.256") << false << QString();
    }

    void judgePage()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, proxyHeader);
        QFETCH(QString, firstAddress);

        const QByteArray reply = "HTTP/1.0 200 OK\r\n\r\n" + body;
        QCOMPARE(JudgePage::showsProxyHeader(reply), proxyHeader);
        QCOMPARE(JudgePage::firstAddress(reply, u"192.0.2.1"_s), firstAddress);
        // Whole addresses only: one that is the start of another is not in the page.
        if (!firstAddress.isEmpty())
            QVERIFY(JudgePage::mentionsAddress(reply, firstAddress));
        QVERIFY(!JudgePage::mentionsAddress(reply, u"10.0.0.1"_s));
        // The head is not the echo.
        QVERIFY(!JudgePage::showsProxyHeader("HTTP/1.0 200 OK\r\nVia: 1.1 cache\r\n\r\nnothing"));
    }

    // Every proxy a text names, in range and each once; a proxy on a longer port of the same address is its own.
    void proxyList()
    {
        ProxyList list;
        list.addText("1.2.3.4:8080\r\n001.002.003.004:08080 <td>5.6.7.8:80</td> 5.6.7.8:8080 300.1.1.1:80 9.9.9.9:05 "
                     "9.9.9.9:65536 1234.5.6.7:3128 1.2.3.4:8080");
        QStringList proxies;
        for (const ProxyEndpoint& proxy : list.proxies())
            proxies << proxy.addressText() + u':' + QString::number(proxy.port);
        QCOMPARE(proxies, (QStringList{"1.2.3.4:8080", "5.6.7.8:80", "5.6.7.8:8080", "234.5.6.7:3128"}));
        QCOMPARE(list.unusable(), 3);
        QCOMPARE(list.firstUnusable(), u"300.1.1.1:80"_s);
    }
};

QTEST_MAIN(CheckTest)
#include "tst_check.moc"
