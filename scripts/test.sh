#!/usr/bin/env bash
# Builds everything and runs the whole test suite, the Windows build under Wine included (the
# command CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default
cmake --build --preset default -j2
ctest --preset default -j2
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz
# harness for 20 s; a crash fails the run and its input is kept in fuzz/regressions/.
scripts/test-asan.sh
scripts/fuzz.sh 20
# The benchmarks for a moment each, so they keep building and running (bench/run: the table).
bench/run --smoke --build build/default
# Installed as users have it: into a prefix, the examples built against it, the Debian package.
scripts/test-install.sh
# The Windows build of the library and its tests, under Wine.
scripts/test-windows.sh
