#!/usr/bin/env bash
# Plays random editor sessions for SECONDS seconds (default 60) on the real
# window under a virtual X server, each checked step by step against the
# session model, and prints every failing seed with its steps. A seed
# replays: `scripts/explore.sh 1 SEED` plays from that seed on.
#
#   scripts/explore.sh [SECONDS] [FIRST SEED]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seconds=${1:-60}
seed=${2:-$(( (RANDOM << 15 | RANDOM) + 1 ))}

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target tst_sessions --parallel 2

echo "exploring for $seconds s from seed $seed"
# QtTest ends a test function after 5 minutes unless told otherwise.
KEYLOFT_EXPLORE_SECONDS=$seconds KEYLOFT_EXPLORE_SEED=$seed \
    QTEST_FUNCTION_TIMEOUT=$(( (seconds + 300) * 1000 )) \
    xvfb-run -a -s "-screen 0 1600x1200x24" build/dev/tests/tst_sessions explore 2>&1 |
    grep -v -E '^(PASS|SKIP|Config|QStandardPaths|\*\*\*)' | sed -e 's/^QINFO  : SessionsTest::explore() //'
exit "${PIPESTATUS[0]}"
