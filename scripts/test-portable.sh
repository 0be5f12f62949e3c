#!/usr/bin/env bash
# Builds the core tests in the portable preset (the line scan's byte loop
# alone, without SSE2 or words) and runs them, so that the path other
# processors take is tested too. Extra arguments go to the test program,
# e.g. `scripts/test-portable.sh --gtest_filter='IniScanner*'`.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/install-deps.sh

cmake --preset portable
cmake --build --preset portable --target keyloft_core_tests --parallel 2

exec build/portable/tests/keyloft_core_tests "$@"
