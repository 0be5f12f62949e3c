#!/usr/bin/env bash
# The full killed-save proof: a child saves a 200 MB file and is SIGKILLed at
# a random moment of the save, 50 times; after each kill the target must hold
# exactly the old or the new bytes, the backup the old bytes, and nothing else
# may be left. Prints the counts and exits non-zero on any failed check.
# Arguments replace the defaults: `scripts/kill-save.sh MEGABYTES KILLS [SEED]`.
# ctest runs a smaller round of the same program (test kill_save).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

cmake --preset dev >/dev/null
cmake --build build/dev --target keyloft_kill_save -j2 >/dev/null

if (($# == 0)); then
    set -- 200 50
fi
exec build/dev/tests/keyloft_kill_save "$@"
