#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Where an HTTP message's body ends, read as its bytes pass by: none, a length, chunks, or the connection's close.
// The bytes are passed on unchanged; only their count and the chunks' framing are followed, so a body of any size
// needs no memory here beyond one chunk-size line.
class BodyStream
{
public:
    enum Kind { Empty, Length, Chunked, UntilClose };

    BodyStream() = default;
    BodyStream(Kind kind, qint64 length = 0);

    // How many of the bytes belong to the body; the rest is the next message's. Past the end it takes none.
    qsizetype take(const char* data, qsizetype size);
    bool done() const { return m_done; }
    bool malformed() const { return m_malformed; }
    Kind kind() const { return m_kind; }

    // A framing a Content-Length or Transfer-Encoding field gives; false for one to refuse (a length that is no
    // number, two that differ, a coding other than chunked last).
    static bool framing(const QByteArray& transferEncoding, const QList<QByteArray>& lengths, bool untilClose,
                        BodyStream* stream);

private:
    enum Stage { SizeLine, Data, DataEnd, Trailer };
    static constexpr int maxLine = 4096;

    Kind m_kind = Empty;
    qint64 m_left = 0;
    bool m_done = true;
    bool m_malformed = false;
    Stage m_stage = SizeLine;
    QByteArray m_line;
};
