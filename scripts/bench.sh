#!/usr/bin/env bash
# Builds the optimised benchmarks and runs them: the core's, keyloft-ini's,
# then the window's. Arguments go to the core benchmark, e.g. `scripts/bench.sh --max-lines 1000000` for a quicker run or
# `scripts/bench.sh --keep bench-data` to keep the generated files.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/install-deps.sh"
(cd "$root" && cmake --preset release >/dev/null)
cmake --build "$root/build/release" --target keyloft_bench keyloft_bench_cli keyloft_bench_ui -j2

"$root/build/release/bench/keyloft_bench" "$@"
echo
# keyloft-ini set of one key next to the core's load + save of the same file.
"$root/build/release/bench/keyloft_bench_cli"
echo
# The window on a million lines: its load, save, folding, Find and comment
# commands next to the core's own figures; then every command on a large
# section in each state of the tree (collapsed or expanded, right after the
# load or after Expand all + Collapse all), on files of many small sections,
# of twenty-key sections, and the 450,000-line one, next to the 0.2 s target.
# `keyloft_bench_ui --lines 10000000` does the same at ten million lines.
"$root/build/release/bench/keyloft_bench_ui" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
