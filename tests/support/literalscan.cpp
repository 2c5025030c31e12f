#include "tests/support/literalscan.h"

namespace LiteralScan {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Digits from `pos`, at most `most` of them.
int digitRun(const QString& text, int pos, int most)
{
    int count = 0;
    while (count < most && pos + count < text.size() && isDigit(text.at(pos + count)))
        ++count;
    return count;
}

// Every occurrence, left to right, without overlaps: what a replace-all with nothing leaves.
QString removeEvery(const QString& text, const QString& piece)
{
    QString rest;
    int pos = 0;
    while (pos < text.size()) {
        if (text.mid(pos, piece.size()) == piece) {
            pos += piece.size();
        } else {
            rest.append(text.at(pos));
            ++pos;
        }
    }
    return rest;
}

} // namespace

int proxyLengthAt(const QString& text, int start)
{
    // A group followed by a separator cannot give up digits: a shorter group would be followed by a digit.
    int pos = start;
    for (int group = 0; group < 4; ++group) {
        const int digits = digitRun(text, pos, 3);
        const QChar separator = group < 3 ? QLatin1Char('.') : QLatin1Char(':');
        if (digits == 0 || pos + digits >= text.size() || text.at(pos + digits) != separator)
            return 0;
        pos += digits + 1;
    }
    const int port = digitRun(text, pos, 5);
    if (port < 2)
        return 0;
    return pos + port - start;
}

QStringList scanPage(QString page)
{
    QStringList found;
    for (;;) {
        QString proxy;
        for (int start = 0; start < page.size() && proxy.isEmpty(); ++start) {
            const int length = proxyLengthAt(page, start);
            if (length > 0)
                proxy = page.mid(start, length);
        }
        if (proxy.isEmpty())
            return found;
        found.append(proxy);
        page = removeEvery(page, proxy);
    }
}

QByteArray reduceLikeFetcher(const QByteArray& reply)
{
    QByteArray reduced = reply;
    for (char& c : reduced) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == ':'))
            c = '\n';
    }
    return reduced;
}

} // namespace LiteralScan
