#pragma once

#include <QByteArray>

// How a reply is read beyond the window's rule: with `pairs`, the pairs its structure makes are read too
// (PairReader), and an HTML page's visible text; `cut` says the reply stopped at the size limit; `contentType` is the
// reply's own, which tells HTML from the rest.
struct PageReading
{
    bool pairs = false;
    bool cut = false;
    QByteArray contentType;
};
