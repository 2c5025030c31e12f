#include "fakeweb.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace {

const QString updateHost = QStringLiteral("tarnix.net");
const QString geoHost = QStringLiteral("www.geoiptool.com");
const QString slowHost = QStringLiteral("www.slowproxies.com");
const QString faultyHost = QStringLiteral("www.faultyproxies.com");

QByteArray httpReply(const QByteArray& status, const QByteArray& type, const QByteArray& body)
{
    return "HTTP/1.0 " + status + "\r\nServer: fakeweb\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray notFound()
{
    return httpReply("404 Not Found", "text/html", "<html><body>Not found</body></html>");
}

QString withoutWww(QString host)
{
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}

} // namespace

FakeWeb::FakeWeb(const QString& siteRoot, QObject* parent) : QObject(parent), m_siteRoot(siteRoot)
{
    for (QTcpServer* server : {&m_main, &m_geo})
        connect(server, &QTcpServer::newConnection, this, [this, server] {
            while (QTcpSocket* socket = server->nextPendingConnection())
                serve(socket);
        });
}

bool FakeWeb::listen(const QHostAddress& main, const QHostAddress& geo, quint16 port)
{
    m_port = port;
    m_geoAddress = geo;
    if (!m_main.listen(main, port)) {
        m_error = m_main.errorString();
        return false;
    }
    if (!m_geo.listen(geo, port)) {
        m_error = m_geo.errorString();
        return false;
    }
    return true;
}

void FakeWeb::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        const QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
        socket->setProperty("seen", seen);
        if (!seen.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> lines = seen.left(seen.indexOf("\r\n\r\n")).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        QString host;
        for (const QByteArray& line : lines)
            if (line.toLower().startsWith("host:"))
                host = QString::fromLatin1(line.mid(5).trimmed()).toLower();
        QString target = QString::fromLatin1(requestLine.value(1));
        // The leech list client asks with the whole address in the request line.
        if (target.startsWith(QLatin1String("http://"))) {
            const int slash = target.indexOf(QLatin1Char('/'), 7);
            target = slash < 0 ? QStringLiteral("/") : target.mid(slash);
        }
        answer(socket, host, target);
    });
}

void FakeWeb::answer(QTcpSocket* socket, const QString& host, const QString& target)
{
    const int mark = target.indexOf(QLatin1Char('?'));
    const QString path = mark < 0 ? target : target.left(mark);
    const QString query = mark < 0 ? QString() : target.mid(mark + 1);

    QByteArray reply;
    if (path == QLatin1String("/__control")) {
        reply = control(query);
    } else if (withoutWww(host) == updateHost) {
        reply = updateServerReply(path);
    } else if (host == geoHost && path == QLatin1String("/en/")) {
        reply = geoReply(query);
    } else if (host == slowHost && path == QLatin1String("/stall.html")) {
        // The page fetchers send a "Referrer: " line and the link crawler does not: the crawler gets the
        // page at once, a fetcher gets part of it and then silence, so its fetch is still under way when
        // the suite presses Stop.
        const QByteArray page = httpReply("200 OK", "text/html", "<html><body><p>10.99.99.1:8080</p></body></html>");
        if (!socket->property("seen").toByteArray().contains("\r\nReferrer: ")) {
            reply = page;
        } else {
            socket->write(page.left(60));
            m_stalled.append(socket);
            return;
        }
    } else if (host == faultyHost) {
        if (!answerFaulty(socket, path))
            return;
        socket->disconnectFromHost();
        return;
    } else {
        reply = siteReply(host, path);
    }
    socket->write(reply);
    socket->disconnectFromHost();
}

QStringList FakeWeb::manyProxies(int first, int count)
{
    QStringList proxies;
    for (int i = first; i < first + count; ++i)
        proxies << QStringLiteral("%1.%2.%3.7:%4")
                       .arg(10 + i / 65536 % 200)
                       .arg(i / 256 % 256)
                       .arg(i % 256)
                       .arg(1000 + i % 60000);
    return proxies;
}

QByteArray FakeWeb::faultyBody(const QString& path)
{
    static QHash<QString, QByteArray> bodies;
    if (!bodies.contains(path)) {
        QByteArray body;
        if (path == QLatin1String("/huge.html")) {
            // 50 MB: a table of 400,000 proxies padded with markup.
            const QByteArray padding = QByteArray(100, ' ');
            for (const QString& proxy : manyProxies(0, 400000))
                body += "<tr><td>" + proxy.toLatin1() + "</td></tr>" + padding;
        } else if (path == QLatin1String("/many.html")) {
            for (const QString& proxy : manyProxies(500000, 20000))
                body += proxy.toLatin1() + "<br>\n";
        } else if (path == QLatin1String("/binary.html")) {
            // Proxies, then every byte value, zero included, then more proxies behind it.
            body = "10.66.0.1:8080\n10.66.0.2:3128\n";
            for (int b = 0; b < 256; ++b)
                body += char(b);
            body += "10.66.0.3:80\n";
        }
        bodies.insert(path, body);
    }
    return bodies.value(path);
}

// The faulty site: every page fails in its own way. False when the socket is left as it is.
bool FakeWeb::answerFaulty(QTcpSocket* socket, const QString& path)
{
    if (path == QLatin1String("/silent.html")) {
        m_stalled.append(socket); // reads the request, answers nothing, never closes
        return false;
    }
    if (path == QLatin1String("/drip.html")) {
        // One byte a second, for longer than any fetch waits.
        auto* timer = new QTimer(socket);
        const QByteArray page = httpReply("200 OK", "text/html", "<p>10.77.0.1:8080</p>" + QByteArray(100, ' '));
        connect(timer, &QTimer::timeout, socket, [socket, page, sent = 0]() mutable {
            if (sent < page.size())
                socket->write(page.mid(sent++, 1));
        });
        timer->start(1000);
        return false;
    }
    if (path == QLatin1String("/reset.html")) {
        socket->write("HTTP/1.0 200 OK\r\nContent-Ty");
        socket->flush();
        QTimer::singleShot(100, socket, [socket] { socket->abort(); });
        return false;
    }
    const QByteArray body = faultyBody(path);
    socket->write(body.isEmpty() ? notFound() : httpReply("200 OK", "text/html", body));
    return true;
}

QByteArray FakeWeb::updateServerReply(const QString& path) const
{
    if (path == QLatin1String("/lookup.php")) {
        // A newer version is named by the body's text in front of "|".
        const QByteArray body =
            m_newerVersion ? QByteArray("1.10|http://www.tarnix.net/sievra/download.html") : QByteArray("current");
        return httpReply("200 OK", "text/plain", body);
    }
    return siteReply(QStringLiteral("www.tarnix.net"), path);
}

QByteArray FakeWeb::geoReply(const QString& query) const
{
    const QString address = QUrlQuery(query).queryItemValue(QStringLiteral("IP"));
    static const QHash<QString, QString> countries = {
        {QStringLiteral("8.8.8.8"), QStringLiteral("United States")},
        {QStringLiteral("81.169.145.1"), QStringLiteral("Germany")},
        {QStringLiteral("1.2.3.4"), QStringLiteral("Australia")},
    };
    const QString country = countries.value(address, QStringLiteral("Unknown"));
    const QByteArray body = "<html><body><table><tr><td>Country:</td><td><a href='/en/country'> " + country.toLatin1() +
                            " </a> <img src='/flags/xx.gif'></td></tr></table></body></html>";
    return httpReply("200 OK", "text/html", body);
}

QByteArray FakeWeb::siteReply(const QString& host, const QString& path) const
{
    QString relative = path;
    if (relative.isEmpty() || relative.endsWith(QLatin1Char('/')))
        relative += QStringLiteral("index.html");
    if (relative.contains(QLatin1String("..")))
        return notFound();
    QFile file(QDir(m_siteRoot).filePath(host + relative));
    if (!file.open(QIODevice::ReadOnly))
        return notFound();
    const QByteArray type = relative.endsWith(QLatin1String(".txt")) ? "text/plain" : "text/html";
    return httpReply("200 OK", type, file.readAll());
}

QByteArray FakeWeb::control(const QString& query)
{
    const QUrlQuery items(query);
    if (items.hasQueryItem(QStringLiteral("lookup")))
        m_newerVersion = items.queryItemValue(QStringLiteral("lookup")) == QLatin1String("newer");
    if (items.hasQueryItem(QStringLiteral("geo"))) {
        // Down means nothing listens: connections to the geo-IP host are refused.
        if (items.queryItemValue(QStringLiteral("geo")) == QLatin1String("down"))
            m_geo.close();
        else if (!m_geo.isListening())
            m_geo.listen(m_geoAddress, m_port);
    }
    return httpReply("200 OK", "text/plain", "OK");
}
