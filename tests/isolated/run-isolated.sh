#!/bin/sh
# Runs the given test program in new network and mount namespaces: the
# network holds only loopback, with the default head address 192.168.0.2 put
# on it, and a 96 KiB file system is mounted at /mnt for the full-disk tests.
# Nothing sent or written there reaches the machine outside. Exits 77
# (skipped) where namespaces cannot be made (not root).
unshare -n -m true 2>/dev/null || { echo "cannot create namespaces: skipped"; exit 77; }
exec unshare -n -m sh -c '
    ip link set lo up &&
    ip addr add 192.168.0.2/32 dev lo &&
    mount -t tmpfs -o size=96k,mode=0777 halvex-small-disk /mnt &&
    HALVEX_NETNS=1 HALVEX_SMALL_DISK=/mnt exec "$0" "$@"' "$@"
