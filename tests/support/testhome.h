#pragma once

#include <QTemporaryDir>

// Points HOME at a fresh, empty folder for as long as it lives, and puts the old value back afterwards.
// Create it before any object that reads the home folder.
class TestHome
{
public:
    TestHome() : m_previousHome(qgetenv("HOME")) { qputenv("HOME", m_dir.path().toLocal8Bit()); }
    ~TestHome() { qputenv("HOME", m_previousHome); }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previousHome;
};
