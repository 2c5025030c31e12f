#pragma once

// What the suites share: QtTest and the widgets, a fresh home folder, modal dialog answering and desktop open
// capture.
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
