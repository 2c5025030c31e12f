#pragma once

// How far a fetch goes beyond plain HTTP/1.0 on port 80. The window keeps the classic rules; the command line
// fetches today's web unless told otherwise.
struct WebRules
{
    // http:// only, always port 80, no redirect followed.
    bool classic = true;
    // Certificates that fail verification are accepted (the command line's --insecure).
    bool insecure = false;
};
