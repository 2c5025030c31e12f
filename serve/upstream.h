#pragma once

#include "check/proxyendpoint.h"

// One proxy the serve may send through: where it is, its credentials, and the CheckResult::Protocol flags that
// worked at its last check.
struct Upstream
{
    ProxyEndpoint proxy;
    int protocols = 0;
};
