#include "check/judge.h"

#include "util/weburl.h"

QByteArray Judge::hostLine() const
{
    return WebUrl::hostHeader(url).toLatin1();
}

QByteArray Judge::originPath() const
{
    return WebUrl::requestPath(url).toLatin1();
}
