#!/usr/bin/env bash
# Builds the fuzz targets (clang-15, AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer) into
# build-fuzz/ and runs each for SECONDS (default 60) from its seed corpus in fuzz/corpus/, as many
# at a time as there are cores; prints executions and crashes per target. New inputs a run finds
# are kept in build-fuzz/corpus/TARGET/, failing ones in build-fuzz/artifacts/ (copy a fixed one
# to fuzz/corpus/TARGET/regression-WHAT). The exit status is 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
source scripts/buildflags.sh
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake -S . -B build-fuzz "${build_flags[@]}" "${engine_flags[@]}" > /dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
mkdir -p build-fuzz/artifacts build-fuzz/logs

run() {
  local target="$1"
  mkdir -p "build-fuzz/corpus/$target"
  build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=1 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" > "build-fuzz/logs/$target.log" 2>&1
}

echo "Running ${#targets[@]} targets for $seconds s each, $(nproc) at a time..."
pids=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do sleep 1; done
  run "$target" &
  pids+=("$!")
done
failed=0
printf '%-22s %12s %10s %8s\n' target executions "exec/s" crashes
for i in "${!targets[@]}"; do
  target="${targets[$i]}"
  status=0
  wait "${pids[$i]}" || status=$?
  log="build-fuzz/logs/$target.log"
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
  crashes=0
  if [ "$status" -ne 0 ]; then
    crashes=1
    failed=1
  fi
  printf '%-22s %12s %10s %8s\n' "$target" "${executions:-?}" "${speed:-?}" "$crashes"
  if [ "$status" -ne 0 ]; then
    grep -E "property failed|ERROR|SUMMARY|Test unit written" "$log" | head -5 | sed 's/^/    /'
  fi
done
exit "$failed"
