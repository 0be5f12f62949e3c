#!/usr/bin/env bash
# Builds the Debian packages keyloft and keyloft-ini (and their -dbgsym
# packages) with dpkg-buildpackage, from the files a clean checkout holds:
# the tracked files, as they are in the working tree, are copied to
# FOLDER/keyloft-VERSION (FOLDER is build/package by default), packed as the
# source package (dpkg-source -b: the .dsc and .tar.xz, for lintian), then
# built there with `dpkg-buildpackage -us -uc -b`; the .deb, .buildinfo and
# .changes files land in FOLDER, the log in FOLDER/build.log. Prints the
# paths of the .deb files, one a line, as its last lines. DEB_BUILD_OPTIONS
# is passed on (nocheck skips the tests).
#
#   scripts/package.sh [--out FOLDER]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

out=build/package
case "${1:-}" in
    "") ;;
    --out) out=${2:?usage: scripts/package.sh [--out FOLDER]} ;;
    *)
        echo "usage: scripts/package.sh [--out FOLDER]" >&2
        exit 2
        ;;
esac

scripts/install-deps.sh

# The packages do not depend on the builder's compiler cache: ccache with a
# CCACHE_BASEDIR writes relative source paths into the debug information,
# so a cached build would differ from a clean one.
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER

version=$(dpkg-parsechangelog -S Version)
rm -rf "$out"
source_dir=$out/keyloft-$version
mkdir -p "$source_dir"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Tracked files only, so that build folders and stray files stay out;
    # a tracked file deleted in the working tree is left out too.
    git ls-files -z | while IFS= read -r -d '' path; do
        if [[ -e "$path" || -L "$path" ]]; then printf '%s\0' "$path"; fi
    done | tar --null --no-recursion -T - -cf - | tar -xf - -C "$source_dir"
else
    tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$source_dir"
fi

(cd "$out" && dpkg-source -b "keyloft-$version" && cd "keyloft-$version" &&
    dpkg-buildpackage -us -uc -b -j2) >"$out/build.log" 2>&1 || {
    tail -n 60 "$out/build.log" >&2
    echo "package: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
    exit 1
}

shopt -s nullglob
debs=("$out"/*.deb)
if ((${#debs[@]} == 0)); then
    echo "package: dpkg-buildpackage made no .deb in $out" >&2
    exit 1
fi
printf '%s\n' "${debs[@]}"
