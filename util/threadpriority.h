#pragma once

// Work that may wait for a core: a harvest's writes to the pool run while its page readers keep both cores busy, and
// they can as well run on the core the extraction leaves idle at the end.
namespace ThreadPriority {

// The calling thread gives way to the process's other threads when they want its core (Linux's "nice" of 10: about
// a tenth of a core when they want all of them); nothing where threads have no niceness of their own.
void giveWay();

} // namespace ThreadPriority
