#!/usr/bin/env bash
# Fuzzes the reading, the byte-exact round trip and random edits with
# libFuzzer under address and undefined-behaviour sanitizers.
#
#   scripts/fuzz.sh SECONDS [JOBS]
#
# Seeds from tests/data and tests/fuzz/corpus, works in build/fuzz/corpus, and
# at the end merges the inputs that reach new code into tests/fuzz/corpus,
# which the ordinary test run replays. A failing input is written to
# build/fuzz/ as crash-* and the script exits non-zero.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if (($# < 1 || $# > 2)); then
    echo "usage: scripts/fuzz.sh SECONDS [JOBS]" >&2
    exit 2
fi
seconds=$1
jobs=${2:-1}

scripts/install-deps.sh clang-14 libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_ini -j2

fuzzer=build/fuzz/tests/fuzz/fuzz_ini
work=build/fuzz/corpus
mkdir -p "$work" tests/fuzz/corpus

options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="$root/build/fuzz/")
if ((jobs > 1)); then
    options+=(-jobs="$jobs" -workers="$jobs")
fi
# With parallel jobs libFuzzer writes fuzz-N.log into the current folder:
# run it from the build folder.
(cd build/fuzz && "$root/$fuzzer" "${options[@]}" "$root/$work" "$root/tests/fuzz/corpus" "$root/tests/data")

# Keep only what adds coverage to the committed corpus.
"$fuzzer" -merge=1 tests/fuzz/corpus "$work" 2>&1 | tail -n 2
echo "fuzz: corpus has $(find tests/fuzz/corpus -type f ! -name .keep | wc -l) inputs"
