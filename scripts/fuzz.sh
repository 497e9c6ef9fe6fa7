#!/usr/bin/env bash
# Builds the fuzz harnesses of fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (build/fuzz) and runs each for the given seconds (default 20), from a
# copy of its seed corpus, two at a time: scripts/fuzz.sh [SECONDS]. An input that crashes a
# harness, hangs it (10 s) or leaks is kept as fuzz/regressions/<harness>/<kind>-<hash> and fails
# the script; the test suite replays every kept input, so commit it with the fix.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${ZOR_FUZZ_BUILD:-build/fuzz}
harnesses=(device_reply_fuzz telnet_client_fuzz sim_command_fuzz tester_args_fuzz)

# libFuzzer and the sanitizer runtimes of clang (Debian only recommends them with clang).
scripts/deps.sh clang libclang-rt-14-dev

log=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$log" "$work"' EXIT
{ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON &&
  cmake --build "$build" -j2 --target "${harnesses[@]}"; } >"$log" 2>&1 || { cat "$log"; exit 1; }

# One harness: its input copy, its run, its log and status in $work.
fuzz() {
  local harness=$1 status=0
  mkdir -p "$work/$harness" "fuzz/regressions/$harness"
  cp fuzz/corpus/"$harness"/* "$work/$harness/"
  "$build/fuzz/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="fuzz/regressions/$harness/" "$work/$harness" >"$work/$harness.log" 2>&1 || status=$?
  echo "$status" >"$work/$harness.status"
}

# Two at a time, one a core.
for ((i = 0; i < ${#harnesses[@]}; i += 2)); do
  for harness in "${harnesses[@]:i:2}"; do fuzz "$harness" & done
  wait
done

failed=()
for harness in "${harnesses[@]}"; do
  out=$work/$harness.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out")
  if [ "$(cat "$work/$harness.status")" -eq 0 ]; then
    echo "$harness: ${runs:-?} inputs in ${seconds} s (${rate:-?}/s), no crash"
  else
    echo "$harness: FAILED after ${runs:-?} inputs; the input is kept in fuzz/regressions/$harness/:"
    grep -E "^==[0-9]+==ERROR|^SUMMARY|ALARM|Test unit written|deadly signal|runtime error" "$out" || tail -n 20 "$out"
    failed+=("$harness")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzing found faults in: ${failed[*]}"; exit 1; }
