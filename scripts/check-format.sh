#!/usr/bin/env bash
# Fails when a C++ source of the project is not formatted as .clang-format
# says, and names the files. `scripts/check-format.sh --fix` formats them.
# Runs as a test of its own, so the README's test command and CI check it.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [[ -d .git || -f .git ]] && command -v git >/dev/null 2>&1; then
    mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t sources < <(find core ui app tests bench packaging \
        \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*' | sort)
fi
((${#sources[@]} > 0)) || { echo "check-format: no sources found" >&2; exit 1; }

if [[ ${1:-} == --fix ]]; then
    clang-format -i "${sources[@]}"
    exit 0
fi

if ! clang-format --dry-run -Werror "${sources[@]}" 2>/dev/null; then
    echo "check-format: not formatted (scripts/check-format.sh --fix):" >&2
    for f in "${sources[@]}"; do
        clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "  $f" >&2
    done
    exit 1
fi
echo "check-format: ${#sources[@]} sources formatted"
