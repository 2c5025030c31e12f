#pragma once

// How the command line ends, a harvest or a check (CCheckRun::finished gives the same numbers).
namespace ExitCode {

constexpr int written = 0;   // the list is written
constexpr int badInput = 1;  // refused, or something went wrong
constexpr int noProxies = 2; // nothing to list

} // namespace ExitCode
