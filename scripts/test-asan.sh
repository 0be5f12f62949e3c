#!/usr/bin/env bash
# Installs what is missing, builds everything in the asan preset (address and
# undefined-behaviour sanitizers, warnings are errors) and runs every test
# under a virtual X server with the sanitizers set to fail on the first
# fault and on any leak. Exits with ctest's status. Extra arguments go to
# ctest, e.g. `scripts/test-asan.sh -R tst_print`.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# AddressSanitizer: leaks are errors (detect_leaks); an error ends the
# program by SIGABRT rather than exit status 1, which keyloft-ini gives for
# its ordinary failures, so that a test expecting status 1 cannot take a
# sanitizer error for one (abort_on_error); stack frames are kept after
# their function returns, to catch pointers to locals that outlive them (detect_stack_use_after_return);
# a global whose initialiser uses another unit's global not yet initialised
# is an error (check_initialization_order, strict_init_order).
# strict_string_checks stays off: it takes strndup on a buffer that has no
# NUL within its length, which is correct C, for an overflow, and libxkbcommon
# does that each time Qt connects to the X server.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
# Undefined behaviour stops the program with its stack (the preset also
# compiles with -fno-sanitize-recover=undefined).
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Leaks inside system libraries that no code of ours can free; each line of
# the file names what it answers. print_suppressions shows which ones matched.
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=1

exec "$root/scripts/test.sh" --preset asan "$@"
