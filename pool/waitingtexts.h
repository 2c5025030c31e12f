#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A harvest's page waits in the pool as the texts of its proxies, one a line. Most are "a.b.c.d:port" as the
// extraction writes them, 19 bytes on average: kept as the four bytes of the address and two of the port, they take
// 7, and the log a harvest leaves, the copy of it into the file and the next run's read of it a third of the time.
// Any other line is kept as it is, so that the texts read back are the texts written, byte for byte.
namespace WaitingTexts {

QByteArray packed(QByteArrayView texts);
// The texts `stored` holds: packed, or as texts (the pool's earlier rows), which are given back as they are.
QByteArray unpacked(const QByteArray& stored);

} // namespace WaitingTexts
