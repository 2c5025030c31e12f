#pragma once

#include "extraction/ascii.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <algorithm>
#include <cstring>

// The shape of a proxy text, "a.b.c.d:port" with one to three digits a group and two to five a port, as the
// extraction's search and removals see it.
namespace ProxyText {

// "999.999.999.999:99999": a match never reaches further back than this from the end of a removal.
constexpr qsizetype longestProxy = 21;
constexpr qsizetype shortestProxy = 10;

using Ascii::isDigit;

inline bool isProxyCharacter(char c)
{
    return isDigit(c) || c == '.' || c == ':';
}

// Every "a.b.c.d:port" text packs into one number: a group of one to three digits (leading zeros count) is
// one of 1110 codes, a port of two to five digits one of 111100.
constexpr quint64 groupCodes = 1110;
constexpr quint64 portCodes = 111100;

inline quint64 digitCode(const char* digits, qsizetype count)
{
    static constexpr quint64 firstCodeOfLength[] = {0, 0, 10, 110, 1110, 11110};
    quint64 value = 0;
    for (qsizetype i = 0; i < count; ++i)
        value = value * 10 + quint64(digits[i] - '0');
    return firstCodeOfLength[count] + value;
}

// What surrounds one colon when it can end the address part of a proxy: three dots with one to three digits
// between them and the colon, digits before the first dot, at least two digits after the colon. The proxy
// texts through this colon differ only in how many digits they take before the first dot and after the
// colon; the regular expression's match takes as many of both as it may.
struct Skeleton
{
    qsizetype firstDot = 0;
    qsizetype colon = 0;
    qsizetype leadDigits = 0; // digits before the first dot, at most 3
    qsizetype portDigits = 0; // digits after the colon, at most 5
    quint64 middle = 0;       // the three groups between the first dot and the colon

    qsizetype matchStart() const { return firstDot - leadDigits; }
    qsizetype matchLength() const { return colon + 1 + portDigits - matchStart(); }

    quint64 key(const char* text, qsizetype lead, qsizetype port) const
    {
        const quint64 first = digitCode(text + firstDot - lead, lead);
        const quint64 address = first * groupCodes * groupCodes * groupCodes + middle;
        return address * portCodes + digitCode(text + colon + 1, port);
    }
};

// Digits directly in front of `end`, counting no further than `most + 1`.
inline qsizetype digitsBefore(const char* text, qsizetype end, qsizetype most)
{
    qsizetype count = 0;
    while (count <= most && end - count > 0 && isDigit(text[end - count - 1]))
        ++count;
    return count;
}

inline bool skeletonAt(const char* text, qsizetype size, qsizetype colon, Skeleton& skeleton)
{
    qsizetype port = 0;
    while (port < 5 && colon + 1 + port < size && isDigit(text[colon + 1 + port]))
        ++port;
    if (port < 2)
        return false;

    quint64 middle = 0;
    quint64 scale = 1;
    qsizetype end = colon;
    for (int group = 0; group < 3; ++group) {
        const qsizetype digits = digitsBefore(text, end, 3);
        if (digits == 0 || digits > 3 || end - digits == 0 || text[end - digits - 1] != '.')
            return false;
        middle += digitCode(text + end - digits, digits) * scale;
        scale *= groupCodes;
        end -= digits + 1;
    }
    const qsizetype lead = std::min<qsizetype>(digitsBefore(text, end, 3), 3);
    if (lead == 0)
        return false;

    skeleton.firstDot = end;
    skeleton.colon = colon;
    skeleton.leadDigits = lead;
    skeleton.portDigits = port;
    skeleton.middle = middle;
    return true;
}

// The first colon at or after `from` that ends the address part of a proxy. Proxies are ordered by their
// colons (none holds two), so this gives the leftmost match.
inline bool nextSkeleton(const char* text, qsizetype size, qsizetype from, Skeleton& skeleton)
{
    while (from < size) {
        const void* found = std::memchr(text + from, ':', size_t(size - from));
        if (!found)
            return false;
        const qsizetype colon = static_cast<const char*>(found) - text;
        if (skeletonAt(text, size, colon, skeleton))
            return true;
        from = colon + 1;
    }
    return false;
}

// Digits from `at` on, counting no further than `most`.
inline qsizetype digitsAt(const char* text, qsizetype at, qsizetype size, qsizetype most)
{
    qsizetype count = 0;
    while (at + count < size && count < most && isDigit(text[at + count]))
        ++count;
    return count;
}

// The length of the address "a.b.c.d" that starts at `at`, or 0: each group a whole run of one to three digits (a
// shorter one would be followed by a digit, not the dot). What follows the last group is the caller's to judge.
inline qsizetype addressAt(const char* text, qsizetype at, qsizetype size)
{
    qsizetype end = at;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (end >= size || text[end] != '.')
                return 0;
            ++end;
        }
        const qsizetype digits = digitsAt(text, end, size, 4);
        if (digits < 1 || digits > 3)
            return 0;
        end += digits;
    }
    return end - at;
}

// The digits of the port that starts at `at`, as many as it may take up to five, or 0 when there are fewer than two.
inline qsizetype portAt(const char* text, qsizetype at, qsizetype size)
{
    const qsizetype digits = digitsAt(text, at, size, 5);
    return digits >= 2 ? digits : 0;
}

// The length of the proxy text that starts at `at` and where its colon is, or 0. Tried from each position in turn,
// this finds the leftmost match, as the extraction's pattern.
inline int matchAt(const char* text, qsizetype at, qsizetype size, int* colon)
{
    const qsizetype address = addressAt(text, at, size);
    if (address == 0 || at + address >= size || text[at + address] != ':')
        return 0;
    const qsizetype port = portAt(text, at + address + 1, size);
    if (port == 0)
        return 0;
    *colon = int(address);
    return int(address + 1 + port);
}

// A whole field that is an address, as a proxy text starts: no more, no less.
inline bool isAddress(QByteArrayView field)
{
    return !field.isEmpty() && addressAt(field.data(), 0, field.size()) == field.size();
}

// A whole field that is a port, as a proxy text ends: two to five digits, leading zeros and all.
inline bool isPort(QByteArrayView field)
{
    return !field.isEmpty() && portAt(field.data(), 0, field.size()) == field.size();
}

} // namespace ProxyText
