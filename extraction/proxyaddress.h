#pragma once

#include <QString>

// The four dotted parts of one proxy address, kept as the text found (leading zeros included).
class CProxyAddress
{
public:
    CProxyAddress() = default;

    void setAddress(const QString& address);

    QString octet1() const { return m_octet1; }
    QString octet2() const { return m_octet2; }
    QString octet3() const { return m_octet3; }
    QString octet4() const { return m_octet4; }

    bool isClassA() const;
    bool isClassB() const;
    bool isClassC() const;
    bool isClassD() const;
    bool isClassE() const;
    QString ipClass() const;
    QString ipBinary() const;

private:
    static QString toBinary(int value);
    static QString padToOctet(const QString& digits);

    QString m_octet1;
    QString m_octet2;
    QString m_octet3;
    QString m_octet4;
};

// One output line from the user's template: A address, P port, B binary form, C class, T tab.
QString formatProxyLine(const QString& format, const QString& address, const QString& port,
                        const CProxyAddress& record);
