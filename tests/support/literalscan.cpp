#include "tests/support/literalscan.h"

#include <QRegularExpression>

namespace LiteralScan {

QStringList scanPage(QString page)
{
    // The regular expression's match is leftmost, and greedy in every group and the port.
    static const QRegularExpression proxy(
        QStringLiteral("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}:[0-9]{2,5}"));
    QStringList found;
    for (QRegularExpressionMatch match = proxy.match(page); match.hasMatch(); match = proxy.match(page)) {
        found.append(match.captured());
        // A replace-all: every occurrence, left to right, without overlaps.
        page.remove(match.captured());
    }
    return found;
}

QByteArray reduceLikeFetcher(QByteArray reply)
{
    for (char& c : reply) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == ':'))
            c = '\n';
    }
    return reply;
}

} // namespace LiteralScan
