// A harvest run by the engine library alone, linked with Qt Core and Network only: if a widget or a message box
// creeps into the engine, this program no longer links, and if a Gui library is loaded all the same, it fails.
// One page on a loopback server, one output file, compared line by line. Exit status 0 when all holds.

#include "harvest/harvestengine.h"
#include "settings/config.h"
#include "settings/userfolders.h"
#include "util/httpport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

int failed(const QString& what)
{
    std::fprintf(stderr, "harvest_without_widgets: %s\n", qPrintable(what));
    return 1;
}

// Serves one page to every request, whole, then closes.
void servePage(QTcpServer& server, const QByteArray& reply)
{
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server, reply] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            QObject::connect(client, &QTcpSocket::readyRead, client, [client, reply] {
                if (!client->readAll().contains("\r\n\r\n"))
                    return;
                client->write(reply);
                client->disconnectFromHost();
            });
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}

bool loadsGuiLibrary()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const QByteArray loaded = maps.readAll();
    return loaded.contains("libQt6Gui") || loaded.contains("libQt6Widgets");
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    if (loadsGuiLibrary())
        return failed(QStringLiteral("a Qt Gui or Widgets library is loaded"));

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return failed(QStringLiteral("no loopback port: ") + server.errorString());
    servePage(server, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>10.0.0.2:3128</p>\n<p>10.0.0.1:8080</p>\n");
    HttpPort::setPortForTests(server.serverPort());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));

    if (!UserFolders::makeUserFolders().isEmpty())
        return failed(QStringLiteral("cannot make the user folders"));
    int status = 0;
    {
        CConfig config;
        config.setSaveOnExit(false);
        config.setOutputFormat(QStringLiteral("P A"));
        CHarvestEngine engine(&config);
        if (engine.runFolderFailures() != 0)
            return failed(QStringLiteral("cannot make the run folder"));
        engine.setUrls({QStringLiteral("http://www.example.com/proxies.html")});
        QObject::connect(&engine, &CHarvestEngine::extractionFinished, &app, &QCoreApplication::quit);
        QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(2); });
        engine.start(CHarvestEngine::SingleCrawl);
        status = QCoreApplication::exec();
    }
    if (status != 0)
        return failed(QStringLiteral("the harvest did not end within a minute"));

    const QDir output(UserFolders::outputFolder());
    const QStringList files = output.entryList(QDir::Files);
    if (files.size() != 1 || !files.first().startsWith(QStringLiteral("2-")))
        return failed(QStringLiteral("expected one output file of 2 lines, found: ") +
                      files.join(QStringLiteral(", ")));
    QFile file(output.filePath(files.first()));
    if (!file.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("cannot read ") + file.fileName());
    const QByteArray lines = file.readAll();
    if (lines != "3128 10.0.0.2\r\n8080 10.0.0.1\r\n")
        return failed(QStringLiteral("unexpected lines: ") + QString::fromLatin1(lines));
    std::printf("harvest_without_widgets: one page harvested by the engine alone\n");
    return 0;
}
