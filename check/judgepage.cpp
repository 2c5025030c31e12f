#include "check/judgepage.h"

#include "qtlib/web/httpreply.h"

#include <QRegularExpression>

namespace {

QByteArray bodyOf(const QByteArray& reply)
{
    const HttpReplyHead head = HttpReplyHead::parse(reply);
    return head.complete ? reply.mid(head.bodyStart) : QByteArray();
}

const QRegularExpression& addressPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("(?<![0-9.])(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|"
                       "[1-9]?[0-9])){3}(?![0-9]|\\.[0-9])"));
    return pattern;
}

} // namespace

namespace JudgePage {

Verdict judge(const QByteArray& reply, const QByteArray& marker)
{
    if (reply.isEmpty())
        return NothingCame;
    const HttpReplyHead head = HttpReplyHead::parse(reply);
    // A status line still coming is a cut reply; a whole head without a status we can read is no HTTP.
    if (head.status == 0)
        return !head.complete && (reply.startsWith("HTTP/") || QByteArray("HTTP/").startsWith(reply)) ? Cut : NotHttp;
    // Whatever its body, a demand for credentials: the judge itself answered 200, so it is the proxy's (tinyproxy
    // answers wrong ones with 401).
    if (head.status == 407 || head.status == 401)
        return Login;
    if (head.isCut(reply.size()))
        return Cut;
    if (head.status == 200 && reply.indexOf(marker, head.bodyStart) >= 0)
        return IsJudge;
    return OtherPage;
}

bool isComplete(const QByteArray& reply)
{
    const HttpReplyHead head = HttpReplyHead::parse(reply);
    return head.complete && head.contentLength >= 0 && reply.size() - head.bodyStart >= head.contentLength;
}

QString firstAddress(const QByteArray& reply, const QString& except)
{
    const QString body = QString::fromLatin1(bodyOf(reply));
    QRegularExpressionMatchIterator matches = addressPattern().globalMatch(body);
    while (matches.hasNext()) {
        QString address = matches.next().captured();
        if (address != except)
            return address;
    }
    return QString();
}

bool mentionsAddress(const QByteArray& reply, const QString& address)
{
    const QString body = QString::fromLatin1(bodyOf(reply));
    QRegularExpressionMatchIterator matches = addressPattern().globalMatch(body);
    while (matches.hasNext())
        if (matches.next().captured() == address)
            return true;
    return false;
}

bool showsProxyHeader(const QByteArray& reply)
{
    // Echo pages write the names as sent ("X-Forwarded-For: ..."), as CGI names ("HTTP_X_FORWARDED_FOR = ..."),
    // or quoted in JSON ("Via": "...").
    static const QRegularExpression header(
        QStringLiteral("(?<![A-Za-z0-9_-])(HTTP_)?(VIA|X[-_]FORWARDED[-_]FOR|FORWARDED|X[-_]REAL[-_]IP|"
                       "PROXY[-_]CONNECTION|X[-_]PROXY[-_]ID)[\"']?\\s*[:=]"),
        QRegularExpression::CaseInsensitiveOption);
    return header.match(QString::fromLatin1(bodyOf(reply))).hasMatch();
}

} // namespace JudgePage
