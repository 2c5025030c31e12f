#pragma once

#include <QString>
#include <QStringList>

// The URLs of a list file as Import takes them: one a line, read as UTF-8 as Save writes it, each line that
// passes the domain check. False, with the reason, when the file cannot be read.
bool readUrlListFile(const QString& path, QStringList* urls, QString* failure = nullptr);
