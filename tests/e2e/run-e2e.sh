#!/usr/bin/env bash
# Runs the end-to-end suite in a private network namespace with its own hosts file and the fake web on
# port 80. Needs root (CI runs as root); where namespaces are not allowed it says so and fails.
set -euo pipefail
suite=$1
shift # what follows goes to the suite, e.g. test function names
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" -ne 0 ]; then
    echo "end-to-end suite: needs root to make a private network namespace (unshare --net --mount)." >&2
    echo "Run the test command as root." >&2
    exit 1
fi
if ! unshare --net --mount true 2>/dev/null; then
    echo "end-to-end suite: this machine does not allow private network namespaces (unshare --net --mount failed)." >&2
    exit 1
fi
exec unshare --net --mount bash "$here/inside-namespace.sh" "$suite" "$here/hosts" "$@"
