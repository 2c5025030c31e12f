#pragma once

#include <QString>

// Whole-file text helpers. None of them reports anything to the user; the caller decides.
bool fileExists(const QString& path);

// The whole file as text; empty for an empty path or a file that cannot be opened.
QString readTextFile(const QString& path);

// Replaces the file's content with the text; false for an empty path or text, or a file that cannot be opened.
bool writeTextFile(const QString& path, const QString& text);
