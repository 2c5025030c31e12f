#pragma once

// What the suites share: QtTest, the widgets, a fresh home, dialog answering, desktop open capture.
#include "tests/support/corekit.h"
#include "tests/support/desktopcapture.h"
#include "tests/support/dialoganswerer.h"

#include <QtWidgets>

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
