#!/usr/bin/env bash
# Installs what is missing, builds the optimised editor and starts it on FILE
# (examples/sample.ini when no file is given).
#
#   scripts/run.sh [FILE]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/release"

if (($# > 1)); then
    echo "usage: scripts/run.sh [FILE]" >&2
    exit 2
fi
# The file is taken relative to the caller's folder, as the editor would.
file=${1:-"$root/examples/sample.ini"}
if [[ ! -f "$file" ]]; then
    echo "run: '$file' is not an existing file; the editor will start empty" >&2
fi

"$root/scripts/install-deps.sh"

(cd "$root" && cmake --preset release >/dev/null)

cmake --build "$build" --target keyloft -j2
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the editor" >&2
    echo "     cannot open its window. Without a desktop, try a virtual X server:" >&2
    echo "       xvfb-run -a scripts/run.sh${1:+ \"$1\"}" >&2
    exit 1
fi
exec "$build/app/keyloft" "$file"
