#include "util/externalhosts.h"
#include "util/httpport.h"
#include "leech/leechlist.h"
#include "qtlib/updatesys/updatequery.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/fakehttpserver.h"
#include "windows/iptocountry.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using TXL::QtLib::UpdateSys::CUpdateQuery;

namespace {
const QByteArray leechListRequest = "GET http://www.tarnix.net/4/proxyUrlList.txt HTTP/1.0\r\n"
                                    "Host: www.tarnix.net\r\n"
                                    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/535.1 (KHTML, like "
                                    "Gecko) Chrome/13.0.782.112 Safari/535.1\r\n"
                                    "Connection: close\r\n\r\n";
const QByteArray lookupRequest =
    "GET /lookup.php?id=4&vn=103 HTTP/1.0\r\nHost: tarnix.net\r\nConnection: close\r\n\r\n";
const QString placeholder = QStringLiteral("... ... ... ... ... ... ... ...");
} // namespace

class OnlineServicesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leechList_linesOfTheWholeReply_data();
    void leechList_linesOfTheWholeReply();
    void leechList_emptyUntilTheServerCloses();
    void leechList_unreachableServer_leavesListEmpty();
    void update_reply_data();
    void update_reply();
    void update_yesOpensDownloadPage();
    void update_givenUpWhileWaiting_data();
    void update_givenUpWhileWaiting();
    void country_cutFromPage_data();
    void country_cutFromPage();
    void country_addressTest_data();
    void country_addressTest();
    void country_serverDown_saysSo();
    void country_secondQuery_showsSecondReply();

private:
    QLabel* countryLabel(IPToCountry& window) { return window.findChild<QLabel*>(QStringLiteral("lblCountry")); }
    void query(IPToCountry& window, const QString& address);

    FakeHttpServer* m_server = nullptr;
};

void OnlineServicesTest::init()
{
    m_server = new FakeHttpServer(this);
    QVERIFY(m_server->listen());
    HttpPort::setConnectHostForTests(QStringLiteral("127.0.0.1"));
    HttpPort::setPortForTests(m_server->port());
}

void OnlineServicesTest::cleanup()
{
    DialogAnswerer::closeLeftoverModals();
    delete m_server;
    m_server = nullptr;
    HttpPort::setConnectHostForTests(QString());
    HttpPort::setPortForTests(80);
}

void OnlineServicesTest::leechList_linesOfTheWholeReply_data()
{
    QTest::addColumn<QList<QByteArray>>("parts");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("status, headers, empty line, two urls")
        << QList<QByteArray>{"HTTP/1.0 200 OK\nServer: x\nContent-Type: text/plain\nConnection: close\n\n"
                             "http://www.a.com/1\nhttp://www.b.com/2\n"}
        << QStringList{"HTTP/1.0 200 OK",   "Server: x",          "Content-Type: text/plain",
                       "Connection: close", "http://www.a.com/1", "http://www.b.com/2"};
    QTest::newRow("CR kept at line ends") << QList<QByteArray>{"HTTP/1.0 200 OK\r\n\r\nwww.a.com\r\nwww.b.com"}
                                          << QStringList{"HTTP/1.0 200 OK\r", "\r", "www.a.com\r", "www.b.com"};
    QTest::newRow("NUL drops the rest of its read only")
        << QList<QByteArray>{QByteArray("www.a.com\nwww.b", 15) + QByteArray("\0lost\nlost\n", 11), "\nwww.c.com\n"}
        << QStringList{"www.a.com", "www.b", "www.c.com"};
    QTest::newRow("line split across reads")
        << QList<QByteArray>{"www.exa", "mple.com\nwww.b.com"} << QStringList{"www.example.com", "www.b.com"};
    QTest::newRow("nothing sent") << QList<QByteArray>{} << QStringList{};
}

void OnlineServicesTest::leechList_linesOfTheWholeReply()
{
    QFETCH(QList<QByteArray>, parts);
    QFETCH(QStringList, lines);
    m_server->setDefaultReply(parts.isEmpty() ? FakeReply::closeWithoutSending() : FakeReply::inParts(parts, 60));
    CLeechList client;
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTRY_VERIFY(m_server->requests().first().complete);
    QCOMPARE(m_server->requests().first().bytes, leechListRequest);
    QTRY_COMPARE(m_server->openConnections(), 0);
    QTRY_COMPARE(client.urlList(), lines);
}

void OnlineServicesTest::leechList_emptyUntilTheServerCloses()
{
    m_server->setDefaultReply(FakeReply::keepOpenAfter("HTTP/1.0 200 OK\n\nwww.a.com\nwww.b.com\n"));
    CLeechList client;
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTest::qWait(200);
    QVERIFY(client.urlList().isEmpty());
}

void OnlineServicesTest::leechList_unreachableServer_leavesListEmpty()
{
    HttpPort::setPortForTests(FakeHttpServer::unusedPort());
    CLeechList client;
    QTest::qWait(200);
    QVERIFY(client.urlList().isEmpty());
}

void OnlineServicesTest::update_reply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("showIfCurrent");
    QTest::addColumn<QString>("text"); // null: no message expected
    QTest::addColumn<QString>("informative");
    const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    const QString latest = QStringLiteral("You're using the latest version at this time.");
    QTest::newRow("newer version") << head + "1.10|http://x" << true << "Version 1.10 is available"
                                   << "Download now?";
    QTest::newRow("newer version, not asked from the menu") << head + "2.0|" << false << "Version 2.0 is available"
                                                            << "Download now?";
    QTest::newRow("text after the bar ignored") << head + "1.05|9.99|\nmore" << true << "Version 1.05 is available"
                                                << "Download now?";
    QTest::newRow("bar in a header counts")
        << QByteArray("HTTP/1.0 200 OK\r\nX-Tag: beta|\r\n\r\nnone") << true << "Version X-Tag: beta is available"
        << "Download now?";
    QTest::newRow("only line ends before the bar") << QByteArray("\n\r\n|1.2") << true << "A new version is available"
                                                   << "Download now?";
    QTest::newRow("only blanks before the bar") << head + "   |" << true << "Version     is available"
                                                << "Download now?";
    QTest::newRow("no bar, asked from the menu") << head + "current" << true << latest << "";
    QTest::newRow("no bar, not asked") << head + "current" << false << QString() << "";
    QTest::newRow("closed without a byte") << QByteArray() << true << latest << "";
}

void OnlineServicesTest::update_reply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, showIfCurrent);
    QFETCH(QString, text);
    QFETCH(QString, informative);
    m_server->setDefaultReply(reply.isEmpty() ? FakeReply::closeWithoutSending() : FakeReply::whole(reply));
    DialogAnswerer dialogs;
    DesktopCapture desktop;
    dialogs.pressButton(QMessageBox::No);
    CUpdateQuery query;
    query.setShowIfCurrent(showIfCurrent);
    query.query(QStringLiteral("4"), QStringLiteral("1.03"));
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTRY_COMPARE(m_server->requests().first().bytes, lookupRequest);
    QTRY_COMPARE(m_server->openConnections(), 0);
    QTest::qWait(100);
    if (text.isNull()) {
        QCOMPARE(dialogs.count(), 0);
        return;
    }
    QTRY_COMPARE(dialogs.count(), 1);
    const DialogRecord box = dialogs.last();
    QCOMPARE(box.text, text);
    QCOMPARE(box.informativeText, informative);
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.title, QStringLiteral("Sievra v1.03"));
    QVERIFY(box.hasWindowIcon);
    if (!informative.isEmpty()) {
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::Yes);
    }
    // No was pressed: nothing is opened.
    QVERIFY(desktop.urls().isEmpty());
}

void OnlineServicesTest::update_yesOpensDownloadPage()
{
    m_server->setDefaultReply(FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n1.10|"));
    DialogAnswerer dialogs;
    DesktopCapture desktop;
    dialogs.pressButton(QMessageBox::Yes);
    CUpdateQuery query;
    query.query(QStringLiteral("4"), QStringLiteral("1.03"));
    QTRY_COMPARE(desktop.urls(), QList<QUrl>{QUrl(ExternalHosts::downloadPage)});
}

void OnlineServicesTest::update_givenUpWhileWaiting_data()
{
    QTest::addColumn<QByteArray>("sentBeforeStall");
    QTest::addColumn<bool>("askAgain"); // false: the client goes, as at exit
    QTest::addColumn<QStringList>("texts");
    const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
    QTest::newRow("exit, nothing sent") << QByteArray() << false << QStringList();
    QTest::newRow("exit, status and header sent") << head << false << QStringList();
    QTest::newRow("asked again, nothing sent") << QByteArray() << true << QStringList{"Version 1.20 is available"};
    QTest::newRow("asked again, header sent") << head << true << QStringList{"Version 1.20 is available"};
}

void OnlineServicesTest::update_givenUpWhileWaiting()
{
    QFETCH(QByteArray, sentBeforeStall);
    QFETCH(bool, askAgain);
    QFETCH(QStringList, texts);
    m_server->setDefaultReply(FakeReply::keepOpenAfter(sentBeforeStall));
    DialogAnswerer dialogs;
    DesktopCapture desktop;
    dialogs.pressButton(QMessageBox::No);
    auto* query = new CUpdateQuery;
    query->setShowIfCurrent(true);
    query->query(QStringLiteral("4"), QStringLiteral("1.03"));
    QTRY_VERIFY(m_server->requests().value(0).complete);
    QTest::qWait(100); // lets the stalled reply's first bytes in
    if (askAgain) {
        m_server->setDefaultReply(FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n1.20|"));
        query->query(QStringLiteral("4"), QStringLiteral("1.03"));
        QTRY_COMPARE(m_server->requests().size(), 2);
    } else {
        delete query;
        query = nullptr;
    }
    QTRY_COMPARE(m_server->openConnections(), 0);
    QTRY_COMPARE(dialogs.count(), texts.size());
    QTest::qWait(100); // a late box would still be counted
    QStringList shown;
    for (const DialogRecord& box : dialogs.records())
        shown << box.text;
    QCOMPARE(shown, texts);
    delete query;
}

void OnlineServicesTest::query(IPToCountry& window, const QString& address)
{
    window.findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(address);
    window.findChild<QPushButton*>(QStringLiteral("btnQuery"))->click();
}

void OnlineServicesTest::country_cutFromPage_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("country");
    const QByteArray head = "HTTP/1.0 200 OK\r\n\r\n";
    QTest::newRow("blanks around the name") << head + "<td><a href='/c'>  United States </a> <img src='/flags/us.gif'>"
                                            << "United States";
    QTest::newRow("first of two markers") << head + "<a>Germany</a> <img src='/flags/de.gif'><a>France</a> <img "
                                                    "src='/flags/fr.gif'>"
                                          << "Germany";
    QTest::newRow("no marker") << head + "<a>Germany</a><img src=\"/flags/de.gif\">"
                               << "";
    QTest::newRow("double quotes are not the marker") << head + "<a>Spain</a> <img src=\"/flags/es.gif\">"
                                                      << "";
    QTest::newRow("no tag before the marker") << QByteArray("Italy</a> <img src='/flags/it.gif'>") << "";
    QTest::newRow("nested markup") << head + "<b><a href='x'>\n\tJapan\n</a> <img src='/flags/jp.gif'></b>"
                                   << "Japan";
}

void OnlineServicesTest::country_cutFromPage()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, country);
    m_server->setDefaultReply(FakeReply::whole(page));
    IPToCountry window;
    query(window, QStringLiteral("81.169.145.1"));
    QTRY_COMPARE(m_server->openConnections(), 0);
    QTRY_COMPARE(countryLabel(window)->text(), country);
    const QByteArray request = m_server->requests().first().bytes;
    QVERIFY(request.startsWith("GET /en/?IP=81.169.145.1 HTTP/1.0\r\nHost: www.geoiptool.com\r\n"));
    QVERIFY(!request.contains("Referrer") && !request.contains("Cookie"));

    // Typing puts the placeholder back.
    window.findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(QStringLiteral("8"));
    QCOMPARE(countryLabel(window)->text(), placeholder);
}

void OnlineServicesTest::country_addressTest_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("message"); // null: none
    const QString bad = QStringLiteral("Please provide a legitimate IP address.");
    QTest::newRow("group above 255 is sent") << "300.1.1.1" << true << QString();
    QTest::newRow("three groups") << "1.2.3" << false << bad;
    QTest::newRow("leading blank") << " 1.2.3.4" << false << bad;
    QTest::newRow("four-digit group") << "1.2.3.1000" << false << bad;
    QTest::newRow("host name") << "www.example.com" << false << bad;
    QTest::newRow("empty") << "" << false << QString();
}

void OnlineServicesTest::country_addressTest()
{
    QFETCH(QString, address);
    QFETCH(bool, sent);
    QFETCH(QString, message);
    m_server->setDefaultReply(FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n<a>X</a> <img src='/flags/x.gif'>"));
    DialogAnswerer dialogs;
    IPToCountry window;
    query(window, address);
    if (sent)
        QTRY_COMPARE(m_server->requests().size(), 1);
    QTest::qWait(150);
    QCOMPARE(m_server->requests().size(), sent ? 1 : 0);
    if (message.isNull()) {
        QCOMPARE(dialogs.count(), 0);
    } else {
        QCOMPARE(dialogs.count(), 1);
        QCOMPARE(dialogs.last().title, QStringLiteral("IP To Country"));
        QCOMPARE(dialogs.last().text, message);
        QCOMPARE(dialogs.last().icon, QMessageBox::Information);
    }
}

void OnlineServicesTest::country_serverDown_saysSo()
{
    HttpPort::setPortForTests(FakeHttpServer::unusedPort());
    DialogAnswerer dialogs;
    IPToCountry window;
    query(window, QStringLiteral("8.8.8.8"));
    QTRY_COMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.last().title, QStringLiteral("IP To Country"));
    QCOMPARE(dialogs.last().text, QStringLiteral("Remote server down or timeout, please try again later"));
    QCOMPARE(dialogs.last().icon, QMessageBox::Information);
    QCOMPARE(countryLabel(window)->text(), placeholder);
}

void OnlineServicesTest::country_secondQuery_showsSecondReply()
{
    m_server->setReply(QStringLiteral("/en/?IP=1.1.1.1"),
                       FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n<a>Australia</a> <img src='/flags/au.gif'>"));
    m_server->setReply(QStringLiteral("/en/?IP=2.2.2.2"),
                       FakeReply::whole("HTTP/1.0 200 OK\r\n\r\n<a>France</a> <img src='/flags/fr.gif'>"));
    IPToCountry window;
    query(window, QStringLiteral("1.1.1.1"));
    QTRY_COMPARE(countryLabel(window)->text(), QStringLiteral("Australia"));
    QTRY_COMPARE(m_server->openConnections(), 0);
    query(window, QStringLiteral("2.2.2.2"));
    QTRY_COMPARE(countryLabel(window)->text(), QStringLiteral("France"));
}

QTEST_MAIN(OnlineServicesTest)
#include "tst_onlineservices.moc"
