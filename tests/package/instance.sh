#!/usr/bin/env bash
# Runs one instance of the installed halvex-storedata@.service under the
# running service manager, against headsim on loopback: it records, the
# midnight timer's service restarts it on a new data file, and when the head
# goes away it fails and is started again. The journal holds what each start
# records to and why it failed, none of the trace. Run as root where the
# halvex-storedata-store package is installed (tests/package/check.sh does,
# also inside a container where the machine runs no service manager). Sourced,
# it only defines the helpers the package check shares with it.

start_headsim() { # start_headsim ADDRESS OPTION...: waits until it listens; pings as fast as asked
    /usr/bin/headsim --ping-rate 0 --address "$@" >"$scratch/headsim.out" 2>"$scratch/headsim.log" &
    headsim_pid=$!
    for _ in $(seq 100); do
        grep -q listening "$scratch/headsim.out" && return
        sleep 0.1
    done
    fail "headsim does not listen on $1"
}

whole_records() { # whole_records FILE: prints the record count of a whole file
    local size
    size=$(stat -c %s "$1")
    [ $((size % 8192)) = 0 ] || fail "$1 is $size bytes, not whole records"
    echo $((size / 8192))
}

record_counts() { # the whole records of each data file of the instance, in order
    local file
    for file in "$instance_dir"/*.QKV; do [ ! -f "$file" ] || whole_records "$file"; done
}

wait_for_data_files() { # wait_for_data_files N: until N data files hold a ping or more each
    for _ in $(seq 150); do
        [ "$(record_counts | awk '$1 > 0' | wc -l)" -ge "$1" ] && return
        sleep 0.2
    done
    fail "$instance: no $1 data files with pings in $instance_dir ($(ls "$instance_dir"))"
}

# A real instance: it records, the midnight timer's service restarts it on a
# new data file, and when the head goes away it fails and is started again.
run_instance() {
    [ ! -e "$instance_dir" ] || fail "$instance_dir is there already"
    mkdir -p "$instance_dir"
    printf '[Settings]\nIPAddress=127.0.18.2\n' >"$instance_dir/Halvex_StoreData.INI"
    start_headsim 127.0.18.2 --delay-ms 10
    local since
    since="$(date '+%Y-%m-%d %H:%M:%S')"
    instance_started=yes
    systemctl start "$instance"
    [ "$(stat -c %U "$instance_dir")" = halvex-storedata ] || fail "$instance_dir does not belong to halvex-storedata"
    systemctl is-active --quiet halvex-storedata-newday.timer || fail "the instance did not start the midnight timer"
    wait_for_data_files 1
    systemctl start halvex-storedata-newday.service
    wait_for_data_files 2
    kill "$headsim_pid"
    wait "$headsim_pid" || true
    headsim_pid=
    for _ in $(seq 150); do
        [ "$(systemctl show -p NRestarts --value "$instance")" -ge 1 ] && break
        sleep 0.2
    done
    [ "$(systemctl show -p NRestarts --value "$instance")" -ge 1 ] || fail "$instance was not started again after the head failed"
    systemctl stop "$instance"
    record_counts >/dev/null
    local journal
    journal="$(journalctl -u "$instance" --since "$since" -o cat --no-pager)"
    local head_text='head 127.0.18.2 port 4040'
    [ "$(grep -c "^Halvex_StoreData: recording to .* ($head_text, range 30 m, gain 3 dB)\$" <<<"$journal")" -ge 2 ] ||
        fail "$instance: the data files recorded to are missing in the journal: $journal"
    grep -q "^Halvex_StoreData: recv() failed, $head_text: " <<<"$journal" ||
        fail "$instance: why recv() failed is not in the journal: $journal"
    ! grep -q 'Send Switches' <<<"$journal" || fail "$instance: the trace reached the journal"
    rm -rf "$instance_dir"
    instance_started=no
    echo "$instance: recorded, restarted on a new data file, started again after the head failed"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    fail() {
        echo "package check: $*" >&2
        exit 1
    }
    instance=halvex-storedata@package-check.service
    instance_dir=/var/lib/halvex-storedata/package-check
    instance_started=no
    headsim_pid=
    scratch="$(mktemp -d)"
    clean_up() {
        [ -z "$headsim_pid" ] || kill "$headsim_pid" 2>/dev/null || true
        if [ $instance_started = yes ]; then
            systemctl stop "$instance" >/dev/null 2>&1 || true
            rm -rf "$instance_dir"
        fi
        rm -rf "$scratch"
    }
    trap clean_up EXIT
    run_instance
fi
