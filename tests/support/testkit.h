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
