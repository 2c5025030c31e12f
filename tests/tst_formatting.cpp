#include "util/formatting.h"
#include "util/textfiles.h"
#include "tests/support/testhome.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class FormattingTest : public QObject
{
    Q_OBJECT

private slots:
    void byteSize_data();
    void byteSize();
    void duration_data();
    void duration();
    void writeThenRead_givesSameText();
    void textHelpers_refuseEmptyAndMissing();
};

void FormattingTest::byteSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint64(0) << "0 bytes";
    QTest::newRow("one") << quint64(1) << "1 bytes";
    QTest::newRow("512") << quint64(512) << "512 bytes";
    QTest::newRow("below kB") << quint64(1023) << "1023 bytes";
    QTest::newRow("one kB") << quint64(1024) << "1.00 kB";
    QTest::newRow("1536") << quint64(1536) << "1.50 kB";
    QTest::newRow("kB rounds up at the edge") << quint64(1048575) << "1024.00 kB";
    QTest::newRow("one MB") << quint64(1048576) << "1.00 MB";
    QTest::newRow("5000000") << quint64(5000000) << "4.77 MB";
    QTest::newRow("below GB") << quint64(1073741823) << "1024.00 MB";
    QTest::newRow("one GB") << quint64(1073741824) << "1.00 GB";
    QTest::newRow("largest 32-bit") << quint64(4294967295u) << "4.00 GB";
    QTest::newRow("one TB") << (quint64(1) << 40) << "1.00 TB";
    QTest::newRow("one PB") << (quint64(1) << 50) << "1.00 PB";
    QTest::newRow("one EB") << (quint64(1) << 60) << "1.00 EB";
    QTest::newRow("largest 64-bit") << quint64(~quint64(0)) << "16.00 EB";
}

void FormattingTest::byteSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(formatByteSize(bytes), text);
}

void FormattingTest::duration_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint32(0) << "";
    QTest::newRow("one second") << quint32(1) << "1s";
    QTest::newRow("59 s") << quint32(59) << "59s";
    QTest::newRow("one minute") << quint32(60) << "1m";
    QTest::newRow("61 s") << quint32(61) << "1m 1s";
    QTest::newRow("below an hour") << quint32(3599) << "59m 59s";
    QTest::newRow("one hour") << quint32(3600) << "1h";
    QTest::newRow("3725") << quint32(3725) << "1h 2m 5s";
    QTest::newRow("below a day") << quint32(86399) << "23h 59m 59s";
    QTest::newRow("one day") << quint32(86400) << "1d";
    QTest::newRow("90061") << quint32(90061) << "1d 1h 1m 1s";
    QTest::newRow("below a week") << quint32(604799) << "6d 23h 59m 59s";
    QTest::newRow("one week") << quint32(604800) << "1w";
    QTest::newRow("two weeks") << quint32(1209600) << "2w";
    QTest::newRow("week and second") << quint32(604801) << "1w 1s";
    QTest::newRow("largest") << quint32(4294967295u) << "7101w 3d 6h 28m 15s";
}

void FormattingTest::duration()
{
    QFETCH(quint32, seconds);
    QFETCH(QString, text);
    QCOMPARE(formatDuration(seconds), text);
}

void FormattingTest::writeThenRead_givesSameText()
{
    TestHome home;
    const QString path = QDir(home.path()).filePath(QStringLiteral("page.dat"));
    QVERIFY(!fileExists(path));
    QVERIFY(writeTextFile(path, QStringLiteral("1.2.3.4:80\n\n5.6.7.8:3128\n")));
    QVERIFY(fileExists(path));
    QCOMPARE(readTextFile(path), QStringLiteral("1.2.3.4:80\n\n5.6.7.8:3128\n"));
    // A second write replaces the content instead of appending to it.
    QVERIFY(writeTextFile(path, QStringLiteral("9")));
    QCOMPARE(readTextFile(path), QStringLiteral("9"));
}

void FormattingTest::textHelpers_refuseEmptyAndMissing()
{
    TestHome home;
    const QString path = QDir(home.path()).filePath(QStringLiteral("x.txt"));
    QVERIFY(!writeTextFile(QString(), QStringLiteral("text")));
    QVERIFY(!writeTextFile(path, QString()));
    QVERIFY(!fileExists(path));
    QVERIFY(!writeTextFile(QDir(home.path()).filePath(QStringLiteral("missing/x.txt")), QStringLiteral("text")));
    QVERIFY(readTextFile(QString()).isEmpty());
    QVERIFY(readTextFile(path).isEmpty());
    // A folder is not a file.
    QVERIFY(!fileExists(home.path()));
}

QTEST_GUILESS_MAIN(FormattingTest)
#include "tst_formatting.moc"
