#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// The head of an HTTP request or reply as far as it came: the start line's three parts and the fields in order.
// Nothing past the blank line is read; a head that does not end within maxSize is TooLarge.
struct HttpHead
{
    enum State { NeedMore, Complete, TooLarge, Malformed };
    static constexpr qsizetype maxSize = qsizetype{64} * 1024;

    State state = NeedMore;
    qsizetype length = 0; // Complete: the head's bytes, its blank line included
    // A request: method, target, version. A reply: version, status, reason.
    QByteArray first;
    QByteArray second;
    QByteArray third;
    QList<QPair<QByteArray, QByteArray>> fields;

    static HttpHead readRequest(const QByteArray& bytes);
    static HttpHead readReply(const QByteArray& bytes);

    // The first field of that name, trimmed; empty when none.
    QByteArray field(const QByteArray& name) const;
    bool has(const QByteArray& name) const;
    // Whether a comma-separated field of that name holds the token, in any case.
    bool hasToken(const QByteArray& name, const QByteArray& token) const;
    int status() const { return second.toInt(); }

    // The fields without the hop-by-hop ones (the connection's own, and those Connection names) nor `alsoDrop`,
    // each as "Name: value\r\n".
    QByteArray endToEndFields(const QList<QByteArray>& alsoDrop = {}) const;
};
