#pragma once

#include <QString>

// Many sockets at once: the soft limit of open files raised as far as the hard one allows, and what does not fit then
// lowered, with one line on standard error naming the option.
namespace OpenFiles {

// How many of `wanted`, each needing `filesEach` descriptors, fit beside the files the process keeps for the rest;
// at least 1. `option` names what is lowered ("--concurrency").
int fit(int wanted, int filesEach, const QString& option);

} // namespace OpenFiles
