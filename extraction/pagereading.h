#pragma once

// How a reply is read beyond the window's rule: with `pairs`, the pairs its structure makes are read too
// (PairReader); `cut` says the reply stopped at the size limit.
struct PageReading
{
    bool pairs = false;
    bool cut = false;
};
