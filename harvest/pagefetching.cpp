#include "harvest/pagefetching.h"

// The interface has no code of its own; this file makes its signals.
