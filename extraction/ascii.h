#pragma once

#include <QByteArrayView>

// Pages are read as bytes: these look at ASCII alone, whatever the locale, and are inlined in the readers' loops.
namespace Ascii {

inline char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Space as HTML has it: no vertical tab.
inline bool isHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Space as plain text has it, vertical tab and all.
inline bool isSpace(char c)
{
    return isHtmlSpace(c) || c == '\v';
}

// Whether `text` is `word` (lower case) in any case. Byte by byte from the page itself: a name first copied in lower
// case and compared as a whole stalled on the copy, and it is done for every tag of a page.
inline bool equalsFolded(QByteArrayView text, QByteArrayView word)
{
    if (text.size() != word.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i)
        if (lower(text[i]) != word[i])
            return false;
    return true;
}

} // namespace Ascii
