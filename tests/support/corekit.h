#pragma once

// What every suite shares without widgets: QtTest, a fresh home, files and proxies made up for a test.
#include "tests/support/testhome.h"

#include <QtTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

// Distinct proxies, none a part of another, so removing one from a page never joins two into a new one.
inline QStringList manyProxies(int first, int count)
{
    QStringList proxies;
    for (int i = first; i < first + count; ++i)
        proxies << QStringLiteral("%1.%2.%3.7:%4")
                       .arg(10 + i / 65536 % 200)
                       .arg(i / 256 % 256)
                       .arg(i % 256)
                       .arg(1000 + i % 60000);
    return proxies;
}

// A whole file's bytes; null when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the bytes as the whole file, making its folder first; false when any of it fails.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}
