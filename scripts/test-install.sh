#!/usr/bin/env bash
# Uses the built project as its users do: installs it into a temporary prefix, checks the man
# pages, builds the examples against the installed library through its CMake package and through
# pkg-config and runs them against the installed zor-sim, then (as root) builds the Debian
# package, installs it with dpkg, runs the installed ZorTester against zor-sim and removes the
# package again. The commands are those of the README.
#
# The build folder is $ZOR_BUILD_DIR when set, otherwise build/default; it must be built already.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${ZOR_BUILD_DIR:-build/default}")
[ -f "$build/CPackConfig.cmake" ] || { echo "test-install.sh: $build is not a configured build" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zor-install.XXXXXX")
sim_pid=
package_installed=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$package_installed" ] && dpkg -r zorline >/dev/null 2>&1
  rm -rf "$work"
  return 0
}
trap cleanup EXIT

passed=0
failed=0
ok=
last=/dev/null
# check NAME COMMAND...: runs the command and counts the result; ok is set when it passed, and
# $last is the file of its output.
check() {
  local name=$1 out=$work/out.$((passed + failed))
  shift
  if "$@" >"$out" 2>&1; then
    echo "ok: $name"
    passed=$((passed + 1))
    ok=1
  else
    echo "FAILED: $name"
    sed 's/^/  | /' "$out"
    failed=$((failed + 1))
    ok=
  fi
  last=$out
}
# The same, only when the check before passed (its output is what the next looks at).
then_check() {
  [ -n "$ok" ] || return 0
  check "$@"
}
# The output of the check before has every one of these lines.
has_lines() {
  local line
  for line in "$@"; do
    grep -qxF -- "$line" "$last" || { echo "missing line: $line"; echo "in:"; cat "$last"; return 1; }
  done
}

# start_sim PROGRAM [OPTION...]: zor-sim on a free loopback port; sets $url.
start_sim() {
  stop_sim
  coproc SIM { exec "$@" --listen 127.0.0.1:0 --noise 0 2>"$work/sim.err"; }
  sim_pid=$SIM_PID
  local line
  read -r -t 10 line <&"${SIM[0]}" || { echo "zor-sim did not start:"; cat "$work/sim.err"; exit 1; }
  url=${line##* }
}
stop_sim() {
  [ -z "$sim_pid" ] && return 0
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

# ---- installed into a prefix ------------------------------------------------------------------
prefix=$work/prefix
check "cmake --install into a prefix" cmake --install "$build" --prefix "$prefix"
libdir=$(grep -m1 '^CMAKE_INSTALL_LIBDIR:' "$build/CMakeCache.txt" | cut -d= -f2)
check "installed files" bash -c '
  cd "$1" && for f in bin/ZorTester bin/zor-sim "$2/libCOM-ZOR4.so.1" "$2/libCOM-ZOR4.so" \
      include/COM-ZOR4/COM-ZOR4.h include/COM-ZOR4/COMPort.h include/COM-ZOR4/com_zor4_export.h \
      "$2/cmake/COM-ZOR4/COM-ZOR4Config.cmake" "$2/cmake/COM-ZOR4/COM-ZOR4ConfigVersion.cmake" \
      "$2/pkgconfig/COM-ZOR4.pc" share/man/man1/ZorTester.1 share/man/man1/zor-sim.1 \
      share/doc/zorline/README.md; do
    [ -e "$f" ] || { echo "missing: $f"; exit 1; }
  done
  [ "$(readelf -d "$2/libCOM-ZOR4.so.1" | sed -n "s/.*SONAME.*\[\(.*\)\]/\1/p")" = libCOM-ZOR4.so.1 ]' \
  _ "$prefix" "$libdir"

# The man pages render without a warning, and zor-sim's documents every option of its --help.
for page in "$prefix"/share/man/man1/*.1; do
  check "man page $(basename "$page") without warnings" bash -c '
    warnings=$( { groff -man -Tutf8 -ww -z "$1"; man --warnings -l "$1" >/dev/null; } 2>&1)
    [ -z "$warnings" ] || { echo "$warnings"; exit 1; }' _ "$page"
done
check "zor-sim's man page has every option of its --help" bash -c '
  page=$(MANWIDTH=200 man -l "$2" 2>/dev/null)
  options=$("$1" --help | grep -o -- "--[a-z][a-z-]*" | sort -u)
  [ -n "$options" ] || { echo "no options in --help"; exit 1; }
  for option in $options; do
    grep -qF -- "$option" <<<"$page" || { echo "not in the man page: $option"; exit 1; }
  done' _ "$prefix/bin/zor-sim" "$prefix/share/man/man1/zor-sim.1"

# The examples against the prefix: the CMake package, the pkg-config file through CMake, and
# pkg-config on the compiler's command line.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
check "examples through find_package" bash -c '
  cmake -S examples -B "$1" -G Ninja -DCMAKE_PREFIX_PATH="$2" && cmake --build "$1" -j2' _ "$work/by-cmake" "$prefix"
check "examples through pkg-config in CMake" bash -c '
  cmake -S examples -B "$1" -G Ninja -DZOR_USE_PKG_CONFIG=ON && cmake --build "$1" -j2' _ "$work/by-pkg-config"
check "pkg-config --modversion" bash -c '[ "$(pkg-config --modversion COM-ZOR4)" = 1.10 ]'
check "the C example with pkg-config's flags" bash -c '
  cc -Wall -Wextra -Werror examples/device_info.c $(pkg-config --cflags --libs COM-ZOR4) -o "$1/device_info" &&
  c++ -std=c++20 -Wall -Wextra -Werror examples/channels.cpp $(pkg-config --cflags --libs COM-ZOR4) -o "$1/channels"' \
  _ "$work"
# The short program of the README, as the README builds it.
check "the README's C program with pkg-config's flags" bash -c '
  sed -n "/^\`\`\`c\$/,/^\`\`\`\$/p" README.md | sed "1d;\$d" >"$1/version.c" && [ -s "$1/version.c" ] &&
  cd "$1" && cc version.c $(pkg-config --cflags --libs COM-ZOR4) -o version' _ "$work"
check "a version above the installed one is refused" bash -c '
  mkdir -p "$1" && printf "%s\n" "cmake_minimum_required(VERSION 3.25)" "project(v LANGUAGES NONE)" \
    "find_package(COM-ZOR4 2.0 CONFIG REQUIRED)" >"$1/CMakeLists.txt" &&
  ! cmake -S "$1" -B "$1/build" -DCMAKE_PREFIX_PATH="$2"' _ "$work/too-new" "$prefix"

start_sim "$prefix/bin/zor-sim"
device_info_lines=("COM-ZOR4 library version 1.10" "Device: ZORLINE HV-4 simulated" "Firmware: 1.02"
                   "Channel 4: off, set 0.0 V, measured 0.000 V")
# Built by CMake they find the library by their run path; built by hand, through LD_LIBRARY_PATH.
for program in by-cmake/device_info by-pkg-config/device_info; do
  check "$program against zor-sim" "$work/$program" "$url"
  then_check "$program prints the device" has_lines "${device_info_lines[@]}"
done
for program in device_info; do
  check "$program against zor-sim" bash -c 'LD_LIBRARY_PATH=$3 "$1" "$2"' _ "$work/$program" "$url" "$prefix/$libdir"
  then_check "$program prints the device" has_lines "${device_info_lines[@]}"
done
check "channels against zor-sim" "$work/by-cmake/channels" "$url"
then_check "channels prints every channel" has_lines "Channel 1: off set      0.0 V, measured     0.000 V" \
    "Channel 4: off set      0.0 V, measured     0.000 V"
check "the README's C program against zor-sim" bash -c 'LD_LIBRARY_PATH=$3 "$1" "$2"' _ "$work/version" "$url" \
  "$prefix/$libdir"
then_check "the README's C program prints the version" has_lines "Firmware version 1.02"
check "channels refuses a port that is not there" bash -c '! "$1" rfc2217://127.0.0.1:1' _ "$work/by-cmake/channels"
check "the installed ZorTester against zor-sim" \
  bash -c 'LD_LIBRARY_PATH=$3 "$1" "$2" -V -C -T' _ "$prefix/bin/ZorTester" "$url" "$prefix/$libdir"
then_check "ZorTester prints the firmware version" has_lines "Communication port opened" "Firmware version: 1.02" \
    "Program finished"
stop_sim

# The README's example of a fault: the first firmware version fails, the second passes.
start_sim "$build/simulator/zor-sim" --fault wrong-echo:1:V
check "ZorTester against a fault of zor-sim" "$build/tester/ZorTester" "$url" -V -V -T
then_check "ZorTester prints the error, then the version" bash -c '
  grep -q "^Error at .*I/O Error Message: " "$1" && grep -A1 "^Error at" "$1" | grep -qx "Firmware version: 1.02"' \
  _ "$last"
stop_sim

# ---- the Debian package -----------------------------------------------------------------------
# One run at a time on this machine installs the package.
exec 9>"${TMPDIR:-/tmp}/zor-package.lock"
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the Debian package is installed with dpkg only as root"
elif ! flock -w 300 9; then
  echo "FAILED: another run held the package lock for 5 minutes"
  failed=$((failed + 1))
elif dpkg-query -W -f='${Status}' zorline 2>/dev/null | grep -q "install ok installed"; then
  echo "skipped: a zorline package is installed on this machine already; it is left as it is"
else
  check "cpack -G DEB" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package"
  deb=$(ls "$work"/package/zorline_*.deb 2>/dev/null | head -n 1)
  check "the package's control data" bash -c '
    info=$(dpkg-deb -f "$1" Package Version Depends Maintainer Description) && echo "$info" &&
    grep -qx "Package: zorline" <<<"$info" && grep -qx "Version: 1.10" <<<"$info" &&
    grep -q "^Depends: .*libc6" <<<"$info" && grep -q "^Maintainer: ." <<<"$info"' _ "$deb"
  check "dpkg -i" dpkg -i "$deb"
  package_installed=1
  check "the package's man pages, library and pkg-config file" bash -c '
    man ZorTester | grep -q "console test utility" && man -w zor-sim && ldconfig -p | grep -q "libCOM-ZOR4.so.1 " &&
    [ "$(PKG_CONFIG_PATH= pkg-config --modversion COM-ZOR4)" = 1.10 ]'
  check "examples against the package through find_package" bash -c '
    cmake -S examples -B "$1" -G Ninja && cmake --build "$1" -j2' _ "$work/by-package"
  start_sim /usr/bin/zor-sim
  check "ZorTester of the package against zor-sim" /usr/bin/ZorTester "$url" -V -T
  then_check "ZorTester of the package prints the firmware version" has_lines "Firmware version: 1.02"
  check "device_info on the package's library against zor-sim" "$work/by-package/device_info" "$url"
  then_check "device_info on the package's library prints the device" has_lines "${device_info_lines[@]}"
  stop_sim
  check "dpkg -r" dpkg -r zorline
  package_installed=
  check "nothing of the package is left" bash -c '
    for f in /usr/bin/ZorTester /usr/bin/zor-sim /usr/include/COM-ZOR4 /usr/lib/cmake/COM-ZOR4 \
        /usr/lib/pkgconfig/COM-ZOR4.pc /usr/share/man/man1/ZorTester.1 /usr/share/doc/zorline; do
      [ ! -e "$f" ] || { echo "left: $f"; exit 1; }
    done
    ! ldconfig -p | grep -q "libCOM-ZOR4.so.1 "'
  dpkg --purge zorline >/dev/null  # not even its entry in dpkg's database is left
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
