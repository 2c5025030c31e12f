#include "tests/e2e/fakeweb.h"

#include "tests/support/testkit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTcpSocket>

namespace {

const QString updateHost = QStringLiteral("www.tarnix.net");
const QString slowHost = QStringLiteral("www.slowproxies.com");
const QString faultyHost = QStringLiteral("www.faultyproxies.com");

} // namespace

FakeWeb::FakeWeb(const QString& siteRoot)
{
    serveSites(siteRoot);
    serveFaultyHost();
    // Nothing newer: the update check from the menu says so.
    setReply(updateHost, QStringLiteral("/lookup.php"), FakeReply::page("current"));
    setReply(slowHost, QStringLiteral("/stall.html"),
             FakeReply::page("<html><body><p>10.99.99.1:8080</p></body></html>"));
}

void FakeWeb::serveSites(const QString& siteRoot)
{
    const QDir root(QDir(siteRoot).absolutePath());
    QDirIterator files(root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString relative = root.relativeFilePath(files.next());
        QFile file(files.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const FakeReply page = FakeReply::page(file.readAll());
        const QString host = relative.section(QLatin1Char('/'), 0, 0);
        const QString path = QLatin1Char('/') + relative.section(QLatin1Char('/'), 1);
        setReply(host, path, page);
        if (path.endsWith(QLatin1String("/index.html")))
            setReply(host, path.chopped(10), page);
    }
}

// The faulty site: every page fails in its own way.
void FakeWeb::serveFaultyHost()
{
    setReply(faultyHost, QStringLiteral("/silent.html"), FakeReply::keepOpenAfter(QByteArray()));
    // One byte a second, for longer than any fetch waits.
    QList<QByteArray> drops;
    const QByteArray dripped = FakeReply::page("<p>10.77.0.1:8080</p>" + QByteArray(100, ' ')).parts.first();
    for (const char byte : dripped)
        drops << QByteArray(1, byte);
    setReply(faultyHost, QStringLiteral("/drip.html"), FakeReply::inParts(drops, 1000));
    setReply(faultyHost, QStringLiteral("/reset.html"),
             {{"HTTP/1.0 200 OK\r\nContent-Ty"}, 0, FakeReply::Ending::Reset});
    QByteArray many;
    for (const QString& proxy : manyProxies(500000, 20000))
        many += proxy.toLatin1() + "<br>\n";
    setReply(faultyHost, QStringLiteral("/many.html"), FakeReply::page(many));
    // About 1 MB of whole lines, sent over and over as the client reads.
    QByteArray lines;
    for (const QString& proxy : manyProxies(700000, 1000))
        lines += proxy.toLatin1() + "\n";
    const QByteArray head = FakeReply::page(QByteArray()).parts.first();
    setReply(faultyHost, QStringLiteral("/endless.html"),
             FakeReply::endless(endlessHead, lines.repeated(qsizetype(1024) * 1024 / lines.size())));
    const QByteArray words = "<p>No proxies today, only words.</p>\n";
    setReply(faultyHost, QStringLiteral("/endless-text.html"),
             FakeReply::endless(head, words.repeated(qsizetype(1024) * 1024 / words.size())));
    // Proxies, then every byte value, zero included, then more proxies behind it.
    QByteArray binary = "10.66.0.1:8080\n10.66.0.2:3128\n";
    for (int byte = 0; byte < 256; ++byte)
        binary += char(byte);
    setReply(faultyHost, QStringLiteral("/binary.html"), FakeReply::page(binary + "10.66.0.3:80\n"));
}

void FakeWeb::servePages(const QString& host, const QString& folder)
{
    // Each with the type a web server gives its kind of file.
    static const QHash<QString, QByteArray> types = {{QStringLiteral("html"), "text/html"},
                                                     {QStringLiteral("json"), "application/json"},
                                                     {QStringLiteral("xml"), "application/xml"},
                                                     {QStringLiteral("csv"), "text/csv"},
                                                     {QStringLiteral("tsv"), "text/tab-separated-values"}};
    const QDir pages(folder);
    for (const QString& name : pages.entryList(QDir::Files)) {
        QFile file(pages.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            setReply(host, QLatin1Char('/') + name,
                     FakeReply::page(file.readAll(), types.value(QFileInfo(name).suffix(), "text/plain")));
    }
}

bool FakeWeb::listenTarpit(const QHostAddress& address, quint16 port)
{
    connect(&m_tarpit, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_tarpit.nextPendingConnection()) {
            // The client's hello is read and dropped; the connection stays open until the client gives up.
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return m_tarpit.listen(address, port);
}

FakeReply FakeWeb::replyFor(const FakeRequest& request)
{
    FakeRequest routed = request;
    // The leech list client asks with the whole address in the request line.
    if (routed.path.startsWith(QLatin1String("http://")))
        routed.path = QLatin1Char('/') + routed.path.section(QLatin1Char('/'), 3);
    if (routed.host.compare(QLatin1String("tarnix.net"), Qt::CaseInsensitive) == 0)
        routed.host = updateHost;
    routed.path = routed.path.section(QLatin1Char('?'), 0, 0);
    // 50 MB: a table of 400,000 proxies padded with markup, made when first asked for, so the web starts at once.
    if (routed.host == faultyHost && routed.path == QLatin1String("/huge.html")) {
        static QByteArray huge;
        for (const QString& proxy : huge.isEmpty() ? manyProxies(0, 400000) : QStringList())
            huge += "<tr><td>" + proxy.toLatin1() + "</td></tr>" + QByteArray(100, ' ');
        return FakeReply::page(huge);
    }
    if (routed.host == QUrl(judge).host() && routed.path == QUrl(judge).path()) {
        const QByteArray head = request.bytes.left(request.bytes.indexOf("\r\n\r\n") + 2);
        const QByteArray body = judgeMarker.toLatin1() + "\nREMOTE_ADDR = " + request.peer.toLatin1() + "\n" +
                                head.split('\n').mid(1).join('\n');
        return FakeReply::whole("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                                body);
    }
    FakeReply reply = FakeHttpServer::replyFor(routed);
    // The page fetchers send a "Referrer:" line and the link crawler does not: the crawler gets the page at
    // once, a fetcher the reply's first line and then silence, so its fetch is still under way at Stop.
    if (routed.host == slowHost && request.bytes.contains("\r\nReferrer:"))
        return FakeReply::keepOpenAfter(reply.parts.value(0).left(17));
    return reply;
}

QByteArray FakeWeb::replyTo(const QUrl& url)
{
    FakeRequest request;
    request.host = url.host();
    request.path = url.path();
    return replyFor(request).parts.join();
}
