#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh: keyloft, keyloft-ini and
# their -dbgsym packages) and checks them: the versions, each package's
# files against packaging/installed-files.txt (and a `cmake --install` into
# a temporary DESTDIR against the same list), the debug symbols, the
# dependencies (keyloft-ini needs no Qt), the hardening, lintian (no error,
# no warning), desktop-file-validate, appstreamcli validate --no-net, the
# manual pages under groff -ww, the MIME package under update-mime-database
# and xdg-mime, the icon sizes, the installed README's links, the
# autopkgtests of debian/tests run on the unpacked programs, and that a
# second build (in another folder, without the tests) gives the same bytes.
# Prints one closing line, "package checks: N passed, M failed", and exits
# 1 when any check failed.
#
#   scripts/check-package.sh [--install]
#
# --install also installs both packages with apt-get, checks the installed
# programs, menu entry, file association and manual pages, runs the
# autopkgtests of debian/tests against them, then removes them with --purge
# and checks that nothing is left. That changes the machine, so it needs
# root and is not part of the default run.

# The checks are functions that `check` calls by name.
# shellcheck disable=SC2317,SC2001
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

install_test=false
case "${1:-}" in
    "") ;;
    --install) install_test=true ;;
    *)
        echo "usage: scripts/check-package.sh [--install]" >&2
        exit 2
        ;;
esac

app_id=org.example.keyloft
ini_type=application/x-wine-extension-ini
expected_list=packaging/installed-files.txt

started=$SECONDS
passed=0
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check NAME FUNCTION [ARG...]: runs FUNCTION; it passes when FUNCTION
# returns 0. Its output is shown indented either way (lintian's warnings,
# the reason of a failure).
check() {
    local name=$1
    shift
    local output status
    output=$("$@" 2>&1)
    status=$?
    if ((status == 0)); then
        passed=$((passed + 1))
        echo "PASS  $name"
    else
        failed=$((failed + 1))
        echo "FAIL  $name"
    fi
    if [[ -n "$output" ]]; then
        sed 's/^/      /' <<<"$output"
    fi
}

finish() {
    echo "package checks: $passed passed, $failed failed ($((SECONDS - started)) s)"
    ((failed == 0))
    exit
}

# The files of the list for `cmake --install` ("install") or for one Debian
# package (its name), under PREFIX (without its leading "/"), sorted.
expected_files() {
    local kind=$1 prefix=$2
    awk -v kind="$kind" -v prefix="$prefix" '
        /^#/ || NF == 0 { next }
        (kind == "install" && $NF != "[deb]") || $2 == kind { print prefix "/" $1 }' \
        "$expected_list" | LC_ALL=C sort
}

# Every file and link under FOLDER, relative to it, sorted.
files_under() {
    (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
}

# compare_lists WANTED ACTUAL: prints the differences, fails when any.
compare_lists() {
    local differences
    differences=$(LC_ALL=C comm -3 "$1" "$2")
    if [[ -n "$differences" ]]; then
        echo "missing (want, not there) on the left, unexpected on the right:"
        echo "$differences"
        return 1
    fi
}

# --- The packages ----------------------------------------------------------

out=build/package
packages=(keyloft keyloft-ini)
version=$(dpkg-parsechangelog -S Version)

build_packages() {
    if ! scripts/package.sh >"$work/package.log" 2>&1; then
        tail -n 40 "$work/package.log"
        return 1
    fi
    local pkg
    for pkg in "${packages[@]}" "${packages[@]/%/-dbgsym}"; do
        [[ -f $out/${pkg}_${version}_$(dpkg --print-architecture).deb ]] || {
            echo "no package $pkg $version in $out"
            return 1
        }
    done
    (cd "$out" && du -h ./*.deb)
    grep -E '^[0-9]+% tests passed' "$out/build.log" | sed 's/^/dh_auto_test: /'
}
check "build the packages (scripts/package.sh)" build_packages
# Nothing else can be checked without the packages.
if ((failed > 0)); then finish; fi

arch=$(dpkg --print-architecture)
# deb_of PACKAGE: the path of its .deb.
deb_of() {
    echo "$out/${1}_${version}_$arch.deb"
}
mkdir -p "$work/root" "$work/dbgsym"
for pkg in "${packages[@]}"; do
    dpkg-deb -x "$(deb_of "$pkg")" "$work/root/$pkg"
done
ui_root=$work/root/keyloft
ini_root=$work/root/keyloft-ini

versions() {
    # The changelog's version is the project's, with no Debian revision
    # (the package is native), and the one the programs show.
    local project
    project=$(sed -n 's/^project(keyloft VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
    echo "debian/changelog: $version, CMakeLists.txt: $project"
    [[ "$version" == "$project" ]] || return 1
    local shown
    shown=$("$ini_root/usr/bin/keyloft-ini" --version)
    echo "keyloft-ini --version: $shown"
    [[ "$shown" == "keyloft-ini $version" ]] || return 1
    # The editor's title is checked by the window test below.
    grep -qF "Keyloft $version" "$ui_root/usr/bin/keyloft" || {
        echo "the editor holds no text \"Keyloft $version\""
        return 1
    }
}
check "version $version in the changelog, CMakeLists.txt and the programs" versions

package_files() {
    local pkg bad=0 deb
    for pkg in "${packages[@]}"; do
        deb=$(deb_of "$pkg")
        expected_files "$pkg" usr >"$work/want"
        files_under "$work/root/$pkg" >"$work/have"
        compare_lists "$work/want" "$work/have" || {
            echo "(in $pkg)"
            bad=1
        }
        # Everything belongs to root, and no file is writable by others.
        dpkg-deb -c "$deb" | awk '$2 != "root/root" || $1 ~ /^.{8}w/ { print "owner or mode:", $0; bad = 1 }
                                  END { exit bad }' || bad=1
    done
    return "$bad"
}
check "each package holds exactly its listed files" package_files

debug_symbols() {
    local pkg program id debug bad=0 root=$work/dbgsym
    for pkg in "${packages[@]}"; do
        program=$work/root/$pkg/usr/bin/$pkg
        id=$(readelf -n "$program" | sed -n 's/^ *Build ID: //p')
        dpkg-deb -x "$(deb_of "$pkg-dbgsym")" "$root/$pkg"
        debug=usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
        printf '%s\n' "$debug" "usr/share/doc/$pkg-dbgsym" >"$work/want"
        files_under "$root/$pkg" >"$work/have"
        compare_lists "$work/want" "$work/have" || bad=1
        if [[ -f "$root/$pkg/$debug" ]] && ! readelf -S "$root/$pkg/$debug" 2>/dev/null | grep -qF .debug_info; then
            echo "$pkg-dbgsym: $debug has no .debug_info"
            bad=1
        fi
        # The program itself is stripped, with no .comment section.
        if readelf -S "$program" | grep -qE '\.(debug_info|symtab|comment)\>'; then
            echo "$pkg: /usr/bin/$pkg still has debug, symbol or .comment sections"
            bad=1
        fi
        echo "$pkg: build id $id"
    done
    return "$bad"
}
check "-dbgsym packages hold the debug symbols of stripped programs" debug_symbols

package_depends() {
    local ui ini bad=0 wanted
    ui=$(dpkg-deb -f "$(deb_of keyloft)" Depends)
    ini=$(dpkg-deb -f "$(deb_of keyloft-ini)" Depends)
    echo "keyloft Depends: $ui"
    echo "keyloft-ini Depends: $ini"
    for wanted in libc6 libqt6widgets6 libqt6svg6; do
        grep -qE "(^|, )$wanted( |,|$)" <<<"$ui" || {
            echo "keyloft: missing dependency $wanted"
            bad=1
        }
    done
    # The editor does not run keyloft-ini; the tool needs no Qt.
    if grep -qE "(^|, )keyloft-ini( |,|$)" <<<"$ui"; then
        echo "keyloft depends on keyloft-ini"
        bad=1
    fi
    if grep -qi qt <<<"$ini" || readelf -d "$ini_root/usr/bin/keyloft-ini" | grep -qi 'NEEDED.*qt'; then
        echo "keyloft-ini depends on Qt"
        bad=1
    fi
    return "$bad"
}
check "dependencies: the editor's Qt libraries; keyloft-ini without Qt" package_depends

hardening() {
    local pkg program bad=0
    for pkg in "${packages[@]}"; do
        program=$work/root/$pkg/usr/bin/$pkg
        readelf -h "$program" | grep -qE 'Type: +DYN' || {
            echo "$pkg: not a position-independent executable"
            bad=1
        }
        readelf -lW "$program" | grep -q GNU_RELRO || {
            echo "$pkg: no RELRO segment"
            bad=1
        }
        readelf -dW "$program" | grep -qE 'FLAGS.*\<BIND_NOW\>|FLAGS_1.*\<NOW\>' || {
            echo "$pkg: not linked with -z now"
            bad=1
        }
    done
    # Fortified functions: lintian knows which calls have a checked variant
    # (a program may call none of them); it reports these at the
    # informational level, which does not fail its own check below.
    local tags
    tags=$(lintian --info --tags hardening-no-fortify-functions,hardening-no-relro,hardening-no-bindnow,hardening-no-pie \
        "$(deb_of keyloft)" "$(deb_of keyloft-ini)" 2>/dev/null)
    if [[ -n "$tags" ]]; then
        echo "$tags"
        bad=1
    fi
    return "$bad"
}
check "hardening: PIE, RELRO, -z now in both programs; lintian sees no unfortified call" hardening

lintian_clean() {
    # Errors and warnings fail; the informational and pedantic tags are
    # shown (none today; README's "Install" section lists what is left).
    lintian --fail-on error,warning --info --display-info --pedantic --tag-display-limit 0 \
        "$out/keyloft_${version}_$arch.changes" "$out/keyloft_$version.dsc"
}
check "lintian: no error, no warning (binary and source packages)" lintian_clean

# --- The installed files ---------------------------------------------------

desktop_entry() {
    local output
    output=$(desktop-file-validate "$ui_root/usr/share/applications/$app_id.desktop" 2>&1)
    local status=$?
    [[ -n "$output" ]] && echo "$output"
    # Hints are advice; errors and warnings fail.
    ((status == 0)) && ! grep -qE '(error|warning):' <<<"$output"
}
check "desktop-file-validate: no error, no warning" desktop_entry

appstream() {
    appstreamcli validate --no-net "$ui_root/usr/share/metainfo/$app_id.metainfo.xml" &&
        appstreamcli validate-tree --no-net "$ui_root"
}
check "appstreamcli validate --no-net (metainfo and tree)" appstream

man_pages() {
    local page bad=0 output
    for page in "$ui_root"/usr/share/man/man1/*.1.gz "$ini_root"/usr/share/man/man1/*.1.gz; do
        output=$(zcat "$page" | groff -man -ww -z 2>&1)
        if [[ -n "$output" ]]; then
            echo "${page##*/}: $output"
            bad=1
        fi
        if ! output=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null) || [[ -n "$output" ]]; then
            echo "${page##*/}: man -l: $output"
            bad=1
        fi
    done
    return "$bad"
}
check "manual pages: groff -man -ww and man -l print no warning" man_pages

mime_database() {
    local mime=$work/mime
    mkdir -p "$mime/packages"
    cp /usr/share/mime/packages/freedesktop.org.xml "$ui_root/usr/share/mime/packages/$app_id.xml" \
        "$mime/packages/"
    local output
    # With the folder in the search path it prints nothing when all is well.
    output=$(XDG_DATA_HOME=$work XDG_DATA_DIRS=$work update-mime-database "$mime" 2>&1) || {
        echo "$output"
        return 1
    }
    if [[ -n "$output" ]]; then
        echo "$output"
        return 1
    fi
    grep -qxF "50:$ini_type:*.ini" "$mime/globs2" || {
        echo "globs2 has no *.ini for $ini_type"
        return 1
    }
    grep -qxF "$ini_type text/plain" "$mime/subclasses" || {
        echo "$ini_type is not a sub-class of text/plain"
        return 1
    }
}
check "update-mime-database: *.ini is $ini_type, a text/plain" mime_database

association() {
    if ! command -v xdg-mime >/dev/null; then
        echo "xdg-mime is not installed; skipped"
        return 0
    fi
    # A desktop of its own: only the package's entry and an empty user setup.
    local share=$work/xdg/share
    mkdir -p "$share/applications" "$work/xdg/config" "$work/xdg/home"
    cp "$ui_root/usr/share/applications/$app_id.desktop" "$share/applications/"
    update-desktop-database "$share/applications" || return 1
    local default
    default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_DIRS="$share" \
        XDG_DATA_HOME="$work/xdg/home" XDG_CONFIG_HOME="$work/xdg/config" \
        XDG_CONFIG_DIRS="$work/xdg/config" xdg-mime query default "$ini_type")
    echo "xdg-mime query default $ini_type: $default"
    [[ "$default" == "$app_id.desktop" ]]
}
check "xdg-mime: $ini_type opens in Keyloft" association

icon_sizes() {
    local png size bad=0 description
    for png in "$ui_root"/usr/share/icons/hicolor/*x*/apps/"$app_id.png"; do
        size=${png%/apps/*}
        size=${size##*/}
        description=$(file -b "$png")
        if [[ "$description" != "PNG image data, ${size/x/ x }, 8-bit/color RGBA"* ]]; then
            echo "${png#"$ui_root"}: $description"
            bad=1
        fi
    done
    return "$bad"
}
check "icons: each PNG has its folder's size" icon_sizes

readme_links() {
    # The pictures and HACKING.md are not installed: the installed README
    # links to them on the web site.
    local links
    links=$(zcat "$ui_root/usr/share/doc/keyloft/README.md.gz" | grep -oE '\]\([^)]*\)')
    echo "$links"
    ! grep -vE '^\]\(https?://' <<<"$links"
}
check "installed README links only to the web" readme_links

# run_autopkgtests ENV...: each test of debian/tests/control, run with the
# variables given (the programs to check) from the top of the source tree,
# as autopkgtest runs it.
run_autopkgtests() {
    local name bad=0 output
    # One "Tests:" field may name several tests.
    # shellcheck disable=SC2013
    for name in $(sed -n 's/^Tests: *//p' debian/tests/control); do
        if output=$(env AUTOPKGTEST_TMP="$work" "$@" "debian/tests/$name" 2>&1); then
            echo "$name: passed"
        else
            echo "$name: FAILED"
            bad=1
        fi
        sed 's/^/  /' <<<"$output"
    done
    return "$bad"
}
check "autopkgtests of debian/tests on the unpacked programs" run_autopkgtests \
    KEYLOFT_INI="$ini_root/usr/bin/keyloft-ini" KEYLOFT="$ui_root/usr/bin/keyloft" \
    KEYLOFT_DESKTOP_ENTRY="$ui_root/usr/share/applications/$app_id.desktop" KEYLOFT_VERSION="$version"

destdir_install() {
    local destdir=$work/destdir
    DESTDIR=$destdir cmake --install "$out/keyloft-$version/debian/build" --prefix /usr/local >/dev/null ||
        return 1
    expected_files install usr/local >"$work/want"
    files_under "$destdir" >"$work/have"
    compare_lists "$work/want" "$work/have"
}
check "cmake --install with DESTDIR writes exactly the listed files" destdir_install

reproducible() {
    # The second build differs in its folder and skips the tests
    # (DEB_BUILD_OPTIONS=nocheck); dpkg-buildpackage takes SOURCE_DATE_EPOCH
    # from the changelog for both.
    local again=build/package-again started_at=$SECONDS
    if ! DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }nocheck" \
        scripts/package.sh --out "$again" >"$work/again.log" 2>&1; then
        tail -n 40 "$work/again.log"
        return 1
    fi
    echo "second build: $((SECONDS - started_at)) s"
    local deb bad=0 name
    for deb in "$out"/*.deb; do
        name=${deb##*/}
        if cmp -s "$deb" "$again/$name"; then
            echo "same bytes: $name ($(sha256sum <"$deb" | cut -c 1-16))"
        else
            echo "DIFFERENT: $name"
            diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$again/$name" 2>&1) | head -n 20
            bad=1
        fi
    done
    if [[ "$(cd "$out" && ls ./*.deb)" != "$(cd "$again" && ls ./*.deb)" ]]; then
        echo "the builds made different packages"
        bad=1
    fi
    ((bad == 0)) && rm -rf "$again"
    return "$bad"
}
check "reproducible: a second build gives byte-identical .deb files" reproducible

# --- Installed on this machine (--install) ---------------------------------

if $install_test; then
    installed_packages() {
        dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
            awk '$2 == "installed" || $2 == "config-files" { print $1 }'
    }
    if [[ -n "$(installed_packages)" ]]; then
        check "keyloft and keyloft-ini not installed before the install test" false
        finish
    fi

    apt_install() {
        local debs=() pkg
        for pkg in "${packages[@]}"; do debs+=("$(realpath "$(deb_of "$pkg")")"); done
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 \
            --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 || {
            tail -n 20 "$work/apt.log"
            return 1
        }
        dpkg -L "${packages[@]}" >"$work/dpkg-L"
        grep -c . "$work/dpkg-L" | sed 's/$/ paths installed/'
    }
    check "apt-get install ./keyloft_*.deb ./keyloft-ini_*.deb" apt_install

    installed_works() {
        local bad=0 program
        for program in keyloft keyloft-ini; do
            [[ "$(command -v "$program")" == "/usr/bin/$program" ]] || {
                echo "$program is not on the PATH"
                bad=1
            }
            man -w "$program" >/dev/null || bad=1
        done
        grep -qF "$ini_type=$app_id.desktop" /usr/share/applications/mimeinfo.cache || {
            echo "the menu entry is not in mimeinfo.cache"
            bad=1
        }
        grep -qxF "50:$ini_type:*.ini" /usr/share/mime/globs2 || {
            echo "the system MIME database does not know *.ini"
            bad=1
        }
        if command -v xdg-mime >/dev/null; then
            mkdir -p "$work/user/config" "$work/user/home"
            local default
            default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u XDG_DATA_DIRS \
                XDG_DATA_HOME="$work/user/home" XDG_CONFIG_HOME="$work/user/config" \
                xdg-mime query default "$ini_type")
            echo "xdg-mime query default $ini_type: $default"
            [[ "$default" == "$app_id.desktop" ]] || bad=1
        fi
        return "$bad"
    }
    check "installed: programs, manual pages, menu entry, association" installed_works

    check "autopkgtests of debian/tests on the installed packages" run_autopkgtests

    purge() {
        DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q \
            -o DPkg::Lock::Timeout=600 "${packages[@]}" >"$work/apt-remove.log" 2>&1 || {
            tail -n 20 "$work/apt-remove.log"
            return 1
        }
        local path bad=0 pkg
        if [[ -n "$(installed_packages)" ]]; then
            echo "dpkg still lists $(installed_packages | tr '\n' ' ')"
            bad=1
        fi
        # Files and the packages' own folders are gone; shared folders
        # such as /usr/share/applications may stay.
        while read -r path; do
            if [[ -f "$path" || -L "$path" ]]; then
                echo "left behind: $path"
                bad=1
            fi
        done <"$work/dpkg-L"
        for pkg in "${packages[@]}"; do
            [[ ! -e /usr/share/doc/$pkg ]] || {
                echo "left behind: /usr/share/doc/$pkg"
                bad=1
            }
        done
        if grep -qF "$app_id" /usr/share/applications/mimeinfo.cache 2>/dev/null; then
            echo "mimeinfo.cache still names $app_id"
            bad=1
        fi
        return "$bad"
    }
    check "apt-get remove --purge keyloft keyloft-ini leaves nothing behind" purge
fi

finish
