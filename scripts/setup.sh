# Sourced by the other scripts: installs, with apt-get on Debian, whatever of
# the build and test tools is missing. Call: need_packages KIND...
# KIND: build (compiler, CMake, Ninja, GoogleTest, zlib for qkvdump's pictures,
# libpng for the tests that read them, libvterm for the tests that look at
# what qkvdump --follow draws, the netCDF C library for qkvdump --netcdf), e2e (pty, namespaces, and gpsbabel, which
# reads navlog's logs back), windows (32-bit Windows cross compiler, its zlib,
# and Wine), fuzz (clang, libFuzzer),
# package (Debian package tools, the cross compiler and its zlib, man, groff
# and mandoc, lintian, systemd's unit checker and its containers).

missing_packages=()

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
            if ! command -v wine >/dev/null 2>&1 || ! dpkg -s wine32:i386 >/dev/null 2>&1; then
                dpkg --add-architecture i386
                missing_packages+=(wine wine32:i386)
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
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q
        apt-get install -y -q --no-install-recommends "${missing_packages[@]}"
        missing_packages=()
    fi
}
