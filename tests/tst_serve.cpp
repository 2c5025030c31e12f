// The local rotating proxy with real clients (curl, Python's urllib) and real upstreams (tinyproxy, microsocks) on
// loopback, beside upstreams of our own that refuse, stall or close at once.
#include "check/checkresult.h"
#include "serve/httphead.h"
#include "serve/proxyserver.h"
#include "serve/rotation.h"
#include "tests/support/corekit.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/resource.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool waitForPort(quint16 port, const QHostAddress& address = QHostAddress(QHostAddress::LocalHost))
{
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(address, port);
        if (socket.waitForConnected(100))
            return true;
        QTest::qWait(50);
    }
    return false;
}

struct Ran
{
    int exitCode = -1;
    QByteArray out;
};

// A client process, with the event loop running meanwhile: the serve lives on it.
Ran run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    Ran ran;
    if (!process.waitForStarted())
        return ran;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
        QTest::qWait(5);
        ran.out += process.readAllStandardOutput();
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return ran;
    }
    ran.out += process.readAllStandardOutput();
    ran.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return ran;
}

// An upstream of our own on loopback: passes each connection on to a real one, or misbehaves; counts connections and
// keeps the first bytes each brought.
class Standin : public QObject
{
public:
    enum Mode { Pass, Stall, CloseAtOnce };

    Standin(Mode mode, quint16 target = 0) : m_mode(mode), m_target(target)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                take(socket);
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int accepted = 0;
    QByteArray seen;

private:
    void take(QTcpSocket* socket)
    {
        ++accepted;
        socket->setParent(this);
        if (m_mode == CloseAtOnce)
            return socket->abort();
        if (m_mode == Stall)
            return;
        auto* onward = new QTcpSocket(socket);
        onward->connectToHost(QHostAddress::LocalHost, m_target);
        connect(socket, &QTcpSocket::readyRead, onward, [this, socket, onward] {
            const QByteArray bytes = socket->readAll();
            seen += bytes.left(4096);
            onward->write(bytes);
        });
        connect(onward, &QTcpSocket::readyRead, socket, [socket, onward] { socket->write(onward->readAll()); });
        connect(onward, &QTcpSocket::disconnected, socket, &QTcpSocket::disconnectFromHost);
        connect(socket, &QTcpSocket::disconnected, onward, &QTcpSocket::disconnectFromHost);
    }

    Mode m_mode;
    quint16 m_target;
    QTcpServer m_server;
};

// A site that answers each request with its body, in chunks of 1000 bytes, and keeps the connection.
class EchoSite : public QObject
{
public:
    EchoSite()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { answer(socket); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    // The whole request is read before the answer: its body by Content-Length, or its chunks decoded here.
    static void answer(QTcpSocket* socket)
    {
        QByteArray got = socket->property("got").toByteArray() + socket->readAll();
        socket->setProperty("got", got);
        const qsizetype headEnd = got.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = got.left(headEnd).toLower();
        QByteArray rest = got.mid(headEnd + 4);
        QByteArray body;
        if (head.contains("transfer-encoding: chunked")) {
            for (;;) {
                const qsizetype line = rest.indexOf("\r\n");
                if (line < 0)
                    return;
                bool ok = false;
                const qsizetype size = rest.left(line).split(';').first().toLongLong(&ok, 16);
                if (!ok)
                    return socket->abort();
                if (size == 0) {
                    if (!rest.mid(line + 2).startsWith("\r\n"))
                        return;
                    rest = rest.mid(line + 4);
                    break;
                }
                if (rest.size() < line + 2 + size + 2)
                    return;
                body += rest.mid(line + 2, size);
                rest = rest.mid(line + 2 + size + 2);
            }
        } else {
            const qsizetype at = head.indexOf("content-length:");
            const qsizetype length =
                at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            if (rest.size() < length)
                return;
            body = rest.left(length);
            rest = rest.mid(length);
        }
        socket->setProperty("got", rest);
        QByteArray reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (qsizetype at = 0; at < body.size(); at += 1000) {
            const QByteArray chunk = body.mid(at, 1000);
            reply += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
        }
        socket->write(reply + "0\r\n\r\n");
    }

    QTcpServer m_server;
};

// A client's arguments with "@SERVE@" and "@SITE@" given the serve's and the site's places on 127.0.0.1.
QStringList placed(QStringList arguments, quint16 serve, quint16 site)
{
    for (QString& argument : arguments) {
        argument.replace(u"@SERVE@"_s, u"127.0.0.1:%1"_s.arg(serve));
        argument.replace(u"@SITE@"_s, u"127.0.0.1:%1"_s.arg(site));
    }
    return arguments;
}

Upstream upstreamAt(quint16 port, int protocols, const QByteArray& user = {}, const QByteArray& password = {})
{
    Upstream upstream;
    upstream.proxy.address = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
    upstream.proxy.port = port;
    upstream.proxy.user = user;
    upstream.proxy.password = password;
    upstream.protocols = protocols;
    return upstream;
}

const int httpProxy = CheckResult::Http | CheckResult::Connect;
const int socks5Proxy = CheckResult::Socks5;

} // namespace

class TestServe : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void clients_data();
    void clients();
    void authentication_data();
    void authentication();
    void keptAliveClientStillRotates();
    void bodies_data();
    void bodies();
    void clientsBeyondTheLimitWait();
    void thousandIdleClients();
    void failover_data();
    void failover();
    void noHealthyUpstream();
    void refusals_data();
    void refusals();
    void listenFailure_data();
    void listenFailure();
    void program();
    void programRechecks();
    void setAside_data();
    void setAside();

private:
    QProcess* startPeer(const QString& program, const QStringList& arguments, quint16 port);
    Upstream named(const QString& name) const;
    QString site(const QString& path) const { return u"http://127.0.0.1:%1/%2"_s.arg(m_sitePort).arg(path); }

    std::unique_ptr<TestHome> m_home;
    QTemporaryDir m_dir;
    QList<QProcess*> m_peers;
    quint16 m_sitePort = 0;
    quint16 m_tlsPort = 0;
    quint16 m_tinyproxy = 0;
    quint16 m_tinyproxyAuth = 0;
    quint16 m_microsocks = 0;
    quint16 m_microsocksAuth = 0;
    quint16 m_dante = 0;
    quint16 m_site6Port = 0; // the same site on [::1]
    QByteArray m_page;
    QByteArray m_big;
};

QProcess* TestServe::startPeer(const QString& program, const QStringList& arguments, quint16 port)
{
    auto* process = new QProcess(this);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setWorkingDirectory(m_dir.path());
    process->start(program, arguments);
    m_peers << process;
    if (!process->waitForStarted() ||
        !waitForPort(port ? port : m_site6Port, port ? QHostAddress::LocalHost : QHostAddress::LocalHostIPv6))
        return nullptr;
    return process;
}

void TestServe::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_dir.isValid());
    const QString dir = m_dir.path();
    // A 20 kB page and 10 MB of every byte value.
    for (int i = 0; m_page.size() < 20000; ++i)
        m_page += "line " + QByteArray::number(i) + " of the page served through the proxy\n";
    m_big.resize(qsizetype(10) * 1024 * 1024);
    for (qsizetype i = 0; i < m_big.size(); ++i)
        m_big[i] = char((i * 7919) >> 3);
    QVERIFY(writeFile(dir + u"/site/page.txt"_s, m_page));
    QVERIFY(writeFile(dir + u"/site/big.bin"_s, m_big));
    QVERIFY(writeFile(dir + u"/site/judge.txt"_s, "JUDGE-MARKER\n"));

    m_sitePort = freePort();
    QVERIFY(startPeer(u"python3"_s,
                      {u"-m"_s, u"http.server"_s, QString::number(m_sitePort), u"--bind"_s, u"127.0.0.1"_s,
                       u"--directory"_s, dir + u"/site"_s},
                      m_sitePort));
    QCOMPARE(run(u"openssl"_s,
                 {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-subj"_s, u"/CN=localhost"_s,
                  u"-days"_s, u"1"_s, u"-keyout"_s, dir + u"/key.pem"_s, u"-out"_s, dir + u"/cert.pem"_s})
                 .exitCode,
             0);
    m_site6Port = freePort();
    QVERIFY(startPeer(u"python3"_s,
                      {u"-m"_s, u"http.server"_s, QString::number(m_site6Port), u"--bind"_s, u"::1"_s, u"--directory"_s,
                       dir + u"/site"_s},
                      0));
    m_tlsPort = freePort();
    QVERIFY(startPeer(u"openssl"_s,
                      {u"s_server"_s, u"-quiet"_s, u"-www"_s, u"-accept"_s, QString::number(m_tlsPort), u"-cert"_s,
                       dir + u"/cert.pem"_s, u"-key"_s, dir + u"/key.pem"_s},
                      m_tlsPort));

    const auto tinyproxy = [&](const QString& name, quint16 port, const QByteArray& extra) {
        const QByteArray conf = "Port " + QByteArray::number(port) +
                                "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 200\n" + extra;
        return writeFile(dir + u'/' + name, conf) &&
               startPeer(u"tinyproxy"_s, {u"-d"_s, u"-c"_s, dir + u'/' + name}, port);
    };
    m_tinyproxy = freePort();
    QVERIFY(tinyproxy(u"tinyproxy.conf"_s, m_tinyproxy, ""));
    m_tinyproxyAuth = freePort();
    QVERIFY(tinyproxy(u"tinyproxy-auth.conf"_s, m_tinyproxyAuth, "BasicAuth up stream\n"));
    m_microsocks = freePort();
    QVERIFY(
        startPeer(u"microsocks"_s, {u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(m_microsocks)}, m_microsocks));
    m_microsocksAuth = freePort();
    QVERIFY(startPeer(
        u"microsocks"_s,
        {u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(m_microsocksAuth), u"-u"_s, u"sock"_s, u"-P"_s, u"word"_s},
        m_microsocksAuth));
    // dante speaks SOCKS 4 as well; it needs root to start.
    m_dante = freePort();
    QVERIFY(writeFile(dir + u"/danted.conf"_s,
                      "logoutput: stderr\ninternal: 127.0.0.1 port = " + QByteArray::number(m_dante) +
                          "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\nuser.privileged: root\n"
                          "user.unprivileged: nobody\nclient pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n"
                          "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 protocol: tcp }\n"));
    QVERIFY(startPeer(u"danted"_s, {u"-f"_s, dir + u"/danted.conf"_s, u"-p"_s, dir + u"/danted.pid"_s}, m_dante));
}

void TestServe::cleanupTestCase()
{
    // Asked to end, so that dante ends its children too.
    for (QProcess* peer : std::as_const(m_peers)) {
        peer->terminate();
        if (!peer->waitForFinished(3000)) {
            peer->kill();
            peer->waitForFinished();
        }
    }
}

Upstream TestServe::named(const QString& name) const
{
    if (name == "tinyproxy"_L1)
        return upstreamAt(m_tinyproxy, httpProxy);
    if (name == "tinyproxy with BasicAuth"_L1)
        return upstreamAt(m_tinyproxyAuth, httpProxy, "up", "stream");
    if (name == "microsocks"_L1)
        return upstreamAt(m_microsocks, socks5Proxy);
    if (name == "dante by SOCKS 4"_L1)
        return upstreamAt(m_dante, CheckResult::Socks4);
    return upstreamAt(m_microsocksAuth, socks5Proxy, "sock", "word");
}

// Each client through each kind of upstream gets the whole page. In the arguments "@SERVE@" is the serve's
// address and port, "@SITE@" the site's ("@SITEPORT@" its port alone), "@TLS@" the https site's, "@OUT@" a file for the
// body.
void TestServe::clients_data()
{
    QTest::addColumn<QString>("upstream");
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // "page", "big", or a text the body holds

    const QStringList httpPage = {u"-x"_s, u"http://@SERVE@"_s, u"http://@SITE@/page.txt"_s};
    const QStringList httpsPage = {u"-k"_s, u"-x"_s, u"http://@SERVE@"_s, u"https://localhost:@TLS@/"_s};
    const QStringList socks5Page = {u"--socks5-hostname"_s, u"@SERVE@"_s, u"http://localhost:@SITEPORT@/page.txt"_s};
    const QStringList socks4aPage = {u"--socks4a"_s, u"@SERVE@"_s, u"http://localhost:@SITEPORT@/page.txt"_s};
    const QStringList socks4Page = {u"--socks4"_s, u"@SERVE@"_s, u"http://@SITE@/page.txt"_s};
    const QString urllib = uR"(import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({'http': 'http://@SERVE@'}))
sys.stdout.buffer.write(opener.open('http://@SITE@/page.txt', timeout=20).read()))"_s;
    const QString ip4 = u"127.0.0.1"_s;

    for (const QString& upstream : {u"tinyproxy"_s, u"tinyproxy with BasicAuth"_s, u"microsocks"_s,
                                    u"microsocks with a password"_s, u"dante by SOCKS 4"_s}) {
        QTest::addRow("curl -x http, http page, %s", qPrintable(upstream))
            << upstream << ip4 << u"curl"_s << httpPage << u"page"_s;
        QTest::addRow("curl -x http, https page by CONNECT, %s", qPrintable(upstream))
            << upstream << ip4 << u"curl"_s << httpsPage << u"s_server"_s;
        QTest::addRow("curl --socks5-hostname, %s", qPrintable(upstream))
            << upstream << ip4 << u"curl"_s << socks5Page << u"page"_s;
        QTest::addRow("curl --socks4a, %s", qPrintable(upstream))
            << upstream << ip4 << u"curl"_s << socks4aPage << u"page"_s;
        QTest::addRow("python urllib, %s", qPrintable(upstream))
            << upstream << ip4 << u"python3"_s << QStringList{u"-c"_s, urllib} << u"page"_s;
    }
    QTest::newRow("curl --socks4 to an IPv4 address") << u"microsocks"_s << ip4 << u"curl"_s << socks4Page << u"page"_s;
    const QStringList ipv6Page = {u"--socks5"_s, u"@SERVE@"_s, u"http://@SITE6@/page.txt"_s};
    QTest::newRow("curl --socks5 to an IPv6 address, SOCKS 5 upstream")
        << u"microsocks"_s << ip4 << u"curl"_s << ipv6Page << u"page"_s;
    QTest::newRow("curl --socks5 to an IPv6 address, CONNECT upstream")
        << u"tinyproxy"_s << ip4 << u"curl"_s << ipv6Page << u"page"_s;
    QTest::newRow("curl -x http to an IPv6 address, forwarded")
        << u"tinyproxy"_s << ip4 << u"curl"_s << QStringList{u"-x"_s, u"http://@SERVE@"_s, u"http://@SITE6@/page.txt"_s}
        << u"page"_s;
    QTest::newRow("curl -x http on [::1]") << u"tinyproxy"_s << u"::1"_s << u"curl"_s << httpPage << u"page"_s;
    QTest::newRow("10 MB forwarded, byte for byte")
        << u"tinyproxy"_s << ip4 << u"curl"_s << QStringList{u"-x"_s, u"http://@SERVE@"_s, u"http://@SITE@/big.bin"_s}
        << u"big"_s;
    QTest::newRow("10 MB through a SOCKS 5 tunnel, byte for byte")
        << u"microsocks"_s << ip4 << u"curl"_s
        << QStringList{u"--socks5-hostname"_s, u"@SERVE@"_s, u"http://@SITE@/big.bin"_s} << u"big"_s;
    QTest::newRow("10 MB through a CONNECT tunnel, byte for byte")
        << u"tinyproxy"_s << ip4 << u"curl"_s
        << QStringList{u"-p"_s, u"-x"_s, u"http://@SERVE@"_s, u"http://@SITE@/big.bin"_s} << u"big"_s;
}

void TestServe::clients()
{
    QFETCH(QString, upstream);
    QFETCH(QString, listen);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    ServeJob job;
    job.address = QHostAddress(listen);
    job.upstreams = {named(upstream)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    const QString serve =
        listen.contains(u':') ? u"[%1]:%2"_s.arg(listen).arg(server.port()) : u"%1:%2"_s.arg(listen).arg(server.port());
    const QString out = m_dir.filePath(u"out"_s);
    QFile::remove(out);
    for (QString& argument : arguments) {
        argument.replace(u"@SERVE@"_s, serve);
        argument.replace(u"@SITE@"_s, u"127.0.0.1:%1"_s.arg(m_sitePort));
        argument.replace(u"@SITEPORT@"_s, QString::number(m_sitePort));
        argument.replace(u"@SITE6@"_s, u"[::1]:%1"_s.arg(m_site6Port));
        argument.replace(u"@TLS@"_s, QString::number(m_tlsPort));
    }
    if (program == "curl"_L1)
        arguments = QStringList{u"-sS"_s, u"--max-time"_s, u"30"_s, u"-o"_s, out} + arguments;
    const Ran ran = run(program, arguments);
    QCOMPARE(ran.exitCode, 0);
    const QByteArray body = program == "curl"_L1 ? readFile(out) : ran.out;
    if (expected == "page"_L1)
        QVERIFY2(body == m_page, body.left(300).constData());
    else if (expected == "big"_L1)
        QVERIFY(body == m_big);
    else
        QVERIFY2(body.contains(expected.toUtf8()), body.left(200).constData());
    QCOMPARE(server.counters().failed, 0);
}

// --serve-auth: HTTP clients by Proxy-Authorization, SOCKS 5 by RFC 1929, SOCKS 4 never; the client's credentials
// never reach the upstream.
void TestServe::authentication_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // the status curl saw, or "refused" for a SOCKS failure

    const QString page = u"http://@SITE@/page.txt"_s;
    QTest::newRow("http, right") << QStringList{u"-x"_s, u"http://@SERVE@"_s, u"-U"_s, u"ann:s3cret"_s, page}
                                 << u"200"_s;
    QTest::newRow("http, wrong") << QStringList{u"-x"_s, u"http://@SERVE@"_s, u"-U"_s, u"ann:guess"_s, page}
                                 << u"407"_s;
    QTest::newRow("http, absent") << QStringList{u"-x"_s, u"http://@SERVE@"_s, page} << u"407"_s;
    QTest::newRow("CONNECT, right") << QStringList{u"-p"_s, u"-x"_s, u"http://ann:s3cret@@SERVE@"_s, page} << u"200"_s;
    QTest::newRow("CONNECT, absent") << QStringList{u"-p"_s, u"-x"_s, u"http://@SERVE@"_s, page} << u"407"_s;
    QTest::newRow("socks5, right") << QStringList{u"-x"_s, u"socks5h://ann:s3cret@@SERVE@"_s, page} << u"200"_s;
    QTest::newRow("socks5, wrong") << QStringList{u"-x"_s, u"socks5h://ann:guess@@SERVE@"_s, page} << u"refused"_s;
    QTest::newRow("socks5, absent") << QStringList{u"-x"_s, u"socks5h://@SERVE@"_s, page} << u"refused"_s;
    QTest::newRow("socks4a, with a user") << QStringList{u"-x"_s, u"socks4a://ann@@SERVE@"_s, page} << u"refused"_s;
}

void TestServe::authentication()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    Standin upstream(Standin::Pass, m_tinyproxy);
    ServeJob job;
    job.user = "ann";
    job.password = "s3cret";
    job.upstreams = {upstreamAt(upstream.port(), httpProxy)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    arguments = placed(arguments, server.port(), m_sitePort);
    const QString head = m_dir.filePath(u"head"_s);
    const Ran ran = run(u"curl"_s, QStringList{u"-s"_s, u"--max-time"_s, u"20"_s, u"-o"_s, u"/dev/null"_s, u"-D"_s,
                                               head, u"-w"_s, u"%{http_code} %{http_connect}"_s} +
                                       arguments);
    if (expected == "refused"_L1) {
        QVERIFY(ran.exitCode != 0);
        QCOMPARE(upstream.accepted, 0);
        return;
    }
    const bool connect = arguments.contains(u"-p"_s);
    QCOMPARE(ran.out.split(' ').value(connect ? 1 : 0), expected.toUtf8());
    if (expected == "407"_L1) {
        QVERIFY(readFile(head).contains("Proxy-Authenticate: Basic realm=\"sievra\"\r\n"));
        QCOMPARE(upstream.accepted, 0);
    } else {
        QCOMPARE(upstream.accepted, 1);
        QVERIFY(!upstream.seen.contains(QByteArray("ann:s3cret").toBase64()));
        QVERIFY(!upstream.seen.contains("s3cret"));
    }
}

// One client connection, six requests: each takes the next upstream, so each of three is used twice.
void TestServe::keptAliveClientStillRotates()
{
    Standin one(Standin::Pass, m_tinyproxy);
    Standin two(Standin::Pass, m_tinyproxyAuth);
    Standin three(Standin::Pass, m_microsocks);
    ServeJob job;
    job.upstreams = {upstreamAt(one.port(), httpProxy), upstreamAt(two.port(), httpProxy, "up", "stream"),
                     upstreamAt(three.port(), socks5Proxy)};
    CProxyServer server(job);
    QList<ServedRequest> served;
    connect(&server, &CProxyServer::served, this, [&served](const ServedRequest& request) { served << request; });
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    QStringList arguments = {u"-s"_s,
                             u"--max-time"_s,
                             u"30"_s,
                             u"-x"_s,
                             u"http://127.0.0.1:%1"_s.arg(server.port()),
                             u"-w"_s,
                             u"%{http_code} %{num_connects} %{size_download}\n"_s};
    for (int i = 0; i < 6; ++i)
        arguments << u"-o"_s << u"/dev/null"_s << site(u"page.txt"_s);
    const Ran ran = run(u"curl"_s, arguments);
    QCOMPARE(ran.exitCode, 0);
    const QByteArray whole = "200 %1 " + QByteArray::number(m_page.size());
    QCOMPARE(ran.out, QByteArray(whole).replace("%1", "1") + '\n' +
                          QByteArray(whole).replace("%1", "0").append('\n').repeated(5));
    QCOMPARE(one.accepted, 2);
    QCOMPARE(two.accepted, 2);
    QCOMPARE(three.accepted, 2);
    // The log's lines: one a request, each with the upstream and protocol it went through.
    QCOMPARE(served.size(), 6);
    const QString target = u"127.0.0.1:%1"_s.arg(m_sitePort);
    const QStringList upstreams = {u"127.0.0.1:%1"_s.arg(one.port()), u"127.0.0.1:%1"_s.arg(two.port()),
                                   u"127.0.0.1:%1"_s.arg(three.port())};
    for (int i = 0; i < 6; ++i) {
        const QList<QByteArray> fields = served[i].line().split('\t');
        QCOMPARE(fields.size(), 10);
        QCOMPARE(fields[1], served[0].client.toUtf8());
        QCOMPARE(fields.mid(2, 5), (QList<QByteArray>{"GET", target.toUtf8(), upstreams[i % 3].toUtf8(),
                                                      i % 3 == 2 ? "socks5" : "http", "200"}));
        QVERIFY(fields[7].toLongLong() > 0);
        QVERIFY(fields[8].toLongLong() > m_page.size());
    }
}

// A body goes up whole, by its length or in chunks, and the chunked reply comes back whole, past the 256 kB each
// direction holds.
void TestServe::bodies_data()
{
    QTest::addColumn<QString>("upstream");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("size");

    const QStringList chunked = {u"-H"_s, u"Transfer-Encoding: chunked"_s};
    QTest::newRow("POST by length, forwarded") << u"tinyproxy"_s << QStringList() << 600000;
    QTest::newRow("POST by length, SOCKS 5 tunnel") << u"microsocks"_s << QStringList() << 600000;
    QTest::newRow("POST in chunks, SOCKS 5 tunnel") << u"microsocks"_s << chunked << 600000;
    QTest::newRow("POST in chunks, CONNECT tunnel") << u"tinyproxy"_s << (chunked + QStringList{u"-p"_s}) << 300000;
    QTest::newRow("empty POST") << u"microsocks"_s << QStringList() << 0;
}

void TestServe::bodies()
{
    QFETCH(QString, upstream);
    QFETCH(QStringList, arguments);
    QFETCH(int, size);

    EchoSite echo;
    QByteArray sent(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        sent[i] = char(i * 31 + i / 7);
    const QString in = m_dir.filePath(u"in"_s);
    const QString out = m_dir.filePath(u"out"_s);
    QVERIFY(writeFile(in, sent));
    QFile::remove(out);
    ServeJob job;
    job.upstreams = {named(upstream)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    const QString url = u"http://127.0.0.1:%1/echo"_s.arg(echo.port());
    // Twice on one connection: the first body's end is where the second request starts.
    const Ran ran = run(u"curl"_s, QStringList{u"-sS"_s, u"--max-time"_s, u"30"_s, u"-x"_s,
                                               u"http://127.0.0.1:%1"_s.arg(server.port()), u"--data-binary"_s,
                                               u"@"_s + in, u"-o"_s, out, url, u"-o"_s, out + u"2"_s, url} +
                                       arguments);
    QCOMPARE(ran.exitCode, 0);
    QVERIFY(readFile(out) == sent);
    QVERIFY(readFile(out + u"2"_s) == sent);
    QCOMPARE(server.counters().failed, 0);
}

// One more than --serve-connections waits in the backlog until a client leaves, then is served.
void TestServe::clientsBeyondTheLimitWait()
{
    ServeJob job;
    job.maxClients = 2;
    job.upstreams = {named(u"tinyproxy"_s)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    QTcpSocket first;
    QTcpSocket second;
    QTcpSocket third;
    for (QTcpSocket* client : {&first, &second, &third}) {
        client->connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(client->waitForConnected(2000));
    }
    QTRY_COMPARE(server.counters().clients, 2);
    third.write("\x16");
    QTest::qWait(300);
    QCOMPARE(third.bytesAvailable(), 0);
    first.abort();
    QTRY_VERIFY(third.bytesAvailable() > 0);
    QVERIFY(third.readAll().startsWith("HTTP/1.1 400 "));
    QTRY_COMPARE(server.counters().clients, 1);
}

// A thousand clients that say nothing are held, each closed once it has been idle.
void TestServe::thousandIdleClients()
{
    // Two descriptors a client here, the serve's and the test's own.
    rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 2200)
        QSKIP("this machine allows fewer than 2200 open files");
    ServeJob job;
    job.idleMs = 3000;
    job.upstreams = {named(u"tinyproxy"_s)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 1000; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port());
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.counters().clients, 1000, 10000);
    // Still served meanwhile.
    const Ran ran =
        run(u"curl"_s, {u"-s"_s, u"-x"_s, u"http://127.0.0.1:%1"_s.arg(server.port()), site(u"page.txt"_s)});
    QVERIFY(ran.out == m_page);
    QTRY_COMPARE_WITH_TIMEOUT(server.counters().clients, 0, 10000);
    const auto allClosed = [&clients] {
        return std::all_of(clients.begin(), clients.end(),
                           [](const auto& client) { return client->state() == QAbstractSocket::UnconnectedState; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allClosed(), 5000);
}

// A failing upstream is the serve's to absorb: the client gets the whole page, and the failed one is set aside.
void TestServe::failover_data()
{
    QTest::addColumn<int>("mode"); // a Standin::Mode, or -1: nothing listens
    QTest::addColumn<int>("protocols");
    QTest::addColumn<QStringList>("arguments");

    const QStringList http = {u"-x"_s, u"http://@SERVE@"_s, u"http://@SITE@/page.txt"_s};
    const QStringList socks = {u"--socks5-hostname"_s, u"@SERVE@"_s, u"http://@SITE@/page.txt"_s};
    QTest::newRow("refuses, http") << -1 << httpProxy << http;
    QTest::newRow("refuses, socks5") << -1 << socks5Proxy << socks;
    QTest::newRow("stalls at CONNECT, http") << int(Standin::Stall) << int(CheckResult::Connect) << http;
    QTest::newRow("stalls at the SOCKS greeting, socks5") << int(Standin::Stall) << socks5Proxy << socks;
    QTest::newRow("closes at once, forwarding") << int(Standin::CloseAtOnce) << httpProxy << http;
    QTest::newRow("closes at once, socks5") << int(Standin::CloseAtOnce) << socks5Proxy << socks;
}

void TestServe::failover()
{
    QFETCH(int, mode);
    QFETCH(int, protocols);
    QFETCH(QStringList, arguments);

    Standin bad(mode < 0 ? Standin::CloseAtOnce : Standin::Mode(mode));
    const quint16 badPort = mode < 0 ? freePort() : bad.port();
    Standin good(Standin::Pass, m_tinyproxy);
    ServeJob job;
    job.upstreamTimeoutMs = 1000;
    job.upstreams = {upstreamAt(badPort, protocols), upstreamAt(good.port(), httpProxy)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    arguments = placed(arguments, server.port(), m_sitePort);
    const QString out = m_dir.filePath(u"out"_s);
    for (int i = 0; i < 4; ++i) {
        QFile::remove(out);
        const Ran ran = run(u"curl"_s, QStringList{u"-s"_s, u"--max-time"_s, u"20"_s, u"-o"_s, out} + arguments);
        QCOMPARE(ran.exitCode, 0);
        QVERIFY(readFile(out) == m_page);
    }
    // Only the first request met the bad one; the rest went straight to the good one.
    QCOMPARE(server.counters().rerouted, 1);
    QCOMPARE(good.accepted, 4);
    QCOMPARE(server.counters().failed, 0);
    QCOMPARE(server.healthy(), 1);
}

void TestServe::noHealthyUpstream()
{
    Standin closes(Standin::CloseAtOnce);
    Standin socksCloses(Standin::CloseAtOnce);
    ServeJob job;
    job.upstreams = {upstreamAt(freePort(), httpProxy), upstreamAt(closes.port(), httpProxy),
                     upstreamAt(socksCloses.port(), socks5Proxy)};
    CProxyServer server(job);
    QList<ServedRequest> served;
    connect(&server, &CProxyServer::served, this, [&served](const ServedRequest& request) { served << request; });
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    const QStringList arguments = {u"-s"_s,
                                   u"-x"_s,
                                   u"http://127.0.0.1:%1"_s.arg(server.port()),
                                   u"-w"_s,
                                   u" %{http_code}"_s,
                                   site(u"page.txt"_s)};
    Ran ran = run(u"curl"_s, arguments);
    QVERIFY2(ran.out.startsWith("3 upstream proxies failed, the last: ") && ran.out.endsWith("\n 502"),
             ran.out.constData());
    QCOMPARE(server.healthy(), 0);
    ran = run(u"curl"_s, arguments);
    QCOMPARE(ran.out, "no upstream proxy is healthy now\n 503");
    QCOMPARE(closes.accepted + socksCloses.accepted, 2);
    ran = run(u"curl"_s, {u"-s"_s, u"--socks5-hostname"_s, u"127.0.0.1:%1"_s.arg(server.port()), site(u"page.txt"_s)});
    QCOMPARE(ran.exitCode, 97);
    QStringList statuses;
    for (const ServedRequest& request : std::as_const(served))
        statuses << request.method + u' ' + request.status;
    QCOMPARE(statuses, (QStringList{u"GET 502"_s, u"GET 503"_s, u"SOCKS5 1"_s}));
}

// What the serve answers of its own, and that it closes after; "@SELF@" is its own address and port.
void TestServe::refusals_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // what the answer begins with

    QTest::newRow("neither HTTP nor SOCKS") << QByteArray("\x16\x03\x01\x02\x00", 5) << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("no version") << QByteArray("GET http://127.0.0.1/\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("not an absolute URL") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n")
                                         << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("https:// without CONNECT")
        << QByteArray("GET https://127.0.0.1/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("two lengths that differ")
        << QByteArray("POST http://127.0.0.1/ HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd")
        << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("a folded field") << QByteArray("GET http://127.0.0.1/ HTTP/1.1\r\nA: b\r\n c\r\n\r\n")
                                    << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("a head past 64 kB") << QByteArray("GET http://127.0.0.1/ HTTP/1.1\r\nX: " + QByteArray(70000, 'a'))
                                       << QByteArray("HTTP/1.1 431 ");
    QTest::newRow("a head of 64 kB with no end yet")
        << QByteArray("GET http://127.0.0.1/ HTTP/1.1\r\nX: " + QByteArray(HttpHead::maxSize, 'a'))
        << QByteArray("HTTP/1.1 431 ");
    QTest::newRow("itself, http") << QByteArray("GET http://@SELF@/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("itself by name, http")
        << QByteArray("GET http://localhost:@PORT@/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("itself, CONNECT") << QByteArray("CONNECT @SELF@ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("itself, socks5: not allowed by ruleset")
        << QByteArray("\x05\x01\x00\x05\x01\x00\x01\x7f\x00\x00\x01@P", 13) << QByteArray("\x05\x00\x05\x02", 4);
    QTest::newRow("itself, socks4: rejected")
        << QByteArray("\x04\x01@P\x7f\x00\x00\x01\x00", 9) << QByteArray("\x00\x5b", 2);
    QTest::newRow("socks5 BIND: command not supported")
        << QByteArray("\x05\x01\x00\x05\x02\x00\x01\x7f\x00\x00\x01\x00\x50", 13) << QByteArray("\x05\x00\x05\x07", 4);
    QTest::newRow("socks5 without a method we take") << QByteArray("\x05\x01\x02", 3) << QByteArray("\x05\xff", 2);
    QTest::newRow("idle: closed without a word") << QByteArray("GET http://127.0.0.1/ HTTP/1.1\r\n") << QByteArray();
}

void TestServe::refusals()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);

    ServeJob job;
    job.idleMs = 500;
    job.upstreams = {upstreamAt(m_tinyproxy, httpProxy)};
    CProxyServer server(job);
    QString failure;
    QVERIFY2(server.listen(&failure), qPrintable(failure));
    const quint16 port = server.port();
    request.replace("@SELF@", QByteArray("127.0.0.1:" + QByteArray::number(port)));
    request.replace("@PORT@", QByteArray::number(port));
    request.replace("@P", QByteArray(QByteArray(1, char(port >> 8)) + char(port & 0xff)));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(2000));
    client.write(request);
    QByteArray reply;
    QTRY_VERIFY_WITH_TIMEOUT((reply += client.readAll(), client.state() == QAbstractSocket::UnconnectedState), 5000);
    reply += client.readAll();
    QVERIFY2(reply.startsWith(answer), reply.toHex().constData());
    QVERIFY(answer.isEmpty() == reply.isEmpty());
    QCOMPARE(server.counters().clients, 0);
}

void TestServe::listenFailure_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("failure");

    QTest::newRow("port in use") << u"127.0.0.1"_s << u"cannot serve on 127.0.0.1:@PORT@: the port is in use."_s;
    QTest::newRow("an address of another machine")
        << u"192.0.2.1"_s << u"cannot serve on 192.0.2.1:@PORT@: the address is not of this machine."_s;
}

void TestServe::listenFailure()
{
    QFETCH(QString, address);
    QFETCH(QString, failure);

    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    ServeJob job;
    job.address = QHostAddress(address);
    job.port = taken.serverPort();
    CProxyServer server(job);
    QString told;
    QVERIFY(!server.listen(&told));
    QCOMPARE(told, failure.replace(u"@PORT@"_s, QString::number(taken.serverPort())));
}

// The program: --check FILE --serve PORT --no-pool serves what works, SIGTERM ends it at once with 0; a port in
// use is refused with one line.
void TestServe::program()
{
    const QString list = m_dir.filePath(u"list.txt"_s);
    QVERIFY(writeFile(list, u"127.0.0.1:%1\n"_s.arg(m_tinyproxy).toUtf8()));
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home.path());
    const quint16 port = freePort();
    QProcess serve;
    serve.setProcessEnvironment(environment);
    serve.start(QStringLiteral(SIEVRA_PROGRAM),
                {u"--check"_s, list, u"--judge"_s, site(u"judge.txt"_s), u"--judge-marker"_s, u"JUDGE-MARKER"_s,
                 u"--no-pool"_s, u"--serve"_s, QString::number(port)});
    QByteArray told;
    QTRY_VERIFY_WITH_TIMEOUT((told += serve.readAllStandardError()).contains("Ctrl+C stops."), 20000);
    QVERIFY2(told.contains(QByteArray("sievra: serving 1 upstream proxies on 127.0.0.1:" + QByteArray::number(port))),
             told.constData());

    const Ran ran = run(u"curl"_s, {u"-s"_s, u"-x"_s, u"http://127.0.0.1:%1"_s.arg(port), site(u"page.txt"_s)});
    QVERIFY(ran.out == m_page);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(SIEVRA_PROGRAM),
                 {u"--serve"_s, QString::number(port), u"--no-pool"_s, u"--check"_s, list, u"--judge"_s,
                  site(u"judge.txt"_s), u"--judge-marker"_s, u"JUDGE-MARKER"_s});
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 1);
    QCOMPARE(second.readAllStandardError(),
             "sievra: cannot serve on 127.0.0.1:" + QByteArray::number(port) + ": the port is in use.\n");

    // A client in the middle of a tunnel does not hold it up.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(2000));
    client.write("CONNECT 127.0.0.1:" + QByteArray::number(m_sitePort) + " HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(client.bytesAvailable() > 0);
    QElapsedTimer clock;
    clock.start();
    serve.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(serve.state() == QProcess::NotRunning, 5000);
    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(serve.exitStatus(), QProcess::NormalExit);
    QCOMPARE(serve.exitCode(), 0);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
}

// While it serves, the proxies are checked again: of a checked list the whole list, of the pool those due and then
// its alive ones, so that upstreams come and go without a restart; an upstream that fails the serve is kept in the
// pool by the judge "serve", and due at once.
void TestServe::programRechecks()
{
    const quint16 comesLater = freePort();
    const QString list = m_dir.filePath(u"rechecked.txt"_s);
    QVERIFY(writeFile(list, u"127.0.0.1:%1\n127.0.0.1:%2\n"_s.arg(m_tinyproxy).arg(comesLater).toUtf8()));
    const QString pool = m_dir.filePath(u"rechecks.sqlite"_s);
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home.path());
    const QStringList judge = {u"--judge"_s,         site(u"judge.txt"_s),
                               u"--judge-marker"_s,  u"JUDGE-MARKER"_s,
                               u"--check-timeout"_s, u"2"_s,
                               u"--pool"_s,          pool};
    const quint16 port = freePort();
    QProcess serve;
    serve.setProcessEnvironment(environment);
    serve.start(QStringLiteral(SIEVRA_PROGRAM),
                QStringList{u"--check"_s, list, u"--serve"_s, QString::number(port), u"--recheck-every"_s, u"0.05"_s} +
                    judge);
    QByteArray told;
    const auto tells = [&](const QByteArray& line) {
        told += serve.readAllStandardError();
        return told.contains(line);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(tells("serving 1 upstream proxies on"), told.constData(), 20000);
    QProcess* socks =
        startPeer(u"microsocks"_s, {u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(comesLater)}, comesLater);
    QVERIFY(socks);
    QTRY_VERIFY2_WITH_TIMEOUT(tells("serving 2 upstream proxies.\n"), told.constData(), 20000);
    told.clear();

    // Gone before the next recheck: the request goes on through the other, and the pool keeps the failure.
    socks->kill();
    socks->waitForFinished();
    const QStringList get = {u"-s"_s, u"-x"_s, u"http://127.0.0.1:%1"_s.arg(port), site(u"page.txt"_s)};
    for (int i = 0; i < 2; ++i)
        QVERIFY(run(u"curl"_s, get).out == m_page);
    // Due at once, unless a recheck came between and set the proxy's time anew.
    const QString failures = u"import sqlite3; print(sqlite3.connect('%1').execute(\"SELECT count(*), min(p.due <= "
                             "c.checked_at OR p.last_checked >= c.checked_at) FROM checks c JOIN judges j ON j.id = "
                             "c.judge_id JOIN proxies p ON p.id = c.proxy_id WHERE j.url = 'serve' AND p.port = "
                             "%2\").fetchone())"_s.arg(pool)
                                 .arg(comesLater);
    QTRY_COMPARE_WITH_TIMEOUT(run(u"python3"_s, {u"-c"_s, failures}).out, "(1, 1)\n", 5000);
    QTRY_VERIFY2_WITH_TIMEOUT(tells("serving 1 upstream proxies.\n"), told.constData(), 20000);
    serve.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(serve.state() == QProcess::NotRunning, 5000);
    QCOMPARE(serve.exitCode(), 0);

    // The pool served: a proxy another run finds working joins, though none is due.
    QProcess servePool;
    servePool.setProcessEnvironment(environment);
    servePool.start(QStringLiteral(SIEVRA_PROGRAM),
                    QStringList{u"--serve"_s, QString::number(port), u"--recheck-every"_s, u"0.02"_s} + judge);
    told.clear();
    const auto poolTells = [&](const QByteArray& line) {
        told += servePool.readAllStandardError();
        return told.contains(line);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(poolTells("serving 1 upstream proxies on"), told.constData(), 20000);
    const quint16 joins = freePort();
    QVERIFY(startPeer(u"microsocks"_s, {u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(joins)}, joins));
    const QString joining = m_dir.filePath(u"joining.txt"_s);
    QVERIFY(writeFile(joining, u"127.0.0.1:%1\n"_s.arg(joins).toUtf8()));
    QProcess check;
    check.setProcessEnvironment(environment);
    check.start(QStringLiteral(SIEVRA_PROGRAM), QStringList{u"--check"_s, joining} + judge);
    QTRY_VERIFY_WITH_TIMEOUT(check.state() == QProcess::NotRunning, 20000);
    QCOMPARE(check.exitCode(), 0);
    QTRY_VERIFY2_WITH_TIMEOUT(poolTells("serving 2 upstream proxies.\n"), told.constData(), 20000);
    const Ran socksGet =
        run(u"curl"_s, {u"-s"_s, u"--socks5-hostname"_s, u"127.0.0.1:%1"_s.arg(port), site(u"page.txt"_s)});
    QVERIFY(socksGet.out == m_page);
    servePool.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(servePool.state() == QProcess::NotRunning, 5000);
    QCOMPARE(servePool.exitCode(), 0);
}

// Set aside for 5 minutes, 10 after a second failure in a row, 5 again once it worked in between.
void TestServe::setAside_data()
{
    QTest::addColumn<QList<qint64>>("failures"); // minutes at which the first upstream fails; -1: it works
    QTest::addColumn<qint64>("at");              // minutes
    QTest::addColumn<bool>("relisted");          // then a recheck lists 3 (SOCKS 5 only), 1 and 2 in that order
    QTest::addColumn<quint16>("picked");         // the port of the upstream picked first at that time

    QTest::newRow("just failed") << QList<qint64>{0} << qint64(4) << false << quint16(2);
    QTest::newRow("5 minutes on") << QList<qint64>{0} << qint64(5) << false << quint16(1);
    QTest::newRow("twice in a row: 10 minutes") << QList<qint64>{0, 5} << qint64(14) << false << quint16(2);
    QTest::newRow("twice in a row, 10 minutes on") << QList<qint64>{0, 5} << qint64(15) << false << quint16(1);
    QTest::newRow("worked in between: 5 minutes again") << QList<qint64>{0, -1, 5} << qint64(10) << false << quint16(1);
    QTest::newRow("relisted, still aside") << QList<qint64>{0} << qint64(4) << true << quint16(2);
    QTest::newRow("relisted, its time aside over") << QList<qint64>{0, 5} << qint64(15) << true << quint16(1);
}

void TestServe::setAside()
{
    QFETCH(QList<qint64>, failures);
    QFETCH(qint64, at);
    QFETCH(bool, relisted);
    QFETCH(quint16, picked);

    Rotation rotation;
    const Upstream first = upstreamAt(1, httpProxy);
    rotation.setUpstreams({first, upstreamAt(2, httpProxy)});
    const qint64 minute = qint64(60) * 1000;
    for (const qint64 failure : failures)
        failure < 0 ? rotation.worked(first.proxy) : rotation.failed(first.proxy, failure * minute);
    // A recheck's list keeps what the serve saw of those that stay.
    if (relisted)
        rotation.setUpstreams({upstreamAt(3, CheckResult::Socks5), first, upstreamAt(2, httpProxy)});
    const Upstream* next = rotation.next(at * minute, httpProxy, {});
    QVERIFY(next);
    QCOMPARE(next->proxy.port, picked);
}

QTEST_GUILESS_MAIN(TestServe)
#include "tst_serve.moc"
