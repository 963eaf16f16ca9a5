#!/usr/bin/env bash
# Makes every package (scripts/package.sh) and checks them as a user meets them:
# - lintian, Debian's own package checker, finds no error and no warning;
# - each Debian package has computed dependencies and installs with apt-get;
#   its programs run from PATH and its manual pages render without a warning
#   (groff, man, mandoc);
# - the systemd units verify; the recording service's command, run as the
#   service runs it, records until the head fails and leaves only the
#   settings and the failure for the journal (and where a service manager
#   runs, an instance of the unit records and restarts on a new data file);
# - the store-on package replaces the other, as both hold the same program;
# - removal leaves no file of either behind;
# - each Windows zip holds the Windows programs and a README with CR LF ends.
# Run it as root on a machine it may install into. It refuses to start when
# either package is already installed, and removes what it installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh
need_packages package

main=halvex-storedata
store=halvex-storedata-store
tools=(headsim qkvdump)

fail() {
    echo "package check: $*" >&2
    exit 1
}

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }

apt_get() { # its output is shown only when it fails
    DEBIAN_FRONTEND=noninteractive timeout 300 apt-get -y -q -o DPkg::Lock::Timeout=120 "$@" \
        >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get $* failed"; }
}

for package in $main $store; do
    ! installed "$package" || fail "$package is installed on this machine; remove it first"
done

scratch="$(mktemp -d)"
instance=halvex-storedata@package-check.service
instance_dir=/var/lib/halvex-storedata/package-check
instance_started=no
headsim_pid=
remove_ours() {
    [ -z "$headsim_pid" ] || kill "$headsim_pid" 2>/dev/null || true
    if [ $instance_started = yes ]; then
        systemctl stop "$instance" >/dev/null 2>&1 || true
        rm -rf "$instance_dir"
    fi
    for package in $main $store; do
        if dpkg -s "$package" >/dev/null 2>&1; then
            DEBIAN_FRONTEND=noninteractive timeout 300 apt-get -y -q purge "$package" >/dev/null 2>&1 || true
        fi
    done
    rm -rf "$scratch"
}
trap remove_ours EXIT

timeout 1800 bash scripts/package.sh
main_deb=(build/packages/"$main"_*.deb)
store_deb=(build/packages/"$store"_*.deb)
zips=(build/packages/*-win32.zip)
[ ${#main_deb[@]} = 1 ] && [ -f "${main_deb[0]}" ] || fail "no single $main .deb in build/packages"
[ ${#store_deb[@]} = 1 ] && [ -f "${store_deb[0]}" ] || fail "no single $store .deb in build/packages"
[ ${#zips[@]} = 2 ] || fail "expected two Windows zips in build/packages, found: ${zips[*]}"

version="$(dpkg-deb -f "${main_deb[0]}" Version)"

echo "== lintian"
for deb in "${main_deb[0]}" "${store_deb[0]}"; do
    lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || {
        grep -v '^running with root privileges' "$scratch/lintian.log" >&2
        fail "lintian finds errors or warnings in $deb"
    }
done

echo "== $main: computed dependencies, installed with apt-get"
for deb in "${main_deb[0]}" "${store_deb[0]}"; do
    depends="$(dpkg-deb -f "$deb" Depends)"
    case "$depends" in *libc6*) ;; *) fail "$deb: dependencies not computed (Depends: '$depends')" ;; esac
done
apt_get install "./${main_deb[0]}"
installed $main || fail "apt-get did not install $main"

echo "== programs from PATH"
for program in Halvex_StoreData "${tools[@]}"; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not on PATH as /usr/bin/$program"
done
for tool in "${tools[@]}"; do
    help="$(cd / && timeout 10 "$tool" --help)" || fail "installed $tool --help failed"
    [ "$help" = "$(timeout 10 "build/linux/tools/$tool" --help)" ] ||
        fail "installed $tool --help differs from the build's"
    [ "$(timeout 10 "$tool" --version)" = "$tool $version" ] || fail "installed $tool --version is not '$tool $version'"
done

echo "== manual pages"
# A dpkg told to leave manual pages out (as slim container images are) does
# not install them; the pages are then checked unpacked from the package.
man_dir=/usr/share/man/man1
if [ ! -e $man_dir/Halvex_StoreData.1.gz ] && grep -qs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "this machine's dpkg leaves manual pages out: checking them unpacked from ${main_deb[0]}"
    dpkg-deb -x "${main_deb[0]}" "$scratch/root"
    man_dir="$scratch/root/usr/share/man/man1"
fi
for page in man/*.1; do
    name="$(basename "$page" .1)"
    installed_page="$man_dir/$name.1.gz"
    [ -f "$installed_page" ] || fail "$name.1.gz is not installed"
    if [ "$man_dir" = /usr/share/man/man1 ]; then
        [ "$(man -w "$name")" = "$installed_page" ] || fail "man $name does not find $installed_page"
    fi
    zcat "$installed_page" | cmp -s - "$page" || fail "$installed_page is not $page"
    warnings="$(groff -man -ww -z "$page" 2>&1)"
    [ -z "$warnings" ] || fail "groff warns on $name.1: $warnings"
    warnings="$(mandoc -Tlint "$page" 2>&1)"
    [ -z "$warnings" ] || fail "mandoc warns on $name.1: $warnings"
    rendered="$(MANWIDTH=80 timeout 60 man --warnings=w -l "$installed_page" 2>"$scratch/man.err")"
    [ ! -s "$scratch/man.err" ] || fail "man warns on $name.1: $(cat "$scratch/man.err")"
    case "$rendered" in *NAME*"$name"*) ;; *) fail "man $name shows no page" ;; esac
done

echo "== systemd units"
unit_dir=/usr/lib/systemd/system
units=("$unit_dir/halvex-storedata@.service" "$unit_dir/halvex-storedata-newday.timer"
    "$unit_dir/halvex-storedata-newday.service")
for unit in "${units[@]}"; do [ -f "$unit" ] || fail "$unit is not installed"; done
# The manual page the units name is looked up too, unless dpkg left it out.
man_lookup=yes
[ "$man_dir" = /usr/share/man/man1 ] || man_lookup=no
messages="$(systemd-analyze verify --man=$man_lookup "${units[@]}" 2>&1)" || fail "systemd-analyze verify failed: $messages"
[ -z "$messages" ] || fail "systemd-analyze verify: $messages"
[ "$(id -un halvex-storedata 2>/dev/null)" = halvex-storedata ] || fail "the service's user halvex-storedata was not made"
echo "${units[*]}: verified"

files_of() { # the files (not directories) a package installed
    dpkg -L "$1" | while read -r path; do [ -d "$path" ] || echo "$path"; done
}
main_files="$(files_of $main)"

echo "== $store replaces $main"
apt_get install "./${store_deb[0]}"
installed $store || fail "apt-get did not install $store"
! installed $main || fail "$main is still installed beside $store"
owner="$(dpkg -S /usr/bin/Halvex_StoreData)"
[ "$owner" = "$store: /usr/bin/Halvex_StoreData" ] || fail "/usr/bin/Halvex_StoreData belongs to '$owner'"
store_files="$(files_of $store)"

start_headsim() { # start_headsim ADDRESS OPTION...: waits until it listens
    /usr/bin/headsim --address "$@" >"$scratch/headsim.out" 2>"$scratch/headsim.log" &
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

echo "== the recording service's command, as the service runs it"
# As its own user, in a survey directory, standard input /dev/null and no
# controlling terminal. The head closes the connection at its 100th command,
# after 12 pings: the command ends with status 1, and the journal would get the
# settings lines and the failed call, none of the trace.
service_unit=$unit_dir/halvex-storedata@.service
exec_start="$(sed -n 's/^ExecStart=//p' $service_unit | sed 's/\$\$/$/g')"
chmod 755 "$scratch"
survey="$scratch/survey"
mkdir "$survey"
printf '[Settings]\nIPAddress=127.0.18.1\n' >"$survey/Halvex_StoreData.INI"
chown -R halvex-storedata:halvex-storedata "$survey"
start_headsim 127.0.18.1 --fault close@100 --once
status=0
(cd "$survey" && timeout 60 setsid -w setpriv --reuid=halvex-storedata --regid=halvex-storedata --init-groups \
    sh -c "exec $exec_start" </dev/null >"$scratch/journal.txt" 2>&1) || status=$?
wait "$headsim_pid" || true
headsim_pid=
[ $status = 1 ] || fail "the service's command ended with status $status, not 1 (output: $(cat "$scratch/journal.txt"))"
expected=$'IP Address: 127.0.18.1\nPort:       4040\nRange:      30m\nGain:       3dB\nrecv() failed!'
[ "$(cat "$scratch/journal.txt")" = "$expected" ] ||
    fail "the service's command passes on, instead of the settings and the failure: $(head -c 2000 "$scratch/journal.txt")"
data_files=("$survey"/*.QKV)
[ ${#data_files[@]} = 1 ] && [ -f "${data_files[0]}" ] || fail "expected one data file in $survey: ${data_files[*]}"
[ "$(stat -c %U "${data_files[0]}")" = halvex-storedata ] || fail "${data_files[0]} does not belong to halvex-storedata"
[ "$(whole_records "${data_files[0]}")" = 12 ] || fail "${data_files[0]} does not hold the 12 pings served"
echo "status 1 after 12 pings, one data file of 12 records, the journal: the settings and recv() failed!"

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
    [ "$(grep -c '^IP Address: 127.0.18.2$' <<<"$journal")" -ge 2 ] || fail "$instance: settings lines missing in the journal: $journal"
    grep -q '^recv() failed!$' <<<"$journal" || fail "$instance: recv() failed! not in the journal: $journal"
    ! grep -q 'Send Switches' <<<"$journal" || fail "$instance: the trace reached the journal"
    rm -rf "$instance_dir"
    instance_started=no
    echo "$instance: recorded, restarted on a new data file, started again after the head failed"
}

echo "== an instance of the service"
if [ -d /run/systemd/system ]; then
    run_instance
else
    echo "no service manager runs on this machine (PID 1 is $(cat /proc/1/comm)): no instance started"
fi

echo "== removed cleanly"
apt_get purge $store
for path in $main_files $store_files /usr/share/doc/$main; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done

echo "== Windows zips"
# qkvdump.exe is in the zips wherever the Windows build makes it (asked of the
# build, as an old .exe may lie in the tree).
windows_programs=(Halvex_StoreData.exe)
win32_targets="$(ninja -C build/win32 -t targets all)"
! grep -q 'qkvdump\.exe:' <<<"$win32_targets" || windows_programs+=(qkvdump.exe)
readme_lines=$(wc -l <README.md)
for zip in "${zips[@]}"; do
    top="$(basename "$zip" .zip)"
    listing="$(cmake -E tar tf "$zip")"
    for file in "${windows_programs[@]}" README.txt; do
        grep -qx "$top/$file" <<<"$listing" || fail "$zip does not hold $file"
    done
    (cd "$scratch" && cmake -E tar xf "$OLDPWD/$zip" "$top/README.txt")
    crlf_lines=$(grep -c $'\r$' "$scratch/$top/README.txt" || true)
    [ "$crlf_lines" = "$readme_lines" ] && [ "$(wc -l <"$scratch/$top/README.txt")" = "$readme_lines" ] ||
        fail "$zip: README.txt has $crlf_lines of $readme_lines lines ending in CR LF"
    echo "$zip: ${windows_programs[*]} README.txt"
done
echo "== packages checked"
