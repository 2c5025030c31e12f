#include "util/threadpriority.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ThreadPriority {

void giveWay()
{
#ifdef __linux__
    // On Linux a thread's niceness is its own, set through its id.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#endif
}

} // namespace ThreadPriority
