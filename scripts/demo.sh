#!/usr/bin/env bash
# The main job: build, start the simulated device on loopback, and talk to it through the library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j2 >/dev/null
bin=build/default

log=$(mktemp)
coproc SIM { exec "$bin/simulator/zor-sim" --listen 127.0.0.1:0 2>"$log"; }
trap 'kill "$SIM_PID" 2>/dev/null || true; rm -f "$log"' EXIT
read -r -t 10 line <&"${SIM[0]}" || { echo "zor-sim did not start:"; cat "$log"; exit 1; }
url=${line##* }
echo "$line"
"$bin/examples/device_info" "$url"
