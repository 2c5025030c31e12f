#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// The fake web of the end-to-end suite: answers HTTP/1.0 requests by host name and path, from a folder of
// sites (<root>/<host>/<path>) and a few hosts with behaviour of their own:
//   update server   /4/proxyUrlList.txt from its folder, /lookup.php with or without a newer version
//   geo-IP host     /en/?IP=<address>, a country page; served on its own address so it can go down
//   slow host       /stall.html: to a page fetcher, part of a page and never a close
//   faulty host     /silent.html never answers, /drip.html sends a byte a second, /reset.html resets the
//                   connection in the headers, /huge.html is 50 MB, /binary.html holds every byte value,
//                   /many.html holds 20,000 proxies
// GET /__control?<key>=<value> on any host changes that behaviour while the suite runs:
//   lookup=newer|current, geo=down|up.
class FakeWeb : public QObject
{
    Q_OBJECT

public:
    explicit FakeWeb(const QString& siteRoot, QObject* parent = nullptr);

    // Listens on port 80 (or the given port) of the main address and of the geo-IP address.
    bool listen(const QHostAddress& main, const QHostAddress& geo, quint16 port);

    // The bodies of the faulty host's pages, for the suite to know what they hold.
    static QByteArray faultyBody(const QString& path);
    static QStringList manyProxies(int first, int count);
    QString errorText() const { return m_error; }

private:
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QString& host, const QString& target);
    QByteArray updateServerReply(const QString& path) const;
    QByteArray geoReply(const QString& query) const;
    QByteArray siteReply(const QString& host, const QString& path) const;
    QByteArray control(const QString& query);
    bool answerFaulty(QTcpSocket* socket, const QString& path);

    QString m_siteRoot;
    QTcpServer m_main;
    QTcpServer m_geo;
    QHostAddress m_geoAddress;
    quint16 m_port = 80;
    bool m_newerVersion = true;
    QList<QTcpSocket*> m_stalled;
    QString m_error;
};
