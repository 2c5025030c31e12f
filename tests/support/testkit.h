#pragma once

// What the suites share: QtTest, the widgets, a fresh home, dialog answering, desktop open capture.
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/testhome.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

using namespace Qt::Literals::StringLiterals;

// The named child of a window; a missing one ends the run, as every check after it would crash.
template <class T> T* child(const QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("missing child %s", name);
    return found;
}

// The texts of a table's column, top to bottom; a missing cell as a null text.
inline QStringList columnTexts(QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

// Appends rows of size, address and bytes cells to the URL table; a null text leaves its cell out.
inline void addUrlRows(QTableWidget* table, const QList<QStringList>& rows)
{
    for (const QStringList& cells : rows) {
        const int row = table->rowCount();
        table->insertRow(row);
        for (int i = 0; i < cells.size(); ++i)
            if (!cells[i].isNull())
                table->setItem(row, i, new QTableWidgetItem(cells[i]));
    }
}

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
