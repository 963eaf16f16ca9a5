#!/usr/bin/env bash
# Runs one survey of the installed units (recording, navlog, qkvweb) under the
# running service manager, against headsim on loopback and its NMEA track, with
# a Prometheus server scraping qkvweb: it records, the midnight timer's service
# restarts it on a new data file, a recording stopped alone turns /health to
# 503 and qkvweb_recording to 0, and when the head goes away it fails and is
# started again. The journal holds what each start records to and why it
# failed, none of the trace. Run as root where the halvex-storedata-store
# package is installed (tests/package/check.sh does, also inside a container
# where the machine runs no service manager). Sourced, it only defines the
# helpers the package check shares with it.

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

start_prometheus() { # scraping qkvweb every second, its API on $prometheus_at
    printf '%s\n' 'global: {scrape_interval: 1s, scrape_timeout: 1s}' \
        "scrape_configs: [{job_name: survey, static_configs: [{targets: ['$web_at']}]}]" >"$scratch/prometheus.yml"
    timeout 120 prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/tsdb" \
        --web.listen-address="$prometheus_at" >"$scratch/prometheus.log" 2>&1 &
    prometheus_pid=$!
}

within_20s() { # within_20s COMMAND...: true once COMMAND is, tried every 0.2 s
    for _ in $(seq 100); do "$@" && return; sleep 0.2; done
    return 1
}
prometheus_finds() { # prometheus_finds QUERY VALUE, through its HTTP API
    [ "$(curl -s --max-time 2 "http://$prometheus_at/api/v1/query" --data-urlencode "query=$1" |
        jq -r '.data.result[0].value[1] // empty')" = "$2" ]
}
health_is() { [ "$(curl -s --max-time 2 -o "$scratch/health" -w '%{http_code}' "http://$web_at/health")" = "$1" ]; }
parts_are() { [ "$(systemctl is-active "$instance" "$navlog_unit" "$web_unit" | sort -u)" = "$1" ]; }

# A real survey: it records, the midnight timer's service restarts the
# recording on a new data file, and when the head goes away it fails and is
# started again.
run_instance() {
    [ ! -e "$instance_dir" ] && [ ! -e "$survey_settings" ] || fail "$instance_dir or $survey_settings is there already"
    mkdir -p "$instance_dir" "$(dirname "$survey_settings")"
    printf '[Settings]\nIPAddress=127.0.18.2\n' >"$instance_dir/Halvex_StoreData.INI"
    printf '%s\n' 'NAVLOG_SOURCE=--udp 10118 --bind 127.0.0.1' "QKVWEB_LISTEN=$web_at" QKVWEB_STALE_AFTER=2 >"$survey_settings"
    start_headsim 127.0.18.2 --delay-ms 10 --nmea-udp 10118 --nmea-rate 5
    start_prometheus
    local since
    since="$(date '+%Y-%m-%d %H:%M:%S')"
    instance_started=yes
    systemctl start "$survey"
    within_20s parts_are active || fail "the parts of $survey are not all active"
    [ "$(stat -c %U "$instance_dir")" = halvex-storedata ] || fail "$instance_dir does not belong to halvex-storedata"
    systemctl is-active --quiet halvex-storedata-newday.timer || fail "the instance did not start the midnight timer"
    wait_for_data_files 1
    systemctl start halvex-storedata-newday.service
    wait_for_data_files 2
    # navlog's fixes reach qkvweb through the day's .NAV file.
    for query in up qkvweb_recording qkvweb_fix_quality; do
        within_20s prometheus_finds $query 1 || fail "Prometheus does not find $query 1: $(tail -3 "$scratch/prometheus.log")"
    done
    within_20s health_is 200 || fail "/health does not answer 200: $(cat "$scratch/health")"
    systemctl stop "$instance"
    within_20s health_is 503 && grep -q '^stale: the last record of ' "$scratch/health" ||
        fail "/health does not say the stopped recording is stale: $(cat "$scratch/health")"
    within_20s prometheus_finds qkvweb_recording 0 && prometheus_finds up 1 ||
        fail "Prometheus does not find qkvweb_recording 0 and up 1 with the recording stopped"
    [ "$(systemctl is-active "$navlog_unit" "$web_unit" "$survey" | sort -u)" = active ] ||
        fail "stopping the recording stopped more of the survey"
    systemctl start "$instance"
    wait_for_data_files 3
    kill "$headsim_pid"
    wait "$headsim_pid" || true
    headsim_pid=
    for _ in $(seq 150); do
        [ "$(systemctl show -p NRestarts --value "$instance")" -ge 1 ] && break
        sleep 0.2
    done
    [ "$(systemctl show -p NRestarts --value "$instance")" -ge 1 ] || fail "$instance was not started again after the head failed"
    systemctl stop "$survey"
    parts_are inactive || fail "$survey stopped, but not all of its parts"
    record_counts >/dev/null
    local nav_files=("$instance_dir"/*.NAV)
    [ -s "${nav_files[0]}" ] && [ "$(stat -c %U "${nav_files[0]}")" = halvex-storedata ] ||
        fail "$navlog_unit logged no position of halvex-storedata's: ${nav_files[*]}"
    local journal
    journal="$(journalctl -u "$instance" --since "$since" -o cat --no-pager)"
    local head_text='head 127.0.18.2 port 4040'
    [ "$(grep -c "^Halvex_StoreData: recording to .* ($head_text, range 30 m, gain 3 dB)\$" <<<"$journal")" -ge 3 ] ||
        fail "$instance: the data files recorded to are missing in the journal: $journal"
    grep -q "^Halvex_StoreData: recv() failed, $head_text: " <<<"$journal" ||
        fail "$instance: why recv() failed is not in the journal: $journal"
    ! grep -q 'Send Switches' <<<"$journal" || fail "$instance: the trace reached the journal"
    rm -rf "$instance_dir" "$survey_settings"
    instance_started=no
    echo "$survey: recorded, restarted on a new data file, logged positions, scraped by Prometheus, the recording"
    echo "  stopped alone turned /health to 503 and qkvweb_recording to 0, and it was started again after the head failed"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    fail() {
        echo "package check: $*" >&2
        exit 1
    }
    survey=halvex-survey@package-check.target
    instance=halvex-storedata@package-check.service
    navlog_unit=halvex-storedata-navlog@package-check.service
    web_unit=halvex-storedata-qkvweb@package-check.service
    instance_dir=/var/lib/halvex-storedata/package-check
    survey_settings=/etc/halvex-storedata/package-check.conf
    web_at=127.0.18.3:8080
    prometheus_at=127.0.18.4:19090
    instance_started=no
    headsim_pid=
    prometheus_pid=
    scratch="$(mktemp -d)"
    clean_up() {
        [ -z "$headsim_pid" ] || kill "$headsim_pid" 2>/dev/null || true
        [ -z "$prometheus_pid" ] || { kill "$prometheus_pid" && wait "$prometheus_pid"; } 2>/dev/null || true
        if [ $instance_started = yes ]; then
            systemctl stop "$survey" >/dev/null 2>&1 || true
            rm -rf "$instance_dir" "$survey_settings"
        fi
        rm -rf "$scratch"
    }
    trap clean_up EXIT
    run_instance
fi
