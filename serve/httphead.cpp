#include "serve/httphead.h"

namespace {

bool isTokenChar(char c)
{
    if (c >= 'a' && c <= 'z')
        return true;
    if (c >= 'A' && c <= 'Z')
        return true;
    if (c >= '0' && c <= '9')
        return true;
    return QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

// A line's end: LF, with or without CR before it.
QByteArray chomp(const QByteArray& line)
{
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

HttpHead read(const QByteArray& bytes, bool request)
{
    HttpHead head;
    qsizetype start = 0;
    // Empty lines before a request are allowed, as between kept-alive requests.
    while (request && start < bytes.size() && (bytes.at(start) == '\r' || bytes.at(start) == '\n'))
        ++start;
    qsizetype end = bytes.indexOf("\n\r\n", start);
    const qsizetype bare = bytes.indexOf("\n\n", start);
    qsizetype length = end < 0 ? -1 : end + 3;
    if (bare >= 0 && (end < 0 || bare < end))
        length = bare + 2;
    if (length < 0) {
        head.state = bytes.size() >= HttpHead::maxSize ? HttpHead::TooLarge : HttpHead::NeedMore;
        return head;
    }
    if (length > HttpHead::maxSize) {
        head.state = HttpHead::TooLarge;
        return head;
    }
    head.state = HttpHead::Malformed;
    const QList<QByteArray> lines = bytes.mid(start, length - start).split('\n');
    const QByteArray startLine = chomp(lines.first());
    const qsizetype one = startLine.indexOf(' ');
    const qsizetype two = one < 0 ? -1 : startLine.indexOf(' ', one + 1);
    if (one <= 0)
        return head;
    head.first = startLine.left(one);
    if (request) {
        if (two < 0 || !isToken(head.first))
            return head;
        head.second = startLine.mid(one + 1, two - one - 1);
        head.third = startLine.mid(two + 1);
        if (head.second.isEmpty() || head.second.contains(' ') || !head.third.startsWith("HTTP/1."))
            return head;
    } else {
        head.second = two < 0 ? startLine.mid(one + 1) : startLine.mid(one + 1, two - one - 1);
        head.third = two < 0 ? QByteArray() : startLine.mid(two + 1);
        bool ok = false;
        const int status = head.second.toInt(&ok);
        if (!head.first.startsWith("HTTP/") || head.second.size() != 3 || !ok || status < 100)
            return head;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = chomp(lines.at(i));
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        // A folded line or a name with blanks is refused: two readers could split such a head two ways.
        if (colon <= 0 || !isToken(line.left(colon)))
            return head;
        head.fields.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    head.state = HttpHead::Complete;
    head.length = length;
    return head;
}

} // namespace

HttpHead HttpHead::readRequest(const QByteArray& bytes)
{
    return read(bytes, true);
}

HttpHead HttpHead::readReply(const QByteArray& bytes)
{
    return read(bytes, false);
}

QByteArray HttpHead::field(const QByteArray& name) const
{
    for (const auto& field : fields)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    return QByteArray();
}

bool HttpHead::has(const QByteArray& name) const
{
    for (const auto& field : fields)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool HttpHead::hasToken(const QByteArray& name, const QByteArray& token) const
{
    for (const auto& field : fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray& part : field.second.split(','))
            if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

QByteArray HttpHead::endToEndFields(const QList<QByteArray>& alsoDrop) const
{
    QList<QByteArray> drop = {
        "Connection", "Proxy-Connection", "Keep-Alive", "Proxy-Authorization", "Proxy-Authenticate", "TE", "Upgrade"};
    drop += alsoDrop;
    for (const auto& field : fields)
        if (field.first.compare("Connection", Qt::CaseInsensitive) == 0)
            for (const QByteArray& part : field.second.split(','))
                if (!part.trimmed().isEmpty())
                    drop.append(part.trimmed());
    QByteArray text;
    for (const auto& field : fields) {
        bool kept = true;
        for (const QByteArray& name : std::as_const(drop))
            if (field.first.compare(name, Qt::CaseInsensitive) == 0)
                kept = false;
        if (kept)
            text += field.first + ": " + field.second + "\r\n";
    }
    return text;
}
