#!/usr/bin/env bash
# Makes every package (scripts/package.sh) and checks them as a user meets them:
# - each Debian package has computed dependencies and installs with apt-get;
#   its programs run from PATH and its manual pages render without a warning;
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
tools=(headsim qkvdump navlog)

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
remove_ours() {
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

echo "== $main: computed dependencies, installed with apt-get"
for deb in "${main_deb[0]}" "${store_deb[0]}"; do
    depends="$(dpkg-deb -f "$deb" Depends)"
    case "$depends" in libc6*) ;; *) fail "$deb: dependencies not computed (Depends: '$depends')" ;; esac
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
done

echo "== manual pages"
# A dpkg told to leave manual pages out (as slim container images are) does
# not install them; the pages are then checked unpacked from the package.
man_dir=/usr/share/man/man1
if [ ! -e $man_dir/Halvex_StoreData.1 ] && grep -qs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "this machine's dpkg leaves manual pages out: checking them unpacked from ${main_deb[0]}"
    dpkg-deb -x "${main_deb[0]}" "$scratch/root"
    man_dir="$scratch/root/usr/share/man/man1"
fi
for page in man/*.1; do
    name="$(basename "$page" .1)"
    installed_page="$man_dir/$name.1"
    [ -f "$installed_page" ] || fail "$name.1 is not installed"
    if [ "$man_dir" = /usr/share/man/man1 ]; then
        [ "$(man -w "$name")" = "$installed_page" ] || fail "man $name does not find $installed_page"
    fi
    warnings="$(groff -man -ww -z "$installed_page" 2>&1)"
    [ -z "$warnings" ] || fail "groff warns on $name.1: $warnings"
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

echo "== removed cleanly"
apt_get purge $store
for path in $main_files $store_files /usr/share/doc/$main; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done

echo "== Windows zips"
# qkvdump.exe and navlog.exe are in the zips wherever the Windows build makes it (asked of the
# build, as an old .exe may lie in the tree).
windows_programs=(Halvex_StoreData.exe)
win32_targets="$(ninja -C build/win32 -t targets all)"
! grep -q 'qkvdump\.exe:' <<<"$win32_targets" || windows_programs+=(qkvdump.exe)
! grep -q 'navlog\.exe:' <<<"$win32_targets" || windows_programs+=(navlog.exe)
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
