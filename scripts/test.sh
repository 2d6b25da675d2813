#!/usr/bin/env bash
# Installs what is missing, builds everything twice and runs every test of both builds:
# - build/: everything, with the window (the default compiler);
# - build-engine/: the engine alone without QtWidgets, with clang-15 under AddressSanitizer and
#   UndefinedBehaviorSanitizer: its tests, and each fuzz target for 10 s from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
source scripts/buildflags.sh
cmake -S . -B build "${build_flags[@]}"
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
cmake -S . -B build-engine "${build_flags[@]}" "${engine_flags[@]}"
cmake --build build-engine -j"$jobs"
(cd build-engine && ctest --output-on-failure -j"$jobs")
