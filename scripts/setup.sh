# Sourced by the other scripts: installs, with apt-get on Debian, whatever of
# the build and test tools is missing. Call: need_packages KIND...
# KIND: build (compiler, CMake, Ninja, GoogleTest, zlib for qkvdump's pictures,
# libpng for the tests that read them, libvterm for the tests that look at
# what qkvdump --follow draws, the netCDF C library for qkvdump --netcdf), e2e (pty, namespaces, and gpsbabel, which
# reads navlog's logs back), windows (the Windows cross compilers, their zlib,
# and Wine: wine32 where this machine runs 32-bit programs, else wine64 and the
# 64-bit cross compiler), fuzz (clang, libFuzzer),
# package (Debian package tools, the cross compiler and its zlib, man, groff
# and mandoc, lintian, systemd's unit checker and its containers).

missing_packages=()
wine32_wanted=

need() { # need TEST PACKAGE: the package is wanted when TEST fails
    eval "$1" >/dev/null 2>&1 || missing_packages+=("$2")
}

need_packages() {
    for kind in "$@"; do
        case "$kind" in
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
            ;;
        e2e)
            need "command -v unshare" util-linux
            need "command -v ip" iproute2
            need "command -v script" bsdutils
            need "command -v gpsbabel" gpsbabel
            need "command -v ncdump" netcdf-bin
            need "command -v ogrinfo" gdal-bin
            need "/usr/bin/python3 -c 'import pandas'" python3-pandas
            need "/usr/bin/python3 -c 'import netCDF4'" python3-netcdf4
            need "/usr/bin/python3 -c 'import xarray'" python3-xarray
            need "/usr/bin/python3 -c 'import matplotlib'" python3-matplotlib
            ;;
        windows)
            need "command -v i686-w64-mingw32-g++" g++-mingw-w64-i686
            need "test -f /usr/i686-w64-mingw32/lib/libz.a" libz-mingw-w64-dev
            need "test -x /usr/lib/wine/wine64" wine64
            need "command -v wine" wine
            if [ "${HALVEX_WINDOWS_UNDER_WINE:-}" != win64 ] && bash scripts/runs_32bit.sh >/dev/null; then
                wine32_wanted=yes
            else
                need "command -v x86_64-w64-mingw32-g++" g++-mingw-w64-x86-64
            fi
            ;;
        package)
            # dpkg-shlibdeps works out the Debian packages' dependencies;
            # lintian checks the packages, man, groff and mandoc the manual
            # pages, systemd-analyze the units.
            need "command -v dpkg-shlibdeps" dpkg-dev
            need "command -v lintian" lintian
            need "command -v mandoc" mandoc
            need "command -v systemd-analyze" systemd
            # Where no service manager runs, one boots in a container to run
            # an instance of the service.
            need "command -v systemd-nspawn" systemd-container
            need "command -v i686-w64-mingw32-g++" g++-mingw-w64-i686
            need "test -f /usr/i686-w64-mingw32/lib/libz.a" libz-mingw-w64-dev
            need "command -v man" man-db
            need "command -v groff" groff-base
            need "command -v setpriv" util-linux
            ;;
        fuzz)
            need "command -v clang++" clang
            # The fuzzer runtime is there when a fuzz target links.
            need "echo 'extern \"C\" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
                  clang++ -fsanitize=fuzzer -x c++ - -o /dev/null" libclang-rt-14-dev
            ;;
        esac
    done
    if [ ${#missing_packages[@]} -gt 0 ]; then
        echo "== installing: ${missing_packages[*]}"
        apt_install "${missing_packages[@]}"
        missing_packages=()
    fi
    [ -z "$wine32_wanted" ] || need_wine32
}

apt_install() {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q || echo "== apt-get update failed; installing from the package lists there are"
    apt-get install -y -q --no-install-recommends "$@"
}

# Wine's 32-bit loader, on a machine whose kernel runs 32-bit programs: the
# Windows tests then run the 32-bit builds we ship. Its packages come from
# Debian's i386 architecture, whose index is the most fragile part of the
# install; where they cannot be had the architecture is taken out again, and
# the tests run the 64-bit builds under wine64 instead (and say so).
need_wine32() {
    wine32_wanted=
    [ -x /usr/lib/wine/wine ] && return
    echo "== installing wine32 (this machine runs 32-bit programs)"
    dpkg --add-architecture i386
    if apt_install wine wine32:i386; then
        return
    fi
    echo "== wine32 could not be installed: the Windows tests will run the 64-bit builds under wine64"
    local i386_packages
    i386_packages=$(dpkg-query -W -f='${binary:Package}\n' '*:i386' 2>/dev/null || true)
    [ -n "$i386_packages" ] || dpkg --remove-architecture i386
    apt_install g++-mingw-w64-x86-64
}
