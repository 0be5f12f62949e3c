#!/usr/bin/env bash
# Installs the Debian packages Keyloft needs to build, run and test, and any
# further packages named as arguments.
# Idempotent and quick: when every package is already installed it asks
# dpkg only and never touches apt. Works as root or through sudo.
set -euo pipefail

packages=(
    # Build tools. The CMake presets use the default generator (make).
    g++
    cmake
    make
    # Core tests; python3 runs keyloft-ini against Python's configparser.
    libgtest-dev
    python3
    # The format check (scripts/check-format.sh, a test of its own).
    clang-format
    git
    # The editor. qt6-base-dev depends on libgl-dev, libglx-dev and
    # libopengl-dev, which Qt's CMake package needs for its OpenGL lookup.
    qt6-base-dev
    qt6-svg-dev
    # GUI tests run under a virtual X server.
    xvfb
    xauth
    # xwininfo: the start-up test looks for the editor's windows.
    x11-utils
    # Print tests: a local CUPS server, its filters, and pdftotext to read
    # the printed pages back.
    cups-daemon
    cups-client
    cups-filters
    poppler-utils
    # A font known to exist, so text metrics do not depend on the machine.
    fonts-dejavu-core
    # Packaging (scripts/package.sh, scripts/check-package.sh):
    # dpkg-buildpackage with debhelper; the validators of the packages and
    # of the installed files.
    dpkg-dev
    debhelper
    desktop-file-utils
    appstream
    lintian
    groff-base
    man-db
    shared-mime-info
    xdg-utils
)

# Callers with needs of their own (the fuzzer, the package checks) name
# further packages as arguments.
packages+=("$@")

# Prints the packages of "$@" that are not installed, one call to dpkg.
not_installed() {
    local installed
    installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null |
        awk '$2 == "installed" { print $1 }' || true)
    local pkg
    for pkg in "$@"; do
        grep -qxF "$pkg" <<<"$installed" || echo "$pkg"
    done
}

mapfile -t missing < <(not_installed "${packages[@]}")

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"

if ((EUID == 0)); then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: not root and sudo is not available; install as root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# Wait for another apt run (another engineer, unattended upgrades) instead of
# failing on its lock.
apt_opts=(-y -q -o DPkg::Lock::Timeout=600)

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install \
    --no-install-recommends "${missing[@]}"

mapfile -t still_missing < <(not_installed "${missing[@]}")
if ((${#still_missing[@]} > 0)); then
    echo "install-deps: still missing after apt-get: ${still_missing[*]}" >&2
    exit 1
fi
echo "install-deps: done"
