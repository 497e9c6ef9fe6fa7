#!/usr/bin/env bash
# zor-sim's control input: a line that never ends is refused and dropped, not kept growing.
set -euo pipefail
sim="$1"
out=$( (head -c 100000 /dev/zero; echo; echo "lines"; sleep 0.5) | timeout 2 "$sim" --listen 127.0.0.1:0 || true)
echo "$out" | grep -q '^error: control line too long$' || { echo "no refusal:"; echo "$out" | head; exit 1; }
echo "$out" | grep -q '^lines DSR=' || { echo "control input not taken after the refusal"; exit 1; }
echo "control input: a line without end refused, the next command answered"
