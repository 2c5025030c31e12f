#include "tests/support/testhome.h"

#include <QtGlobal>

TestHome::TestHome() : m_previousHome(qgetenv("HOME"))
{
    qputenv("HOME", m_dir.path().toLocal8Bit());
}

TestHome::~TestHome()
{
    qputenv("HOME", m_previousHome);
}
