#!/usr/bin/env bash
# Installs what is missing, builds everything in the dev preset (warnings are
# errors) and runs every test under a virtual X server. Exits with ctest's
# status. Extra arguments go to ctest, e.g. `scripts/test.sh -R Reader`.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/install-deps.sh

cmake --preset dev
cmake --build --preset dev --parallel 2

log=build/dev/ctest-output.log
# GUI tests need a real X server; 24-bit colour so that drawn colours come out
# exactly as set. An empty test list is an error, not a pass.
set +e
xvfb-run -a -s "-screen 0 1600x1200x24" \
    ctest --preset dev --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e

summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true)
echo
echo "${summary:-ctest printed no summary (exit status $status)}"
exit "$status"
