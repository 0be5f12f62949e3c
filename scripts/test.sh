#!/usr/bin/env bash
# Installs what is missing, builds everything in the dev preset (warnings are
# errors) and runs every test under a virtual X server. Exits with ctest's
# status. Extra arguments go to ctest, e.g. `scripts/test.sh -R Reader`;
# `--preset NAME` first builds and tests another preset (scripts/test-asan.sh).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

preset=dev
if [[ ${1:-} == --preset ]]; then
    preset=${2:?usage: scripts/test.sh [--preset NAME] [CTEST ARGUMENTS...]}
    shift 2
fi

scripts/install-deps.sh

cmake --preset "$preset"
cmake --build --preset "$preset" --parallel 2

exec scripts/ctest-xvfb.sh "$preset" "$@"
