#!/usr/bin/env bash
# Runs inside the private namespace: loopback up, our hosts file, then the suite, which serves the fake web on
# port 80 itself.
set -euo pipefail
suite=$1
hosts=$2
shift 2

ip link set lo up
mount --bind "$hosts" /etc/hosts
QT_QPA_PLATFORM=offscreen exec "$suite" "$@"
