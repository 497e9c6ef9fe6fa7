#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer (preset asan, build/asan
# or ZOR_ASAN_BUILD): a memory error, undefined behaviour or a leak at a program's end fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${ZOR_ASAN_BUILD:-build/asan}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
{ cmake --preset asan -B "$build" && cmake --build "$build" -j2; } >"$log" 2>&1 || { cat "$log"; exit 1; }
# As the asan test preset has it; every report ends the program with a failure (the build stops
# at the first error, -fno-sanitize-recover).
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$build" -j2 --output-on-failure
