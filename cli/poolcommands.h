#pragma once

class NamedOutput;
class PoolStore;
class RunOptions;

// The runs about the pool itself that need no event loop, each returning the exit status (ExitCode).
namespace PoolCommands {

// --export: the proxies the filters let through, best first, to a new output list whose path is printed; 2 and no
// file when none does.
int exportList(PoolStore& pool, const RunOptions& options);
// --sources: what each source has been worth, to `report` or standard output; with --prune, the list of the sources
// still worth fetching, to the output folder. 2 when the pool has no source.
int sources(PoolStore& pool, const RunOptions& options, NamedOutput* report);

} // namespace PoolCommands
