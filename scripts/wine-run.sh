#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests (CTest's emulator of the mingw build), in a Wine
# prefix of our own and without Wine's debug output: wine-run.sh PROGRAM.exe [ARGUMENTS...]
#
# The prefix is ZOR_WINEPREFIX when set (scripts/test-windows.sh makes a fresh one per run),
# otherwise a folder of this user's under the temporary directory, kept between runs because
# creating one takes several seconds.
set -euo pipefail

wine=$(command -v wine || command -v wine64 || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; fi
if [ -z "$wine" ]; then
  echo "wine-run.sh: Wine is not installed (Debian package wine64)" >&2
  exit 127
fi

prefix=${ZOR_WINEPREFIX:-${TMPDIR:-/tmp}/zor-wine-$(id -u)}
mkdir -p "$prefix"
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs while the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Programs started together must not both create the prefix.
{
  flock 9
  if [ ! -f "$prefix/.zor-ready" ]; then
    "$wine" wineboot --init >/dev/null 2>&1 || true
    touch "$prefix/.zor-ready"
  fi
} 9>"$prefix/.zor-lock"

exec "$wine" "$@"
