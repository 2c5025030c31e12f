#include "extraction/linetemplate.h"
#include "extraction/proxyaddress.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

CProxyAddress recordFor(const QString& address)
{
    CProxyAddress record;
    record.setAddress(address);
    return record;
}

QStringList partsOf(const CProxyAddress& record)
{
    return {record.octet1(), record.octet2(), record.octet3(), record.octet4()};
}

} // namespace

class ProxyAddressTest : public QObject
{
    Q_OBJECT

private slots:
    void newRecord_hasFourEmptyPartsAndNoNumbers();
    void setAddress_data();
    void setAddress();
    void setAddress_keepsEarlierPartsWhenNotFourPieces();
    void classes_data();
    void classes();
    void binary_data();
    void binary();
    void formatProxyLine_data();
    void formatProxyLine();
};

void ProxyAddressTest::newRecord_hasFourEmptyPartsAndNoNumbers()
{
    const CProxyAddress record;
    QCOMPARE(partsOf(record), QStringList({"", "", "", ""}));
    QCOMPARE(record.ipClass(), QStringLiteral("E"));
    QCOMPARE(record.ipBinary(), QStringLiteral("NA"));
}

void ProxyAddressTest::setAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("plain") << "66.24.3.180" << QStringList{"66", "24", "3", "180"};
    QTest::newRow("leading zeros kept") << "010.001.002.003" << QStringList{"010", "001", "002", "003"};
    QTest::newRow("empty pieces skipped") << "1..2.3.4" << QStringList{"1", "2", "3", "4"};
    QTest::newRow("dots at both ends skipped") << ".1.2.3.4." << QStringList{"1", "2", "3", "4"};
    QTest::newRow("blanks round the dots trimmed") << " 1 . 2 .3.4" << QStringList{"1", "2", "3", "4"};
    QTest::newRow("tab and line break trimmed") << "\t1.2.3.4\n" << QStringList{"1", "2", "3", "4"};
    QTest::newRow("inner blank kept") << "1 2.3.4.5" << QStringList{"1 2", "3", "4", "5"};
    QTest::newRow("not numbers stored as given") << "x.y.z.w" << QStringList{"x", "y", "z", "w"};
    QTest::newRow("blank piece counts and trims to empty") << "1. .3.4" << QStringList{"1", "", "3", "4"};
}

void ProxyAddressTest::setAddress()
{
    QFETCH(QString, address);
    QFETCH(QStringList, parts);
    QCOMPARE(partsOf(recordFor(address)), parts);
}

void ProxyAddressTest::setAddress_keepsEarlierPartsWhenNotFourPieces()
{
    const QStringList earlier{"9", "8", "7", "6"};
    const QString refused[] = {"1.2.3", "1.2.3.4.5", "", "....", "1234"};
    for (const QString& address : refused) {
        CProxyAddress record = recordFor(QStringLiteral("9.8.7.6"));
        record.setAddress(address);
        QVERIFY2(partsOf(record) == earlier, qPrintable(address));
    }
}

void ProxyAddressTest::classes_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("letter");
    QTest::newRow("0") << "0"
                       << "A";
    QTest::newRow("000") << "000"
                         << "A";
    QTest::newRow("010 is ten") << "010"
                                << "A";
    QTest::newRow("127") << "127"
                         << "A";
    QTest::newRow("128") << "128"
                         << "B";
    QTest::newRow("191") << "191"
                         << "B";
    QTest::newRow("192") << "192"
                         << "C";
    QTest::newRow("223") << "223"
                         << "C";
    QTest::newRow("224") << "224"
                         << "D";
    QTest::newRow("239") << "239"
                         << "D";
    QTest::newRow("240") << "240"
                         << "E";
    QTest::newRow("255") << "255"
                         << "E";
    QTest::newRow("256") << "256"
                         << "E";
    QTest::newRow("999") << "999"
                         << "E";
    QTest::newRow("negative counts as A") << "-5"
                                          << "A";
    QTest::newRow("not a number") << "x"
                                  << "E";
    QTest::newRow("hex is not a number") << "0x10"
                                         << "E";
    QTest::newRow("empty") << ""
                           << "E";
}

void ProxyAddressTest::classes()
{
    QFETCH(QString, first);
    QFETCH(QString, letter);
    CProxyAddress record;
    record.setAddress(first + QStringLiteral(".1.1.1"));
    // An empty first part cannot come through setAddress; a fresh record has one.
    if (first.isEmpty())
        record = CProxyAddress();

    QCOMPARE(record.ipClass(), letter);
    // Exactly one class test holds for a number; none for text that is not one.
    const bool tests[] = {record.isClassA(), record.isClassB(), record.isClassC(), record.isClassD(),
                          record.isClassE()};
    const QString letters = QStringLiteral("ABCDE");
    bool isNumber = false;
    first.toInt(&isNumber, 10);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(tests[i], isNumber && letters.at(i) == letter.at(0));
}

void ProxyAddressTest::binary_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("binary");
    QTest::newRow("192.168.0.1") << "192.168.0.1"
                                 << "11000000 10101000 00000000 00000001";
    QTest::newRow("all zero") << "0.0.0.0"
                              << "00000000 00000000 00000000 00000000";
    QTest::newRow("all one") << "1.1.1.1"
                             << "00000001 00000001 00000001 00000001";
    QTest::newRow("255 fills eight digits") << "255.254.128.127"
                                            << "11111111 11111110 10000000 01111111";
    QTest::newRow("256 is nine digits, not cut") << "256.2.3.4"
                                                 << "100000000 00000010 00000011 00000100";
    QTest::newRow("999 is ten digits") << "999.1.1.1"
                                       << "1111100111 00000001 00000001 00000001";
    QTest::newRow("010 is ten, not eight") << "010.001.000.007"
                                           << "00001010 00000001 00000000 00000111";
    QTest::newRow("66.24.3.180") << "66.24.3.180"
                                 << "01000010 00011000 00000011 10110100";
    QTest::newRow("last part not a number") << "1.2.3.x"
                                            << "NA";
    QTest::newRow("middle part not a number") << "1.2a.3.4"
                                              << "NA";
    QTest::newRow("blank inside a part") << "1.2 3.4.5"
                                         << "NA";
}

void ProxyAddressTest::binary()
{
    QFETCH(QString, address);
    QFETCH(QString, binary);
    QCOMPARE(recordFor(address).ipBinary(), binary);
}

void ProxyAddressTest::formatProxyLine_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("line");
    const QString a = QStringLiteral("66.24.3.180");
    const QString p = QStringLiteral("8080");
    QTest::newRow("default") << "A:P" << a << p << "66.24.3.180:8080";
    QTest::newRow("tab between") << "ATP" << a << p << "66.24.3.180\t8080";
    QTest::newRow("class and binary") << "A:P C B" << a << p
                                      << "66.24.3.180:8080 A 01000010 00011000 00000011 10110100";
    QTest::newRow("P of a word is a placeholder") << "Proxy A" << a << p << "8080roxy 66.24.3.180";
    QTest::newRow("every letter of a word") << "CAPTAIN" << a << p << "A66.24.3.1808080\t66.24.3.180IN";
    QTest::newRow("empty template") << "" << a << p << "";
    QTest::newRow("only T") << "T" << a << p << "\t";
    QTest::newRow("lower case letters stay") << "a:p b c t" << a << p << "a:p b c t";
    QTest::newRow("leading zeros kept") << "A:P"
                                        << "001.002.003.004"
                                        << "00080"
                                        << "001.002.003.004:00080";
    QTest::newRow("repeated placeholders") << "AA PP"
                                           << "1.2.3.4"
                                           << "80"
                                           << "1.2.3.41.2.3.4 8080";
    QTest::newRow("no placeholders") << "proxy;" << a << p << "proxy;";
    // What one step puts in is seen by the later steps, never by the same one.
    QTest::newRow("address seen by later steps") << "A"
                                                 << "P-B-C-T"
                                                 << "80"
                                                 << "80-NA-E-\t";
    QTest::newRow("port not seen by the address step") << "P" << a << "A"
                                                       << "A";
    QTest::newRow("class of a non-number") << "C"
                                           << "x.1.1.1"
                                           << "80"
                                           << "E";
    QTest::newRow("widest groups") << "CTBTA:P"
                                   << "999.256.007.0"
                                   << "99999"
                                   << "E\t1111100111 100000000 00000111 00000000\t999.256.007.0:99999";
    QTest::newRow("beyond Latin-1") << QString::fromUtf8("A \u20ac \U0001F600 \u00e9") << a << p
                                    << QString::fromUtf8("66.24.3.180 \u20ac \U0001F600 \u00e9");
}

void ProxyAddressTest::formatProxyLine()
{
    QFETCH(QString, format);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, line);
    QCOMPARE(::formatProxyLine(format, address, port, recordFor(address)), line);

    // The extraction's compiled template gives the same bytes for every address it can find.
    if (!QRegularExpression(QRegularExpression::anchoredPattern("[0-9]{1,3}(\\.[0-9]{1,3}){3}"))
             .match(address)
             .hasMatch())
        return;
    QByteArray compiled;
    const QByteArray addressBytes = address.toLatin1();
    const QByteArray portBytes = port.toLatin1();
    LineTemplate(format).appendLine(compiled, addressBytes.constData(), int(addressBytes.size()), portBytes.constData(),
                                    int(portBytes.size()));
    QCOMPARE(compiled, line.toLatin1());
}

QTEST_APPLESS_MAIN(ProxyAddressTest)
#include "tst_proxyaddress.moc"
