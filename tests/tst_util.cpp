// The small pieces under everything: which list lines are web URLs.
#include "tests/support/testkit.h"
#include "util/weburl.h"

class UtilTest : public QObject
{
    Q_OBJECT

private slots:
    // Which list lines the command line fetches, and as what.
    void webUrl_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("url"); // empty: the line is skipped

        QTest::newRow("https, port, query kept; blanks and case of the host go")
            << " https://WWW.Example.com:8443/List.php?p=2 \t"
            << "https://www.example.com:8443/List.php?p=2";
        QTest::newRow("IPv4 host") << "http://10.1.2.3/x"
                                   << "http://10.1.2.3/x";
        QTest::newRow("long top-level name, many labels") << "https://a.b.openproxy.space/list/http"
                                                          << "https://a.b.openproxy.space/list/http";
        QTest::newRow("no scheme") << "www.example.com/list.html"
                                   << "";
        QTest::newRow("other scheme") << "ftp://www.example.com/list.txt"
                                      << "";
        QTest::newRow("one label") << "http://localhost/list"
                                   << "";
        QTest::newRow("group over 255") << "http://10.1.2.256/"
                                        << "";
        QTest::newRow("IPv6") << "http://[::1]/"
                              << "";
        QTest::newRow("credentials") << "http://me:pw@www.example.com/"
                                     << "";
        QTest::newRow("port out of range") << "http://www.example.com:65536/"
                                           << "";
        QTest::newRow("port 0") << "http://www.example.com:0/"
                                << "";
    }

    void webUrl()
    {
        QFETCH(QString, line);
        QFETCH(QString, url);
        QCOMPARE(WebUrl::fromText(line).toString(), url);
    }
};

QTEST_MAIN(UtilTest)
#include "tst_util.moc"
