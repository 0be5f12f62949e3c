#!/usr/bin/env bash
# Builds the Debian package from a clean release build: build/package is
# removed, configured without tests and benchmarks, built with Debian's
# hardening flags and packed by CPack's DEB generator, which runs
# dpkg-shlibdeps for the library dependencies. Prints the package's path,
# build/package/keyloft_<version>_<arch>.deb, as its last line.
#
#   scripts/package.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=build/package

scripts/install-deps.sh

# dpkg-buildflags gives the compiler and linker flags Debian builds its own
# packages with; hardening=+all adds immediate binding (-z now) to the
# default stack protector, fortified functions and relro. CMake reads no
# CPPFLAGS, so the preprocessor flags join CXXFLAGS. Their -ffile-prefix-map
# keeps this folder's path out of the programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS

rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKEYLOFT_WERROR=ON \
    -DKEYLOFT_BUILD_TESTS=OFF -DKEYLOFT_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" --parallel 2
(cd "$build" && cpack -G DEB)

shopt -s nullglob
debs=("$build"/keyloft_*.deb)
if ((${#debs[@]} != 1)); then
    echo "package: expected one keyloft_*.deb in $build, found ${#debs[@]}" >&2
    exit 1
fi
echo "${debs[0]}"
