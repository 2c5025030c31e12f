#pragma once

#include <QString>

// Whether a host name looks like a domain the program fetches from: after an optional "www.", one or two
// labels and a top-level label of 2 to 4 letters, optionally followed by one more such label. Addresses,
// ports and longer names fail.
bool looksLikeDomain(const QString& host);

// The check every way of adding a URL to the list makes: the host, with "http://" taken out and cut at the
// first "/", must look like a domain. Other schemes leave the scheme as the host and fail.
bool passesDomainCheck(const QString& url);
