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

exec scripts/ctest-xvfb.sh dev "$@"
