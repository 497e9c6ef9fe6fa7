#!/usr/bin/env bash
# Cross-builds the library and its tests for Windows (preset mingw, build/mingw) and runs them
# under Wine in a fresh Wine prefix; the exchange over loopback uses a zor-sim built for this
# machine: $ZOR_SIM when set, otherwise the one of the default preset (built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 googletest python3

sim=${ZOR_SIM:-}
if [ -z "$sim" ]; then
  [ -f build/default/CMakeCache.txt ] || cmake --preset default
  cmake --build --preset default -j2 --target zor-sim
  sim=$PWD/build/default/simulator/zor-sim
fi

if [ -z "${ZOR_WINEPREFIX:-}" ]; then
  ZOR_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zor-wine.XXXXXX")
  export ZOR_WINEPREFIX
  own_prefix=1
fi
cleanup() {
  local wineserver
  wineserver=$(command -v wineserver || ls /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver 2>/dev/null | head -n 1 || true)
  [ -n "$wineserver" ] && WINEPREFIX=$ZOR_WINEPREFIX "$wineserver" -k 2>/dev/null || true
  [ -n "${own_prefix:-}" ] && rm -rf "$ZOR_WINEPREFIX"
  return 0
}
trap cleanup EXIT

cmake --preset mingw -DZOR_NATIVE_SIM="$sim"
cmake --build --preset mingw -j2
# The prefix is made and the Wine server started before the tests, so that no test's time limit
# pays for them (several seconds on a fresh machine).
scripts/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1 || true
ctest --preset mingw -j2
