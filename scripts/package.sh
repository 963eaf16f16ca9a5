#!/usr/bin/env bash
# Makes packages in build/packages/, each from its own preset build:
#   halvex-storedata               Debian package, the program as shipped (store switch off)  preset linux
#   halvex-storedata-store         Debian package, the program that stores every ping         preset linux-store
#   halvex-storedata-win32         32-bit Windows zip of the first                             preset win32
#   halvex-storedata-store-win32   32-bit Windows zip of the second                            preset win32-store
#   bash scripts/package.sh [PACKAGE...]   the packages named (a preset's name names its package too);
#                                          without one, all four, in a build/packages/ emptied first
#   bash scripts/package.sh --list
# Only what a package holds is built (no tests); a package made again
# replaces its older file. On a fresh Debian machine it first installs what
# it needs (run it as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

packages=(halvex-storedata halvex-storedata-store halvex-storedata-win32 halvex-storedata-store-win32)
presets=(linux linux-store win32 win32-store)
files=("halvex-storedata_*.deb" "halvex-storedata-store_*.deb" "halvex-storedata-[0-9]*-win32.zip"
    "halvex-storedata-store-[0-9]*-win32.zip")  # each package's files, of any version

usage() {
    echo "usage: bash scripts/package.sh [PACKAGE...]"
    echo "       bash scripts/package.sh --list"
}

complain() { # a bad command line: what, the usage lines, and where more is said
    echo "package.sh: $1" >&2
    usage >&2
    echo "Try 'bash scripts/package.sh --list' for the packages." >&2
    exit 2
}

list() {
    for i in "${!packages[@]}"; do printf '%-30s preset %s\n' "${packages[$i]}" "${presets[$i]}"; done
}

# The index of a package, named by its own name or its preset's.
index_of() {
    for i in "${!packages[@]}"; do
        if [ "$1" = "${packages[$i]}" ] || [ "$1" = "${presets[$i]}" ]; then
            echo "$i"
            return
        fi
    done
    return 1
}

case "${1:-}" in
--list) list; exit 0 ;;
--help | -h) usage; echo "Makes the packages named (all four without one) in build/packages/:"; list; exit 0 ;;
-*) complain "unknown option \"$1\"" ;;
esac

chosen=()
for name in "$@"; do
    i=$(index_of "$name") || complain "PACKAGE must be one of ${packages[*]}, not \"$name\""
    [[ " ${chosen[*]} " == *" $i "* ]] || chosen+=("$i")
done
if [ ${#chosen[@]} -eq 0 ]; then
    chosen=("${!packages[@]}")
    rm -rf build/packages
fi

kinds=()
for i in "${chosen[@]}"; do
    case "${presets[$i]}" in
    linux*) wanted=(build package) ;;
    win32*) wanted=(zip) ;;
    esac
    for kind in "${wanted[@]}"; do [[ " ${kinds[*]} " == *" $kind "* ]] || kinds+=("$kind"); done
done
need_packages "${kinds[@]}"

for i in "${chosen[@]}"; do
    preset=${presets[$i]}
    echo "== ${packages[$i]} (preset $preset)"
    cmake --preset "$preset" >/dev/null
    # halvex_packaged: what the install rules take, and nothing else.
    cmake --build --preset "$preset" --target halvex_packaged
    mkdir -p build/packages
    find build/packages -maxdepth 1 -name "${files[$i]}" -delete
    cpack --preset "$preset"
done
rm -rf build/packages/_CPack_Packages
echo "== packages in build/packages:"
ls -l build/packages
