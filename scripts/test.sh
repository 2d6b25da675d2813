#!/usr/bin/env bash
# Installs what is missing, builds twice and runs the tests of both builds:
# - build/: everything, with the window (the default compiler), and every test;
# - build-engine/: the engine alone without QtWidgets, with clang-15 under AddressSanitizer and
#   UndefinedBehaviorSanitizer, and the fuzz targets, each run for 10 s from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
source scripts/buildflags.sh
# Each step's wall time, so that the log shows where the minutes go.
step() {
  local started=$SECONDS
  "$@"
  echo "== $(( SECONDS - started )) s: $*"
}
step cmake -S . -B build "${build_flags[@]}"
step cmake --build build -j"$jobs"
(cd build && step ctest --output-on-failure -j"$jobs")
step cmake -S . -B build-engine "${build_flags[@]}" "${engine_flags[@]}"
step cmake --build build-engine -j"$jobs"
(cd build-engine && step ctest --output-on-failure -j"$jobs")
echo "== $SECONDS s in all"
