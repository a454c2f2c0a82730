#!/usr/bin/env bash
# Runs every libFuzzer target of the native build for a fixed time, seeded, a few at a time.
#   scripts/fuzz.sh [seconds-per-target] [target...]      default: 30 seconds, every target
# Each target starts from a copy of its committed corpus (native/corpus/<name>/) in
# $NATIVE_BUILD_DIR/fuzz/<name>/, so new inputs stay out of the tree. An input that crashes a target
# is written to $NATIVE_BUILD_DIR/fuzz/crashes/ and makes the run fail; fix the decoder, add a unit
# test, and copy the input into the target's corpus. FUZZ_JOBS (default: one per core) targets run
# at once; FUZZ_SEED (default 1) seeds every run, so a CI run is repeatable.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD_DIR:-$top/build-native}
seconds=${1:-30}
shift || true
jobs=${FUZZ_JOBS:-$(nproc)}
seed=${FUZZ_SEED:-1}

if [ ! -d "$native" ]; then
  cmake -S "$top/native" -B "$native" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$native" -j"$(nproc)" -- --no-print-directory >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in "$top"/native/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

work=$native/fuzz
mkdir -p "$work/crashes" "$work/logs"

run_one() {
  local name=$1
  rm -rf "$work/$name"
  cp -r "$top/native/corpus/$name" "$work/$name"
  # -fork 0, one process: a fixed seed then gives the same run on the same build.
  "$native/fuzz_$name" -seed="$seed" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/crashes/$name-" "$work/$name" \
    >"$work/logs/$name.log" 2>&1 && echo 0 >"$work/logs/$name.rc" || echo $? >"$work/logs/$name.rc"
}

status=0
started=()
running=0
for name in "${targets[@]}"; do
  [ -x "$native/fuzz_$name" ] || { echo "no fuzz target $name" >&2; status=1; continue; }
  rm -f "$work/logs/$name.rc"
  run_one "$name" &
  started+=("$name")
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

printf '%-12s %12s  %s\n' target executions result
for name in "${started[@]}"; do
  result=clean
  [ "$(cat "$work/logs/$name.rc" 2>/dev/null)" = 0 ] || { result="FAILED (see $work/logs/$name.log)"; status=1; }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/logs/$name.log" | tail -1)
  printf '%-12s %12s  %s\n' "$name" "${runs:-?}" "$result"
done
exit $status
