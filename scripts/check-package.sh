#!/usr/bin/env bash
# Builds the Debian package from a clean release build (scripts/package.sh)
# and checks what it installs: the file list against
# packaging/installed-files.txt (in the package and in a `cmake --install`
# into a temporary DESTDIR), its dependencies, desktop-file-validate,
# appstreamcli, lintian (errors fail, warnings are shown), the manual pages
# under groff -ww, the MIME package under update-mime-database and xdg-mime,
# the icon sizes, and that both programs start. Prints one closing line,
# "package checks: N passed, M failed", and exits 1 when any check failed.
#
#   scripts/check-package.sh [--install]
#
# --install also installs the package with apt-get, checks the installed
# programs, menu entry, file association and manual pages, then removes it
# with --purge and checks that nothing is left. That changes the machine, so
# it needs root and is not part of the default run.

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

# The files of the list for one kind of install ("install" or "deb"),
# under PREFIX (without its leading "/"), sorted.
expected_files() {
    local kind=$1 prefix=$2
    awk -v kind="[$kind]" -v prefix="$prefix" '
        /^#/ || NF == 0 { next }
        NF == 1 || $2 == kind { print prefix "/" $1 }' "$expected_list" | LC_ALL=C sort
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

# --- The package -----------------------------------------------------------

build_package() {
    if ! scripts/package.sh >"$work/package.log" 2>&1; then
        tail -n 40 "$work/package.log"
        return 1
    fi
    deb=$(tail -n 1 "$work/package.log")
    echo "$deb ($(du -h "$deb" | cut -f 1))"
}
deb=
check "build the package (scripts/package.sh)" build_package
# Nothing else can be checked without the package; check runs in a subshell,
# so take the path from the log it left.
if ((failed > 0)); then finish; fi
deb=$(tail -n 1 "$work/package.log")
pkg_root=$work/root
dpkg-deb -x "$deb" "$pkg_root"

package_files() {
    expected_files deb usr >"$work/want"
    files_under "$pkg_root" >"$work/have"
    compare_lists "$work/want" "$work/have" || return 1
    # Everything belongs to root, and no file is writable by others.
    dpkg-deb -c "$deb" | awk '$2 != "root/root" || $1 ~ /^.{8}w/ { print "owner or mode:", $0; bad = 1 }
                              END { exit bad }'
}
check "package holds exactly the listed files" package_files

package_depends() {
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    local wanted
    # libqt6widgets6 comes from dpkg-shlibdeps; the plugins are added by hand.
    for wanted in libc6 libqt6widgets6 libqt6svg6 qt6-qpa-plugins; do
        if ! grep -qE "(^|, )$wanted( |,|$)" <<<"$depends"; then
            echo "missing dependency: $wanted"
            return 1
        fi
    done
}
check "package depends on its libraries and Qt plugins" package_depends

lintian_errors() {
    # --fail-on error: warnings are reported but do not fail.
    lintian --fail-on error --tag-display-limit 0 "$deb"
}
check "lintian: no error" lintian_errors

# --- The installed files ---------------------------------------------------

desktop_entry() {
    local output
    output=$(desktop-file-validate "$pkg_root/usr/share/applications/$app_id.desktop" 2>&1)
    local status=$?
    [[ -n "$output" ]] && echo "$output"
    # Hints are advice; errors and warnings fail.
    ((status == 0)) && ! grep -qE '(error|warning):' <<<"$output"
}
check "desktop-file-validate: no error, no warning" desktop_entry

appstream() {
    appstreamcli validate --no-net "$pkg_root/usr/share/metainfo/$app_id.metainfo.xml" &&
        appstreamcli validate-tree --no-net "$pkg_root"
}
check "appstreamcli validate --no-net (metainfo and tree)" appstream

man_pages() {
    local page bad=0 output
    for page in "$pkg_root"/usr/share/man/man1/*.1.gz; do
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
    cp /usr/share/mime/packages/freedesktop.org.xml "$pkg_root/usr/share/mime/packages/$app_id.xml" \
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
    cp "$pkg_root/usr/share/applications/$app_id.desktop" "$share/applications/"
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
    for png in "$pkg_root"/usr/share/icons/hicolor/*x*/apps/"$app_id.png"; do
        size=${png%/apps/*}
        size=${size##*/}
        description=$(file -b "$png")
        if [[ "$description" != "PNG image data, ${size/x/ x }, 8-bit/color RGBA"* ]]; then
            echo "${png#"$pkg_root"}: $description"
            bad=1
        fi
    done
    return "$bad"
}
check "icons: each PNG has its folder's size" icon_sizes

programs_start() {
    local status
    "$pkg_root/usr/bin/keyloft-ini" dump examples/sample.ini >"$work/dump" || {
        echo "keyloft-ini dump failed"
        return 1
    }
    # The editor has started when it is still running after a few seconds.
    QT_QPA_PLATFORM=offscreen timeout 5 "$pkg_root/usr/bin/keyloft" examples/sample.ini
    status=$?
    if ((status != 124)); then
        echo "keyloft ended with status $status instead of running"
        return 1
    fi
}
check "packaged keyloft-ini dumps a file and keyloft starts" programs_start

destdir_install() {
    local destdir=$work/destdir
    DESTDIR=$destdir cmake --install build/package --prefix /usr/local >/dev/null || return 1
    expected_files install usr/local >"$work/want"
    files_under "$destdir" >"$work/have"
    compare_lists "$work/want" "$work/have"
}
check "cmake --install with DESTDIR writes exactly the listed files" destdir_install

# --- Installed on this machine (--install) ---------------------------------

if $install_test; then
    installed_before=$(dpkg-query -W -f='${db:Status-Status}' keyloft 2>/dev/null)
    if [[ "$installed_before" == installed ]]; then
        check "keyloft not installed before the install test" false
        finish
    fi

    apt_install() {
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 \
            --no-install-recommends "$(realpath "$deb")" >"$work/apt.log" 2>&1 || {
            tail -n 20 "$work/apt.log"
            return 1
        }
        dpkg -L keyloft >"$work/dpkg-L"
        grep -c . "$work/dpkg-L" | sed 's/$/ paths installed/'
    }
    check "apt-get install ./keyloft_*.deb" apt_install

    installed_works() {
        local bad=0
        [[ "$(command -v keyloft-ini)" == /usr/bin/keyloft-ini ]] || {
            echo "keyloft-ini is not on the PATH"
            bad=1
        }
        keyloft-ini dump examples/sample.ini >/dev/null || bad=1
        grep -qF "$ini_type=$app_id.desktop" /usr/share/applications/mimeinfo.cache || {
            echo "the menu entry is not in mimeinfo.cache"
            bad=1
        }
        grep -qxF "50:$ini_type:*.ini" /usr/share/mime/globs2 || {
            echo "the system MIME database does not know *.ini"
            bad=1
        }
        man -w keyloft-ini >/dev/null && man -w keyloft >/dev/null || bad=1
        if command -v xdg-mime >/dev/null; then
            mkdir -p "$work/user/config" "$work/user/home"
            local default
            default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u XDG_DATA_DIRS \
                XDG_DATA_HOME="$work/user/home" XDG_CONFIG_HOME="$work/user/config" \
                xdg-mime query default "$ini_type")
            echo "xdg-mime query default $ini_type: $default"
            [[ "$default" == "$app_id.desktop" ]] || bad=1
        fi
        local status
        xvfb-run -a -s "-screen 0 1280x1024x24" timeout 5 keyloft examples/sample.ini
        status=$?
        if ((status != 124)); then
            echo "keyloft under xvfb-run ended with status $status instead of running"
            bad=1
        fi
        return "$bad"
    }
    check "installed: programs, manual pages, menu entry, association" installed_works

    purge() {
        DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q \
            -o DPkg::Lock::Timeout=600 keyloft >"$work/apt-remove.log" 2>&1 || {
            tail -n 20 "$work/apt-remove.log"
            return 1
        }
        local path bad=0
        if dpkg-query -W -f='${db:Status-Status}' keyloft 2>/dev/null | grep -q .; then
            echo "dpkg still lists keyloft"
            bad=1
        fi
        # Files and the package's own folders are gone; shared folders
        # such as /usr/share/applications may stay.
        while read -r path; do
            if [[ -f "$path" || -L "$path" ]]; then
                echo "left behind: $path"
                bad=1
            fi
        done <"$work/dpkg-L"
        [[ ! -e /usr/share/doc/keyloft ]] || {
            echo "left behind: /usr/share/doc/keyloft"
            bad=1
        }
        if grep -qF "$app_id" /usr/share/applications/mimeinfo.cache 2>/dev/null; then
            echo "mimeinfo.cache still names $app_id"
            bad=1
        fi
        return "$bad"
    }
    check "apt-get remove --purge keyloft leaves nothing behind" purge
fi

finish
