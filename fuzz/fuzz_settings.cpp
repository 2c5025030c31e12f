// The settings loader on any file: no crash, no undefined behaviour, and the values it keeps are ones the
// program can use.
#include "settings/config.h"
#include "settings/userfolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir home;
    static const bool ready = [] {
        qputenv("HOME", home.path().toLocal8Bit());
        return QDir().mkpath(UserFolders::baseFolder());
    }();
    if (!ready)
        std::abort();
    QFile file(UserFolders::configFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    CConfig config;
    // A stray value from a file of ours is kept, as long as it is no farther out than any choice could be.
    if (qAbs(config.timeout()) > 1000 || qAbs(config.depth()) > 1000)
        std::abort();
    CConfig::timeoutMilliseconds(config.timeout());
    return 0;
}
