#!/usr/bin/env bash
# Runs the ctest suite of a configured and built preset under a virtual X
# server and ends with a one-line summary. Shared by scripts/test.sh and
# scripts/test-asan.sh. Exits with ctest's status.
#
#   scripts/ctest-xvfb.sh PRESET [CTEST ARGUMENTS...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

preset=${1:?usage: scripts/ctest-xvfb.sh PRESET [CTEST ARGUMENTS...]}
shift

log=build/$preset/ctest-output.log
# GUI tests need a real X server; 24-bit colour so that drawn colours come out
# exactly as set. ctest runs the tests one at a time, so the window tests
# never share the server. An empty test list is an error, not a pass.
set +e
xvfb-run -a -s "-screen 0 1600x1200x24" \
    ctest --preset "$preset" --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e

summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true)
echo
echo "${summary:-ctest printed no summary (exit status $status)}"
exit "$status"
