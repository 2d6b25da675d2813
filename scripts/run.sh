#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vigilor on the practice server (--demo).
# Without a display it runs in the terminal (--headless) and prints its console there.
# Extra arguments go to the program, e.g. scripts/run.sh --data-dir /tmp/vigilor-demo
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/buildflags.sh
cmake -S . -B build "${build_flags[@]}"
cmake --build build -j"$(nproc)"
exec build/bin/vigilor --demo --data-dir "${VIGILOR_DATA_DIR:-$PWD/build/demo-data}" "$@"
