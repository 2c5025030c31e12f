#!/usr/bin/env bash
# Runs inside the private namespace: loopback up, our hosts file, the fake web, then the suite.
set -euo pipefail
fakeweb=$1
suite=$2
sites=$3
hosts=$4
shift 4

ip link set lo up
mount --bind "$hosts" /etc/hosts

log=$(mktemp)
"$fakeweb" "$sites" >"$log" 2>&1 &
web=$!
trap 'kill $web 2>/dev/null || true' EXIT

for _ in $(seq 100); do
    if (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; then break; fi
    if ! kill -0 $web 2>/dev/null; then echo "fake web did not start:"; cat "$log"; exit 1; fi
    sleep 0.1
done

status=0
QT_QPA_PLATFORM=offscreen "$suite" "$@" || status=$?
# In a sanitizer build the fake web is checked too; it never exits by itself, so its reports are only in its log.
if grep -q "Sanitizer" "$log"; then
    echo "fake web:"
    cat "$log"
    status=1
fi
exit $status
