#include "qtlib/web/httpreply.h"

#include <QList>

namespace {

// "HTTP/1.1 301 Moved" gives 301; anything else 0.
int statusOf(const QByteArray& firstLine)
{
    if (!firstLine.startsWith("HTTP/"))
        return 0;
    const QList<QByteArray> words = firstLine.simplified().split(' ');
    if (words.size() < 2 || words.at(1).size() != 3)
        return 0;
    bool ok = false;
    const int status = words.at(1).toInt(&ok);
    return ok && status >= 100 ? status : 0;
}

} // namespace

// The head ends at the first empty line. Servers end header lines with CR LF, some with LF alone; both are
// taken. Only the head is looked through: a big reply's body is never searched.
qsizetype HttpReplyHead::headEnd(const QByteArray& reply, qsizetype from, qsizetype* bodyStart)
{
    const char* data = reply.constData();
    const qsizetype size = reply.size();
    for (qsizetype lf = reply.indexOf('\n', from); lf >= 0 && lf + 1 < size; lf = reply.indexOf('\n', lf + 1)) {
        if (lf > 0 && data[lf - 1] == '\r' && lf + 2 < size && data[lf + 1] == '\r' && data[lf + 2] == '\n') {
            *bodyStart = lf + 3;
            return lf - 1;
        }
        if (data[lf + 1] == '\n') {
            *bodyStart = lf + 2;
            return lf;
        }
    }
    return -1;
}

HttpReplyHead HttpReplyHead::parse(const QByteArray& reply)
{
    HttpReplyHead head;
    qsizetype bodyStart = 0;
    const qsizetype end = headEnd(reply, 0, &bodyStart);
    head.complete = end >= 0;
    head.bodyStart = head.complete ? bodyStart : reply.size();
    const QList<QByteArray> lines = reply.left(head.complete ? end : reply.size()).split('\n');
    head.status = statusOf(lines.first().trimmed());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        // The first of repeated fields counts, as most clients take it.
        if (name == "content-length" && head.contentLength < 0) {
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            head.contentLength = ok && length >= 0 ? length : -1;
        }
    }
    return head;
}

bool HttpReplyHead::isCut(qsizetype replySize) const
{
    if (!complete)
        return true;
    return contentLength >= 0 && replySize - bodyStart < contentLength;
}
