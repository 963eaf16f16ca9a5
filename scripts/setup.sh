#!/usr/bin/env bash
# Installs, with apt-get on Debian, whatever of the build, the tests and the
# packages' tools is missing, by kind. As a command (as root):
#   bash scripts/setup.sh [KIND...]   install the kinds named (default: build)
#   bash scripts/setup.sh --list      say what each kind installs and what of it is missing
# The other scripts source it and call: need_packages KIND...
# Nothing is installed, and apt-get is not run, when all of a kind is there.

setup_kinds=(build readers e2e windows zip package package-check fuzz)

setup_kind_says() { # what a kind is for
    case "$1" in
    build) echo "the build: compiler, CMake, Ninja, GoogleTest, zlib, libpng, libvterm, netCDF, libdeflate, libmicrohttpd, GDAL, PROJ" ;;
    readers) echo "the readers of qkvdump's exports: gpsbabel, ncdump, ogrinfo, pandas, netCDF4, xarray, matplotlib, PIL, gpsd, GDAL's and PROJ's Python, gsw, Signal K's NMEA parser (npm)" ;;
    e2e) echo "the end-to-end tests: namespaces, ip, script, curl, Chromium, promtool, and the readers" ;;
    windows) echo "the Windows tests: the cross compilers, their zlib, Wine (wine32 where 32-bit programs run)" ;;
    zip) echo "the Windows zips: the 32-bit cross compiler and its zlib, mandoc for the manual pages as text" ;;
    package) echo "the Debian packages: dpkg-shlibdeps, which works out their dependencies" ;;
    package-check) echo "the package check: lintian, man, groff, mandoc, systemd's unit checker, containers, Prometheus" ;;
    fuzz) echo "the fuzzers: clang and libFuzzer" ;;
    esac
}

missing_packages=()
kind_packages=()
wine32_wanted=
npm_wanted=

# An NMEA reader independent of ours and of gpsd for the depth sentences qkvdump --nmea-out sends: Signal K's, which
# its servers feed chart plotters with, from npm at a pinned version, where tests/e2e/test_follow.cpp finds it.
NMEA_READER_PACKAGE=@signalk/nmea0183-signalk@3.20.1
NMEA_READER_DIR=/usr/local/lib/halvex-tests

need() { # need TEST PACKAGE: the package is wanted when TEST fails
    kind_packages+=("$2")
    eval "$1" >/dev/null 2>&1 || missing_packages+=("$2")
}

need_kind() { # the packages of one kind, each with its test
    case "$1" in
    build)
        need "command -v g++" g++
        need "command -v cmake" cmake
        need "command -v ninja" ninja-build
        need "test -f /usr/include/gtest/gtest.h" libgtest-dev
        need "test -f /usr/include/gmock/gmock.h" libgmock-dev
        need "test -f /usr/include/zlib.h" zlib1g-dev
        need "test -f /usr/include/png.h" libpng-dev
        need "test -f /usr/include/vterm.h" libvterm-dev
        need "test -f /usr/include/netcdf.h" libnetcdf-dev
        need "test -f /usr/include/libdeflate.h" libdeflate-dev
        need "test -f /usr/include/microhttpd.h" libmicrohttpd-dev
        need "test -f /usr/include/gdal/gdal.h" libgdal-dev
        need "test -f /usr/include/proj.h" libproj-dev
        ;;
    readers)
        need "command -v gpsbabel" gpsbabel
        need "command -v ncdump" netcdf-bin
        need "command -v ogrinfo" gdal-bin
        need "/usr/bin/python3 -c 'import pandas'" python3-pandas
        need "/usr/bin/python3 -c 'import netCDF4'" python3-netcdf4
        need "/usr/bin/python3 -c 'import xarray'" python3-xarray
        need "/usr/bin/python3 -c 'import matplotlib'" python3-matplotlib
        need "/usr/bin/python3 -c 'import PIL'" python3-pil
        need "command -v gpsd || test -x /usr/sbin/gpsd" gpsd
        need "command -v gpspipe" gpsd-clients
        need "/usr/bin/python3 -c 'from osgeo import gdal'" python3-gdal
        need "/usr/bin/python3 -c 'import pyproj'" python3-pyproj
        need "/usr/bin/python3 -c 'import gsw'" python3-gsw
        need "/usr/bin/python3 -c 'import pynmea2'" python3-nmea2
        need "command -v node" nodejs
        need "command -v npm" npm
        nmea_reader_there || npm_wanted=yes
        ;;
    e2e)
        need "command -v unshare" util-linux
        need "command -v ip" iproute2
        need "command -v script" bsdutils
        # qkvweb's page in a real browser, its endpoints over HTTP, its metrics checked.
        need "command -v curl" curl
        need "command -v chromium" chromium
        need "command -v promtool" prometheus
        need_kind readers
        ;;
    windows)
        need "command -v i686-w64-mingw32-g++" g++-mingw-w64-i686
        need "test -f /usr/i686-w64-mingw32/lib/libz.a" libz-mingw-w64-dev
        need "test -x /usr/lib/wine/wine64" wine64
        # Without its preloader, Wine's loader now and then ends a program
        # before it runs, silently, with status 1 (about one start in
        # 5,000 here): the ranges Windows programs need are not held
        # before the C library is mapped. Debian only suggests it.
        need "test -x /usr/lib/wine/wine64-preloader" wine64-preloader
        need "command -v wine" wine
        if [ "${HALVEX_WINDOWS_UNDER_WINE:-}" != win64 ] && bash scripts/runs_32bit.sh >/dev/null; then
            wine32_wanted=yes
        else
            need "command -v x86_64-w64-mingw32-g++" g++-mingw-w64-x86-64
        fi
        ;;
    zip)
        need "command -v i686-w64-mingw32-g++" g++-mingw-w64-i686
        need "test -f /usr/i686-w64-mingw32/lib/libz.a" libz-mingw-w64-dev
        need "command -v mandoc" mandoc
        ;;
    package)
        need "command -v dpkg-shlibdeps" dpkg-dev
        ;;
    package-check)
        need "command -v lintian" lintian
        need "command -v mandoc" mandoc
        need "command -v man" man-db
        need "command -v groff" groff-base
        need "command -v systemd-analyze" systemd
        # Where no service manager runs, one boots in a container to run
        # a survey of the units, which a Prometheus server scrapes.
        need "command -v systemd-nspawn" systemd-container
        need "command -v setpriv" util-linux
        need "command -v prometheus" prometheus
        need "command -v curl" curl
        need "command -v jq" jq
        ;;
    fuzz)
        need "command -v clang++" clang
        # The fuzzer runtime is there when a fuzz target links.
        need "echo 'extern \"C\" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
              clang++ -fsanitize=fuzzer -x c++ - -o /dev/null" libclang-rt-14-dev
        ;;
    *) return 1 ;;
    esac
}

need_packages() {
    for kind in "$@"; do
        need_kind "$kind" || { echo "setup.sh: unknown kind \"$kind\" (kinds: ${setup_kinds[*]})" >&2; return 2; }
    done
    if [ ${#missing_packages[@]} -gt 0 ]; then
        echo "== installing for $*: ${missing_packages[*]}"
        apt_install "${missing_packages[@]}"
        missing_packages=()
    fi
    [ -z "$wine32_wanted" ] || need_wine32
    [ -z "$npm_wanted" ] || need_nmea_reader
}

nmea_reader_there() {
    NODE_PATH=$NMEA_READER_DIR/node_modules node -e "require('@signalk/nmea0183-signalk')" >/dev/null 2>&1
}

need_nmea_reader() {
    npm_wanted=
    echo "== installing $NMEA_READER_PACKAGE from npm into $NMEA_READER_DIR"
    mkdir -p "$NMEA_READER_DIR"
    npm install --prefix "$NMEA_READER_DIR" --no-audit --no-fund --omit=dev "$NMEA_READER_PACKAGE"
}

# The package lists there are are tried first; they are updated only when the
# install cannot be made from them, and an update that fails stops nothing:
# the install from the lists there are still decides.
apt_install() {
    export DEBIAN_FRONTEND=noninteractive
    local status=0
    if ! apt-get install -y -q --no-install-recommends "$@"; then
        echo "== updating the package lists"
        apt-get update -q || echo "== apt-get update failed; installing from the package lists there are"
        apt-get install -y -q --no-install-recommends "$@" || status=$?
    fi
    quiet_servers_installed
    return $status
}

# Some packages the tests need for a program of theirs (promtool, gpsd) start
# a server of their own where systemd runs, Prometheus's on every interface:
# the tests start the servers they need themselves, on loopback.
quiet_servers_installed() {
    [ -d /run/systemd/system ] || return 0
    local unit
    for unit in prometheus.service gpsd.socket gpsd.service; do
        systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
}

# Wine's 32-bit loader, on a machine whose kernel runs 32-bit programs: the
# Windows tests then run the 32-bit builds we ship. Its packages come from
# Debian's i386 architecture, whose index is the most fragile part of the
# install; where they cannot be had the architecture is taken out again, and
# the tests run the 64-bit builds under wine64 instead (and say so).
need_wine32() {
    wine32_wanted=
    if [ ! -x /usr/lib/wine/wine ]; then
        echo "== installing wine32 (this machine runs 32-bit programs)"
        dpkg --add-architecture i386
        if ! apt_install wine wine32:i386; then
            echo "== wine32 could not be installed: the Windows tests will run the 64-bit builds under wine64"
            local i386_packages
            i386_packages=$(dpkg-query -W -f='${binary:Package}\n' '*:i386' 2>/dev/null || true)
            [ -n "$i386_packages" ] || dpkg --remove-architecture i386
            apt_install g++-mingw-w64-x86-64
            return
        fi
    fi
    # As for wine64: without it a program now and then does not start.
    [ -x /usr/lib/wine/wine-preloader ] || apt_install wine32-preloader:i386 ||
        echo "== wine32-preloader could not be installed: a 32-bit program may now and then not start"
}

# Each kind: what it is for, its packages, and those missing.
setup_list() {
    for kind in "${setup_kinds[@]}"; do
        kind_packages=()
        missing_packages=()
        wine32_wanted=
        need_kind "$kind"
        echo "$kind: $(setup_kind_says "$kind")"
        echo "    ${kind_packages[*]}"
        if [ ${#missing_packages[@]} -gt 0 ]; then
            echo "    missing: ${missing_packages[*]}"
        else
            echo "    all there"
        fi
        if [ -n "$wine32_wanted" ]; then
            echo "    and wine32:i386, as this machine runs 32-bit programs: $([ -x /usr/lib/wine/wine ] && echo there || echo missing)"
        fi
        if [ "$kind" = readers ]; then
            echo "    and $NMEA_READER_PACKAGE (npm) in $NMEA_READER_DIR: $(nmea_reader_there && echo there || echo missing)"
        fi
    done
    missing_packages=()
    wine32_wanted=
    npm_wanted=
}

setup_usage() {
    echo "usage: bash scripts/setup.sh [KIND...]"
    echo "       bash scripts/setup.sh --list"
}

setup_complain() { # a bad command line: what, the usage lines, and where more is said
    echo "setup.sh: $1" >&2
    setup_usage >&2
    echo "Try 'bash scripts/setup.sh --help' for more information." >&2
    exit 2
}

# Run as a command rather than sourced.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    cd "$(dirname "$0")/.."
    case "${1:-}" in
    --list)
        setup_list
        exit 0
        ;;
    --help | -h)
        setup_usage
        echo "Installs with apt-get what of each KIND is missing (default: build); --list says what each installs."
        for kind in "${setup_kinds[@]}"; do printf '  %-14s %s\n' "$kind" "$(setup_kind_says "$kind")"; done
        exit 0
        ;;
    -*) setup_complain "unknown option \"$1\"" ;;
    esac
    [ $# -gt 0 ] || set -- build
    for kind in "$@"; do
        [ -n "$(setup_kind_says "$kind")" ] || setup_complain "KIND must be one of ${setup_kinds[*]}, not \"$kind\""
    done
    for kind in "$@"; do echo "== $kind: $(setup_kind_says "$kind")"; done
    need_packages "$@"
    echo "== all there: $*"
fi
