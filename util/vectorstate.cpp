#include "util/vectorstate.h"

namespace VectorState {

// Out of line: no vector value of a caller lives across a call, so none is lost.
__attribute__((noinline)) void clearUpperHalves()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        __asm__ volatile("vzeroupper");
#endif
}

} // namespace VectorState
