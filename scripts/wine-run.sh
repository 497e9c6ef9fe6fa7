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
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    touch "$prefix/.zor-ready"
  fi
  # The first program of a Wine server starts Wine's services, which hold that program's standard
  # error until the server ends, so a caller reading it would wait seconds after every program:
  # the server and its services are started here, apart from the caller's pipes and from this
  # lock, and kept a while.
  wineserver=$(command -v wineserver || ls /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver 2>/dev/null | head -n 1 || true)
  if [ -n "$wineserver" ] && ! "$wineserver" -k0 2>/dev/null; then
    "$wineserver" -p30 </dev/null >/dev/null 2>&1 9>&- || true
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
} 9>"$prefix/.zor-lock"

exec "$wine" "$@"
