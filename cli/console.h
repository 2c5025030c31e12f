#pragma once

#include <QString>

#include <cstdio>

// Lines for the person at the terminal: results on standard output, everything else on standard error.
namespace Console {

inline void printLine(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// "sievra: <message>" on standard error.
inline void tell(const QString& message)
{
    printLine(stderr, QStringLiteral("sievra: ") + message);
}

// A progress line, rewritten in place on a terminal; elsewhere one line each time.
inline void showProgress(const QString& text, bool terminal, bool last)
{
    if (!terminal)
        return printLine(stderr, text);
    std::fputs(qPrintable(QStringLiteral("\r") + text + QStringLiteral("\x1b[K") + (last ? "\n" : "")), stderr);
    std::fflush(stderr);
}

} // namespace Console
