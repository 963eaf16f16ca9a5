#!/bin/sh
# Runs the given test program inside a new network namespace holding only
# loopback, with the default head address 192.168.0.2 put on it. Exits 77
# (skipped) where namespaces cannot be made (not root).
unshare -n true 2>/dev/null || { echo "cannot create a network namespace: skipped"; exit 77; }
exec unshare -n sh -c 'ip link set lo up && ip addr add 192.168.0.2/32 dev lo && HALVEX_NETNS=1 exec "$0" "$@"' "$@"
