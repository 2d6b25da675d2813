#!/usr/bin/env bash
# Installs what is missing, builds everything twice (with the window, and the engine alone
# without QtWidgets) and runs every test of both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
source scripts/buildflags.sh
cmake -S . -B build "${build_flags[@]}"
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
cmake -S . -B build-headless "${build_flags[@]}" -DVIGILOR_BUILD_UI=OFF
cmake --build build-headless -j"$jobs"
(cd build-headless && ctest --output-on-failure -j"$jobs")
