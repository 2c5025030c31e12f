#include "extraction/proxyaddress.h"

// Filled in with the extraction work.

void CProxyAddress::setAddress(const QString&) {}

bool CProxyAddress::isClassA() const { return false; }

bool CProxyAddress::isClassB() const { return false; }

bool CProxyAddress::isClassC() const { return false; }

bool CProxyAddress::isClassD() const { return false; }

bool CProxyAddress::isClassE() const { return false; }

QString CProxyAddress::ipClass() const { return QString(); }

QString CProxyAddress::ipBinary() const { return QString(); }

QString CProxyAddress::toBinary(int) { return QString(); }

QString CProxyAddress::padToOctet(const QString& digits) { return digits; }

QString formatProxyLine(const QString&, const QString&, const QString&, const CProxyAddress&)
{
    return QString();
}
