#pragma once

#include <QByteArray>

// What the head of one HTTP reply says, as far as fetching pages needs it.
struct HttpReplyHead
{
    bool complete = false;     // the empty line that ends the head has come
    int status = 0;            // 0 when the first line is no HTTP status line
    qint64 contentLength = -1; // -1 when not given or not a number
    qsizetype bodyStart = 0;   // where the body starts, when complete

    static HttpReplyHead parse(const QByteArray& reply);
    // Where the empty line that ends the head starts, looking from `from` on, or -1; the body's start to
    // `bodyStart`.
    static qsizetype headEnd(const QByteArray& reply, qsizetype from, qsizetype* bodyStart);

    // The reply ended before what its head promised: a head cut off, or a body shorter than Content-Length.
    bool isCut(qsizetype replySize) const;
};
