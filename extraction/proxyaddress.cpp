#include "extraction/proxyaddress.h"

#include <QStringList>

namespace {

// Parts are read as decimal at the moment they are asked about, so 010 is ten.
bool parsePart(const QString& part, int& value)
{
    bool ok = false;
    value = part.toInt(&ok, 10);
    return ok;
}

} // namespace

void CProxyAddress::setAddress(const QString& address)
{
    const QStringList pieces = address.split(QLatin1Char('.'), Qt::SkipEmptyParts, Qt::CaseSensitive);
    // Anything but four pieces is not an address; the record keeps what it had.
    if (pieces.size() != 4)
        return;
    m_octet1 = pieces.at(0).trimmed();
    m_octet2 = pieces.at(1).trimmed();
    m_octet3 = pieces.at(2).trimmed();
    m_octet4 = pieces.at(3).trimmed();
}

bool CProxyAddress::isClassA() const
{
    int value = 0;
    return parsePart(m_octet1, value) && value <= 127;
}

bool CProxyAddress::isClassB() const
{
    int value = 0;
    return parsePart(m_octet1, value) && value >= 128 && value <= 191;
}

bool CProxyAddress::isClassC() const
{
    int value = 0;
    return parsePart(m_octet1, value) && value >= 192 && value <= 223;
}

bool CProxyAddress::isClassD() const
{
    int value = 0;
    return parsePart(m_octet1, value) && value >= 224 && value <= 239;
}

bool CProxyAddress::isClassE() const
{
    int value = 0;
    return parsePart(m_octet1, value) && value >= 240;
}

QString CProxyAddress::ipClass() const
{
    if (isClassA())
        return QStringLiteral("A");
    if (isClassB())
        return QStringLiteral("B");
    if (isClassC())
        return QStringLiteral("C");
    if (isClassD())
        return QStringLiteral("D");
    return QStringLiteral("E");
}

QString CProxyAddress::ipBinary() const
{
    const QString parts[] = {m_octet1, m_octet2, m_octet3, m_octet4};
    QStringList padded;
    for (const QString& part : parts) {
        int value = 0;
        if (!parsePart(part, value))
            return QStringLiteral("NA");
        padded.append(padToOctet(toBinary(value)));
    }
    return padded.join(QLatin1Char(' '));
}

QString CProxyAddress::toBinary(int value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (value == 1)
        return QStringLiteral("1");
    // Integer division truncates toward zero, so even a negative part ends at 0 and the digits stop.
    return toBinary(value / 2) + (value % 2 != 0 ? QLatin1Char('1') : QLatin1Char('0'));
}

QString CProxyAddress::padToOctet(const QString& digits)
{
    // Longer strings (256 to 999) stay whole rather than being cut to eight digits.
    QString result = digits;
    while (result.size() < 8)
        result.prepend(QLatin1Char('0'));
    return result;
}

QString formatProxyLine(const QString& format, const QString& address, const QString& port, const CProxyAddress& record)
{
    // One replace-all per letter, in this order: what a step puts in is seen by the later steps only.
    QString line = format;
    line.replace(QStringLiteral("A"), address, Qt::CaseSensitive);
    line.replace(QStringLiteral("P"), port, Qt::CaseSensitive);
    line.replace(QStringLiteral("B"), record.ipBinary(), Qt::CaseSensitive);
    line.replace(QStringLiteral("C"), record.ipClass(), Qt::CaseSensitive);
    line.replace(QStringLiteral("T"), QStringLiteral("\t"), Qt::CaseSensitive);
    return line;
}
