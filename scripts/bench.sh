#!/usr/bin/env bash
# Builds the optimised core benchmark and runs it. Arguments go to the
# benchmark, e.g. `scripts/bench.sh --max-lines 1000000` for a quicker run or
# `scripts/bench.sh --keep bench-data` to keep the generated files.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/install-deps.sh"
(cd "$root" && cmake --preset release >/dev/null)
cmake --build "$root/build/release" --target keyloft_bench -j2

exec "$root/build/release/bench/keyloft_bench" "$@"
