// End-to-end suite: runs inside a private network namespace (see run-e2e.sh) where the fake web answers on
// port 80 for the real host names of the sites, the update server and the geo-IP host.
#include "app/mainwindow.h"
#include "app/util/externalhosts.h"
#include "leech/leechlist.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"

#include <QAction>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Changes a behaviour of the fake web, e.g. "lookup=current".
bool controlFakeWeb(const QString& setting)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("www.tarnix.net"), 80);
    if (!socket.waitForConnected(3000))
        return false;
    socket.write("GET /__control?" + setting.toLatin1() + " HTTP/1.0\r\nHost: www.tarnix.net\r\n\r\n");
    while (socket.waitForReadyRead(3000))
        if (socket.readAll().contains("OK"))
            return true;
    return false;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leechList_downloadedAtStart();
    void updates_newerVersion_data();
    void updates_newerVersion();
    void updates_current();
};

void EndToEndTest::init()
{
    QVERIFY(controlFakeWeb(QStringLiteral("lookup=newer&geo=up")));
}

void EndToEndTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
}

void EndToEndTest::leechList_downloadedAtStart()
{
    CLeechList client;
    QVERIFY(client.urlList().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!client.urlList().isEmpty(), 10000);
    const QStringList lines = client.urlList();
    QCOMPARE(lines.first(), QStringLiteral("HTTP/1.0 200 OK\r"));
    QVERIFY(lines.contains(QStringLiteral("http://www.proxyfeed.com/index.html")));
    QVERIFY(lines.contains(QStringLiteral("http://www.proxy-listen.de/liste.html")));
    QVERIFY(!lines.contains(QString()));
}

void EndToEndTest::updates_newerVersion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("pagesOpened");
    QTest::newRow("yes opens the download page") << QMessageBox::Yes << 1;
    QTest::newRow("no opens nothing") << QMessageBox::No << 0;
}

void EndToEndTest::updates_newerVersion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, pagesOpened);
    TestHome home;
    DesktopCapture desktop;
    DialogAnswerer dialogs;
    dialogs.pressButton(answer);
    MainWindow window;
    window.findChild<QAction*>(QStringLiteral("action_Updates"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.count(), 1, 10000);
    const DialogRecord box = dialogs.last();
    QCOMPARE(box.title, QStringLiteral("Sievra v1.03"));
    QCOMPARE(box.text, QStringLiteral("Version 1.10 is available"));
    QCOMPARE(box.informativeText, QStringLiteral("Download now?"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
    QCOMPARE(desktop.urls().size(), pagesOpened);
    if (pagesOpened)
        QCOMPARE(desktop.urls().first(), QUrl(ExternalHosts::downloadPage));
}

void EndToEndTest::updates_current()
{
    QVERIFY(controlFakeWeb(QStringLiteral("lookup=current")));
    TestHome home;
    DesktopCapture desktop;
    DialogAnswerer dialogs;
    MainWindow window;
    window.findChild<QAction*>(QStringLiteral("action_Updates"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.count(), 1, 10000);
    QCOMPARE(dialogs.last().text, QStringLiteral("You're using the latest version at this time."));
    QCOMPARE(dialogs.last().icon, QMessageBox::Question);
    QVERIFY(dialogs.last().hasWindowIcon);
    QVERIFY(desktop.urls().isEmpty());
}

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
