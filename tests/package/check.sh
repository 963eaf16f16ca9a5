#!/usr/bin/env bash
# Makes every package (scripts/package.sh) and checks them as a user meets them:
# - lintian, Debian's own package checker, finds no error and no warning;
# - each Debian package has computed dependencies and installs with apt-get;
#   its programs run from PATH and its manual pages render without a warning
#   (groff, man, mandoc);
# - only the package that records has systemd units, and they verify; the
#   recording service's command, run as the service runs it, records until
#   the head fails and leaves for the journal only what it records to and
#   why it failed, and on a full disk says once that storing stopped; a
#   survey of the units records, logs positions and serves its health, which
#   a Prometheus server scrapes, restarts on a new data file, sees its
#   recording stopped, and is started again after a failure (instance.sh; in
#   a container where no service manager runs here);
# - the store-on package replaces the other, as both hold the same program;
# - removal leaves no file of either behind;
# - each Windows zip holds the Windows programs and a README with CR LF ends;
#   each program is a 32-bit console program that needs no library beyond
#   Windows' own.
# Run it as root on a machine it may install into. It refuses to start when
# either package is already installed, and removes what it installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh
need_packages package-check zip
. tests/package/instance.sh

main=halvex-storedata
store=halvex-storedata-store
tools=(headsim qkvdump navlog qkvweb qkvmap)

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
headsim_pid=
remove_ours() {
    [ -z "$headsim_pid" ] || kill "$headsim_pid" 2>/dev/null || true
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
    warnings="$(groff -man -ww -z "$page" 2>&1 || echo "(groff failed)")"
    [ -z "$warnings" ] || fail "groff warns on $name.1: $warnings"
    warnings="$(mandoc -Tlint "$page" 2>&1 || echo "(mandoc failed)")"
    [ -z "$warnings" ] || fail "mandoc warns on $name.1: $warnings"
    rendered="$(MANWIDTH=80 timeout 60 man --warnings=w -l "$installed_page" 2>"$scratch/man.err")"
    [ ! -s "$scratch/man.err" ] || fail "man warns on $name.1: $(cat "$scratch/man.err")"
    case "$rendered" in *NAME*"$name"*) ;; *) fail "man $name shows no page" ;; esac
done

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

echo "== systemd units"
# Only the package that records has them: a service of the other would run
# for days and record nothing.
! grep -q /systemd/ <<<"$main_files" || fail "$main, which never records, has units: $(grep /systemd/ <<<"$main_files")"
unit_dir=/usr/lib/systemd/system
mapfile -t units < <(grep "^$unit_dir/" <<<"$store_files")
[ ${#units[@]} = 6 ] || fail "expected the six units of a survey in $store: ${units[*]}"
# The manual pages the units name are looked up too, unless dpkg left them out.
man_lookup=yes
[ "$man_dir" = /usr/share/man/man1 ] || man_lookup=no
messages="$(systemd-analyze verify --man=$man_lookup "${units[@]}" 2>&1)" || fail "systemd-analyze verify failed: $messages"
[ -z "$messages" ] || fail "systemd-analyze verify: $messages"
[ "$(id -un halvex-storedata 2>/dev/null)" = halvex-storedata ] || fail "the services' user halvex-storedata was not made"
echo "${units[*]##*/}: verified"

echo "== the recording service's command, as the service runs it"
# As its own user, in a survey directory, standard input /dev/null and no
# controlling terminal; standard output goes nowhere and standard error to
# the journal, as the unit says. The head closes the connection at its 100th
# command, after 12 pings: the command ends with status 1, and the journal
# gets what the run recorded to and why it failed, none of the trace.
service_unit=$unit_dir/halvex-storedata@.service
exec_start="$(sed -n 's/^ExecStart=//p' $service_unit | sed 's/\$\$/$/g')"
grep -qx 'StandardOutput=null' $service_unit && grep -qx 'StandardError=journal' $service_unit ||
    fail "$service_unit does not send standard output nowhere and standard error to the journal"
run_service_command() { # run_service_command DIR JOURNAL: as the service runs it, in DIR
    (cd "$1" && timeout 60 setsid -w setpriv --reuid=halvex-storedata --regid=halvex-storedata --init-groups \
        sh -c "exec $exec_start" </dev/null >/dev/null 2>"$2")
}
chmod 755 "$scratch"
survey="$scratch/survey"
mkdir "$survey"
printf '[Settings]\nIPAddress=127.0.18.1\n' >"$survey/Halvex_StoreData.INI"
chown -R halvex-storedata:halvex-storedata "$survey"
start_headsim 127.0.18.1 --fault close@100 --once
status=0
run_service_command "$survey" "$scratch/journal.txt" || status=$?
wait "$headsim_pid" || true
headsim_pid=
[ $status = 1 ] || fail "the service's command ended with status $status, not 1 (journal: $(cat "$scratch/journal.txt"))"
data_files=("$survey"/*.QKV)
[ ${#data_files[@]} = 1 ] && [ -f "${data_files[0]}" ] || fail "expected one data file in $survey: ${data_files[*]}"
[ "$(stat -c %U "${data_files[0]}")" = halvex-storedata ] || fail "${data_files[0]} does not belong to halvex-storedata"
[ "$(whole_records "${data_files[0]}")" = 12 ] || fail "${data_files[0]} does not hold the 12 pings served"
head_text='head 127.0.18.1 port 4040'
expected="Halvex_StoreData: recording to $(basename "${data_files[0]}") ($head_text, range 30 m, gain 3 dB)
Halvex_StoreData: recv() failed, $head_text: the head closed the connection"
[ "$(cat "$scratch/journal.txt")" = "$expected" ] ||
    fail "the service's command leaves for the journal, instead of the data file and the failure: $(head -c 2000 "$scratch/journal.txt")"
echo "status 1 after 12 pings, one data file of 12 records, the journal: the data file and why recv() failed"

echo "== the recording service's command on a full disk"
# In a mount namespace of its own, on a 96 KiB file system that fills after a
# few pings: the journal is told once that storing stopped, with the data
# file's name and the system's reason.
mkdir "$scratch/small"
start_headsim 127.0.18.1 --fault close@200 --once
export -f run_service_command
export exec_start
unshare -m bash -c 'mount -t tmpfs -o size=96k,mode=0755 halvex-small-disk "$1" && chown halvex-storedata: "$1" &&
    printf "[Settings]\nIPAddress=127.0.18.1\n" >"$1/Halvex_StoreData.INI" && run_service_command "$1" "$2"' \
    - "$scratch/small" "$scratch/full.txt" || true
wait "$headsim_pid" || true
headsim_pid=
stopped="$(grep ': cannot write: No space left on device; ' "$scratch/full.txt")" && [ "$(wc -l <<<"$stopped")" = 1 ] ||
    fail "on a full disk the journal is not told once that storing stopped: $(cat "$scratch/full.txt")"
echo "the journal on a full disk: $stopped"

# Boots systemd in a container over this machine's /usr and /etc into a unit
# that runs instance.sh and powers off. Nothing of this machine's /etc or /var
# changes, and the container's cgroups, made below one of the check's own, go
# at the end.
instance_in_container() {
    local root="$scratch/container" etc_changes="$scratch/container-etc" out="$scratch/container-out"
    local cgroup_name="halvex-package-check-$$" hierarchy link
    local hierarchies=()
    mkdir -p "$root"/{usr,etc,var,proc,sys,dev,run,tmp} "$etc_changes/systemd/system" "$out"
    for link in bin lib lib32 lib64 sbin; do
        [ ! -L "/$link" ] || ln -s "$(readlink "/$link")" "$root/$link"
    done
    cp /etc/os-release "$root/etc/"
    printf '%s\n' '[Unit]' 'Description=Package check: an instance of halvex-storedata@.service' '' \
        '[Service]' 'Type=oneshot' \
        "ExecStart=/bin/sh -c 'bash /check/instance.sh >/out/log 2>&1; echo \$\$? >/out/status'" \
        'ExecStartPost=/bin/systemctl --no-block poweroff' \
        >"$etc_changes/systemd/system/halvex-package-check.service"
    for hierarchy in /sys/fs/cgroup /sys/fs/cgroup/systemd /sys/fs/cgroup/unified; do
        [ -f "$hierarchy/cgroup.procs" ] || continue
        mkdir "$hierarchy/$cgroup_name" || fail "cannot make the cgroup $hierarchy/$cgroup_name"
        hierarchies+=("$hierarchy/$cgroup_name")
    done
    (
        for hierarchy in "${hierarchies[@]}"; do echo $BASHPID >"$hierarchy/cgroup.procs"; done
        exec timeout 300 systemd-nspawn -q -D "$root" --bind-ro=/usr --overlay="/etc:$etc_changes:/etc" \
            --bind-ro="$PWD/tests/package:/check" --bind="$out:/out" --private-network --register=no \
            --keep-unit -b systemd.unit=halvex-package-check.service
    ) >"$scratch/container.log" 2>&1 </dev/null || true
    for hierarchy in "${hierarchies[@]}"; do
        find "$hierarchy" -depth -type d -exec rmdir {} + || echo "could not remove the cgroup $hierarchy" >&2
    done
    [ -f "$out/status" ] || fail "the container did not run the instance check: $(tail -20 "$scratch/container.log")"
    cat "$out/log"
    [ "$(cat "$out/status")" = 0 ] || fail "the instance check failed in the container"
}

echo "== an instance of the service"
if [ -d /run/systemd/system ]; then
    bash tests/package/instance.sh
elif command -v systemd-nspawn >/dev/null; then
    # No service manager runs here: boot one in a container that sees this
    # machine's /usr (with the package installed) and /etc (changes kept apart),
    # with a network of its own, holding only loopback.
    instance_in_container
else
    echo "no service manager runs on this machine (PID 1 is $(cat /proc/1/comm)): no instance started"
fi

echo "== removed cleanly"
apt_get purge $store
for path in $main_files $store_files /usr/share/doc/$main; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done

# The programs we ship for Windows, checked without running them (the tests
# may have run the 64-bit builds): each a 32-bit console program for i386 that
# imports only libraries that come with Windows.
windows_libraries="KERNEL32.dll msvcrt.dll USER32.dll ADVAPI32.dll WSOCK32.dll WS2_32.dll"
check_windows_program() {
    local headers library
    headers="$(i686-w64-mingw32-objdump -p "$1")" || fail "$1 cannot be read as a Windows program"
    grep -q 'file format pei-i386' <<<"$headers" || fail "$1 is not a 32-bit program for i386"
    grep -qE '^Magic[[:space:]]+010b' <<<"$headers" || fail "$1 is not PE32"
    grep -qE '^Subsystem[[:space:]]+0+3[[:space:]]' <<<"$headers" || fail "$1 is not a console program"
    for library in $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers"); do
        grep -qiw -- "$library" <<<"$windows_libraries" || fail "$1 imports $library, which does not come with Windows"
    done
}

echo "== Windows zips"
# qkvdump.exe, navlog.exe and qkvweb.exe are in the zips wherever the Windows build makes it (asked of the
# build, as an old .exe may lie in the tree).
windows_programs=(Halvex_StoreData.exe)
win32_targets="$(ninja -C build/win32 -t targets all)"
! grep -q 'qkvdump\.exe:' <<<"$win32_targets" || windows_programs+=(qkvdump.exe)
! grep -q 'navlog\.exe:' <<<"$win32_targets" || windows_programs+=(navlog.exe)
! grep -q 'qkvweb\.exe:' <<<"$win32_targets" || windows_programs+=(qkvweb.exe)
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
    for file in "${windows_programs[@]}"; do
        (cd "$scratch" && cmake -E tar xf "$OLDPWD/$zip" "$top/$file")
        check_windows_program "$scratch/$top/$file"
    done
    echo "$zip: ${windows_programs[*]} README.txt"
done
echo "== packages checked"
