#include "pool/waitingtexts.h"

#include <cstring>

namespace {

// The first byte of packed texts; texts never start with it.
constexpr char packedMark = '\0';
// Before an address and a port: 6 bytes follow.
constexpr char addressTag = '\1';
// Before a line kept as it is that starts with one of the two tags.
constexpr char lineTag = '\2';
constexpr int addressBytes = 6;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal number at `*at` up to `max`, written with no leading zero, as its value is printed again; -1 where it is
// none such. `*at` moves past its digits.
int number(const char** at, const char* end, int max)
{
    const char* p = *at;
    if (p == end || !isDigit(*p) || (*p == '0' && p + 1 < end && isDigit(p[1])))
        return -1;
    int value = 0;
    for (; p < end && isDigit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value > max)
            return -1;
    }
    *at = p;
    return value;
}

// "a.b.c.d:port" from `line` to `end` (the line's end), packed into `out`; false, with nothing written, for any other.
bool packAddress(const char* line, const char* end, QByteArray& out)
{
    unsigned char bytes[addressBytes];
    const char* p = line;
    for (int octet = 0; octet < 4; ++octet) {
        const int value = number(&p, end, 255);
        if (value < 0 || p == end || *p != (octet < 3 ? '.' : ':'))
            return false;
        bytes[octet] = static_cast<unsigned char>(value);
        ++p;
    }
    const int port = number(&p, end, 65535);
    if (port < 0 || p != end)
        return false;
    bytes[4] = static_cast<unsigned char>(port >> 8);
    bytes[5] = static_cast<unsigned char>(port & 0xff);
    out.append(addressTag);
    out.append(reinterpret_cast<const char*>(bytes), addressBytes);
    return true;
}

char* printNumber(char* out, unsigned value)
{
    char digits[5];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

} // namespace

namespace WaitingTexts {

QByteArray packed(QByteArrayView texts)
{
    if (texts.isEmpty())
        return texts.toByteArray();
    QByteArray out;
    out.reserve(texts.size() / 2 + 1);
    out.append(packedMark);
    const char* p = texts.data();
    const char* const end = p + texts.size();
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (lineEnd && packAddress(p, lineEnd, out)) {
            p = lineEnd + 1;
            continue;
        }
        const char* const next = lineEnd ? lineEnd + 1 : end;
        if (*p == addressTag || *p == lineTag)
            out.append(lineTag);
        out.append(p, next - p);
        p = next;
    }
    return out;
}

QByteArray unpacked(const QByteArray& stored)
{
    if (stored.isEmpty() || stored.front() != packedMark)
        return stored;
    // No line grows by more than 15 bytes ("255.255.255.255:65535\n", 22, from 7).
    QByteArray texts(stored.size() * 4, Qt::Uninitialized);
    char* out = texts.data();
    const char* p = stored.constData() + 1;
    const char* const end = stored.constData() + stored.size();
    while (p < end) {
        if (*p == addressTag) {
            if (end - p < 1 + addressBytes)
                break; // a damaged row: what came before it stands
            const auto* bytes = reinterpret_cast<const unsigned char*>(p + 1);
            for (int octet = 0; octet < 4; ++octet) {
                out = printNumber(out, bytes[octet]);
                *out++ = octet < 3 ? '.' : ':';
            }
            out = printNumber(out, unsigned(bytes[4]) << 8 | bytes[5]);
            *out++ = '\n';
            p += 1 + addressBytes;
            continue;
        }
        if (*p == lineTag)
            ++p;
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* const next = lineEnd ? lineEnd + 1 : end;
        std::memcpy(out, p, size_t(next - p));
        out += next - p;
        p = next;
    }
    texts.truncate(out - texts.constData());
    return texts;
}

} // namespace WaitingTexts
