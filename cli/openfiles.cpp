#include "cli/openfiles.h"

#include "cli/console.h"

#include <sys/resource.h>

namespace OpenFiles {

namespace {

// Left for everything else the process holds open.
constexpr rlim_t reservedFiles = 64;

} // namespace

int fit(int wanted, int filesEach, const QString& option)
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const auto each = rlim_t(filesEach);
    if (limit.rlim_cur >= rlim_t(wanted) * each + reservedFiles)
        return wanted;
    const int fits = limit.rlim_cur > reservedFiles + each ? int((limit.rlim_cur - reservedFiles) / each) : 1;
    Console::tell(QStringLiteral("%1 lowered from %2 to %3: at most %4 files may be open.")
                      .arg(option)
                      .arg(wanted)
                      .arg(fits)
                      .arg(qulonglong(limit.rlim_cur)));
    return fits;
}

} // namespace OpenFiles
