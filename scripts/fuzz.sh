#!/usr/bin/env bash
# Builds the fuzz targets (clang-15, AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer) into
# build-fuzz/ and runs each for SECONDS (default 60) from its seed corpus in fuzz/corpus/ with its
# dictionary, as many at a time as there are cores:
#
#     scripts/fuzz.sh [SECONDS] [TARGET...]      # TARGET: fuzz_intake, or just intake
#
# Prints per target the inputs run, inputs a second, the coverage libFuzzer reached (its cov: and
# ft: figures) and the failures, and the machine's load before and after, since other work on
# the machine slows the targets down. New inputs a run finds are kept in build-fuzz/corpus/TARGET/,
# failing ones in build-fuzz/artifacts/ (copy a fixed one to fuzz/corpus/TARGET/regression-WHAT),
# each target's output in build-fuzz/logs/TARGET.log (a failing input's rerun with allocation
# stacks in TARGET.rerun.log). The exit status is 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do
    name="fuzz_${name#fuzz_}"
    if [ ! -f "fuzz/$name.cpp" ]; then
      echo "No fuzz target $name; the targets are: $(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//' | tr '\n' ' ')" >&2
      exit 2
    fi
    targets+=("$name")
  done
else
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi
scripts/install-deps.sh
source scripts/buildflags.sh
cmake -S . -B build-fuzz "${build_flags[@]}" "${engine_flags[@]}" > /dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
mkdir -p build-fuzz/artifacts build-fuzz/logs

run() {
  local target="$1"
  local dictionary="build-fuzz/fuzz/dict/$target.dict"
  local options=()
  [ -f "$dictionary" ] && options+=("-dict=$dictionary")
  # The target's options from fuzz/CMakeLists.txt (leaks checked at exit, not after every
  # input; a target's longest input).
  read -r -a target_options < "build-fuzz/fuzz/options/$target.txt"
  options+=("${target_options[@]}")
  mkdir -p "build-fuzz/corpus/$target"
  build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=1 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target-" "${options[@]}" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" > "build-fuzz/logs/$target.log" 2>&1
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "Running ${#targets[@]} target(s) for $seconds s each, $(nproc) at a time; load average: $(load)"
pids=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do sleep 1; done
  run "$target" &
  pids+=("$!")
done
failed=0
printf '%-22s %12s %9s %7s %8s %9s\n' target inputs "inputs/s" "cov" "ft" failures
for i in "${!targets[@]}"; do
  target="${targets[$i]}"
  status=0
  wait "${pids[$i]}" || status=$?
  log="build-fuzz/logs/$target.log"
  inputs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
  # The last report line that names them: DONE at the end, else the last before a failure.
  coverage="$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)"
  cov="$(echo "$coverage" | awk '{print $2}')"
  ft="$(echo "$coverage" | awk '{print $4}')"
  failures=0
  if [ "$status" -ne 0 ]; then
    failures=1
    failed=1
  fi
  printf '%-22s %12s %9s %7s %8s %9s\n' "$target" "${inputs:-?}" "${speed:-?}" "${cov:-?}" \
    "${ft:-?}" "$failures"
  if [ "$status" -ne 0 ]; then
    grep -E "property failed|ERROR|SUMMARY|Test unit written|robot harness" "$log" | head -6 |
      sed 's/^/    /'
    # The targets record two frames of each allocation (more cost a third of the time): the
    # failing input again with whole stacks, so that the report says where a block was made
    # and freed.
    artifact="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)"
    if [ -n "$artifact" ] && [ -f "$artifact" ]; then
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}malloc_context_size=30" \
        build-fuzz/bin/"$target" "$artifact" > "build-fuzz/logs/$target.rerun.log" 2>&1 || true
      echo "    with allocation stacks: build-fuzz/logs/$target.rerun.log"
    fi
  fi
done
echo "Load average at the end: $(load)"
exit "$failed"
