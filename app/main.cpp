#include "cli/commandline.h"
#include "util/appinfo.h"

#include <QCoreApplication>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The window program, beside this one in the build, or where the package puts it.
const char* const windowPlaces[] = {"/sievra-window", "/../libexec/sievra/sievra-window"};

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::string();
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
}

// Replaces this process with the window; returns only when no window program could be started.
int startWindow(char* argv[])
{
    const std::string folder = programFolder();
    std::string tried;
    for (const char* place : windowPlaces) {
        const std::string window = folder + place;
        execv(window.c_str(), argv);
        tried += (tried.empty() ? "" : ", ") + window + " (" + std::strerror(errno) + ")";
    }
    std::fprintf(stderr, "sievra: cannot start the window: %s\n", tried.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // Any argument asks for the command line, which needs no display; none, the window.
    if (argc <= 1)
        return startWindow(argv);
#ifdef __GLIBC__
    // Pages and their texts of 4 MB and more get memory of their own from the system, given back whole when they go.
    // glibc's own threshold climbs with every large block freed, up to 32 MB, and past it such blocks stay in the
    // arenas of the threads that made them: a harvest of twenty 8 MB pages with the pool on kept 130 MB more than
    // it held.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sievra"));
    QCoreApplication::setApplicationVersion(AppInfo::version);
    CCommandLine commandLine;
    return commandLine.run(QCoreApplication::arguments());
}
