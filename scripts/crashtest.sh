#!/usr/bin/env bash
# Kills the program KILLS times (default 1000) at random moments while the practice server's
# channel keeps changing its files, and checks the files after every kill (tests/e2e/
# test_crash.cpp; CI runs it with 100). Builds what it needs in build/ first. Prints how many
# kills it survived; VIGILOR_CRASH_SEED=N repeats a run.
set -euo pipefail
cd "$(dirname "$0")/.."
kills="${1:-1000}"
scripts/install-deps.sh
source scripts/buildflags.sh
cmake -S . -B build "${build_flags[@]}" > /dev/null
cmake --build build -j"$(nproc)" --target vigilor test_crash
# Qt Test ends a test function after 5 minutes unless told otherwise; a kill takes about 0.5 s.
export QTEST_FUNCTION_TIMEOUT=$(( (kills * 3 + 300) * 1000 ))
VIGILOR_CRASH_KILLS="$kills" build/bin/test_crash -maxwarnings 0 | grep -v '^PASS\|^Config\|^\*\*\*\*'
