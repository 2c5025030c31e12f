#pragma once

#include "tests/support/fakehttpserver.h"

#include <QStringList>
#include <QUrl>

// The fake web of the end-to-end suite: answers HTTP/1.0 requests by host name and path, from a folder of
// sites (<root>/<host>/<path>) and a few hosts with behaviour of their own:
//   update server   /4/proxyUrlList.txt from its folder, /lookup.php with nothing newer
//   slow host       /stall.html: to a page fetcher, part of a page and never a close
//   faulty host     /silent.html never answers, /drip.html sends a byte a second, /reset.html resets the
//                   connection in the headers, /huge.html is 50 MB of manyProxies(0, 400000), /binary.html holds
//                   every byte value, /many.html holds manyProxies(500000, 20000), /endless.html sends
//                   endlessHead, then the lines of manyProxies(700000, 1000) over and over and never ends,
//                   /endless-text.html likewise with words and no proxy
//   proxy judge     /judge echoes the request: the marker, "REMOTE_ADDR = <address>", then the head's lines
//   TLS tarpit      once listenTarpit() is called: takes connections and never sends a byte, so a TLS
//                   handshake stalls
class FakeWeb : public FakeHttpServer
{
    Q_OBJECT

public:
    explicit FakeWeb(const QString& siteRoot);

    bool listenTarpit(const QHostAddress& address, quint16 port);
    // Serves the files of the folder as the host's pages, by their names.
    void servePages(const QString& host, const QString& folder);
    QString tarpitErrorText() const { return m_tarpit.errorString(); }

    // The whole reply to a request for the URL without a "Referrer: " line, as the link crawler sends it.
    QByteArray replyTo(const QUrl& url);

    static inline const QString judge = QStringLiteral("http://www.proxyjudge.com/judge");
    static inline const QString judgeMarker = QStringLiteral("PROXY-JUDGE");
    // The endless page's head and a few bytes of its own, so that the 64 MB limit cuts a port in two
    // ("...7:41|104").
    static inline const QByteArray endlessHead = FakeReply::page("<pre>\n\n\n\n").parts.first();

protected:
    FakeReply replyFor(const FakeRequest& request) override;

private:
    void serveSites(const QString& siteRoot);
    void serveFaultyHost();

    // Not a child of the web, so that its connections are not counted in openConnections().
    QTcpServer m_tarpit;
};
