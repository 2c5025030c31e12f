#pragma once

#include <QString>

// Keeps the settings file from standing on disk as plain text. Two stages: every character becomes its
// decimal code, the codes joined by commas; that text is then enciphered by a keyed, position-dependent
// substitution over a fixed alphabet. Unscrambling reverses both stages.
class CSettingsCipher
{
public:
    static QString scramble(const QString& plain);
    // The plain text, or an empty string when the text was not written by scramble().
    static QString unscramble(const QString& scrambled);
};
