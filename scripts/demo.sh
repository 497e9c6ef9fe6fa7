#!/usr/bin/env bash
# The main job: build, start the simulated device on loopback, and run ZorTester against it by its
# URL. From a terminal ZorTester is interactive (press '?' for help, Esc to end); otherwise it runs
# its switches and ends. Arguments are passed on as switches: scripts/demo.sh -G -H
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --preset default >"$log" && cmake --build --preset default -j2 >"$log" || { cat "$log"; exit 1; }
bin=build/default

coproc SIM { exec "$bin/simulator/zor-sim" --listen 127.0.0.1:0 2>"$log"; }
trap 'kill "$SIM_PID" 2>/dev/null || true; rm -f "$log"' EXIT
read -r -t 10 line <&"${SIM[0]}" || { echo "zor-sim did not start:"; cat "$log"; exit 1; }
url=${line##* }
echo "$line"

switches=("$@")
if [ ! -t 0 ]; then
  # No one to press keys: a round of readouts unless switches were given, then the end.
  [ ${#switches[@]} -gt 0 ] || switches=(-P -N -V -D -U -C -H -S -I -o -M -e)
  switches+=(-T)
fi
status=0
"$bin/tester/ZorTester" "$url" "${switches[@]}" || status=$?
exit "$status"
