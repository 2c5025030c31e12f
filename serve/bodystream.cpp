#include "serve/bodystream.h"

#include <QList>

BodyStream::BodyStream(Kind kind, qint64 length) : m_kind(kind), m_left(length)
{
    m_done = kind == Empty || (kind == Length && length == 0);
}

bool BodyStream::framing(const QByteArray& transferEncoding, const QList<QByteArray>& lengths, bool untilClose,
                         BodyStream* stream)
{
    if (!transferEncoding.isEmpty()) {
        const QList<QByteArray> codings = transferEncoding.split(',');
        if (codings.last().trimmed().compare("chunked", Qt::CaseInsensitive) != 0) {
            // A reply may end at the close; a request whose end cannot be told is refused.
            if (!untilClose)
                return false;
            *stream = BodyStream(UntilClose);
            return true;
        }
        *stream = BodyStream(Chunked);
        return true;
    }
    qint64 length = -1;
    for (const QByteArray& field : lengths)
        for (const QByteArray& part : field.split(',')) {
            const QByteArray digits = part.trimmed();
            bool ok = !digits.isEmpty() && digits.size() <= 18;
            for (const char c : digits)
                ok = ok && c >= '0' && c <= '9';
            const qint64 value = ok ? digits.toLongLong(&ok) : -1;
            if (!ok || (length >= 0 && value != length))
                return false;
            length = value;
        }
    if (length >= 0)
        *stream = BodyStream(Length, length);
    else
        *stream = BodyStream(untilClose ? UntilClose : Empty);
    return true;
}

qsizetype BodyStream::take(const char* data, qsizetype size)
{
    if (m_done || m_malformed)
        return 0;
    if (m_kind == UntilClose)
        return size;
    if (m_kind == Length) {
        const qsizetype taken = qsizetype(qMin<qint64>(m_left, size));
        m_left -= taken;
        m_done = m_left == 0;
        return taken;
    }
    qsizetype at = 0;
    while (at < size && !m_done && !m_malformed) {
        if (m_stage == Data) {
            const qsizetype taken = qsizetype(qMin<qint64>(m_left, size - at));
            at += taken;
            m_left -= taken;
            if (m_left == 0)
                m_stage = DataEnd;
            continue;
        }
        // A line: the chunk's size, the CR LF after its data, or one of the trailer.
        const char c = data[at++];
        if (c != '\n') {
            if (m_line.size() >= maxLine)
                m_malformed = true;
            m_line += c;
            continue;
        }
        QByteArray line = m_line.endsWith('\r') ? m_line.chopped(1) : m_line;
        m_line.clear();
        if (m_stage == DataEnd) {
            if (!line.isEmpty())
                m_malformed = true;
            m_stage = SizeLine;
        } else if (m_stage == Trailer) {
            m_done = line.isEmpty();
        } else {
            const qsizetype semicolon = line.indexOf(';');
            const QByteArray hex = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
            bool ok = !hex.isEmpty() && hex.size() <= 15;
            const qint64 chunk = ok ? hex.toLongLong(&ok, 16) : -1;
            if (!ok || chunk < 0) {
                m_malformed = true;
            } else if (chunk == 0) {
                m_stage = Trailer;
            } else {
                m_left = chunk;
                m_stage = Data;
            }
        }
    }
    return at;
}
