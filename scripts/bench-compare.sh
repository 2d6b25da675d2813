#!/usr/bin/env bash
# The console's measurements, an older commit and this tree side by side in one run: this tree's
# bench/ is built over the older commit's code in a worktree of its own, both with the flags of
# buildflags.sh, then bench_startup and bench_console of the two run in turn and a table compares
# them. Usage: scripts/bench-compare.sh COMMIT [RESULTS_DIR]
#   BENCH_BASE_DIR    the older commit's worktree (default /tmp/vigilor-bench-base)
#   BENCH_BASE_BUILD  its build folder (default BENCH_BASE_DIR/build)
set -euo pipefail
cd "$(dirname "$0")/.."
commit="${1:?usage: scripts/bench-compare.sh COMMIT [RESULTS_DIR]}"
results="${2:-$(mktemp -d /tmp/bench-compare.XXXXXX)}"
base="${BENCH_BASE_DIR:-/tmp/vigilor-bench-base}"
base_build="${BENCH_BASE_BUILD:-$base/build}"
here="$(pwd)"
jobs="$(nproc)"
source scripts/buildflags.sh
targets=(bench_startup bench_console vigilor)

if [ ! -e "$base/.git" ]; then
    git worktree add --detach "$base" "$commit"
fi
git -C "$base" checkout -q -f --detach "$commit"
git -C "$base" clean -q -f -- bench
cp -r bench/. "$base/bench/"

for tree in "$base:$base_build" "$here:$here/build"; do
    cmake -S "${tree%%:*}" -B "${tree#*:}" "${build_flags[@]}" -DVIGILOR_BUILD_BENCH=ON >/dev/null
    cmake --build "${tree#*:}" -j"$jobs" --target "${targets[@]}" >/dev/null
done

mkdir -p "$results"
for program in bench_startup bench_console; do
    for side in base new; do
        tree="$here" build="$here/build"
        [ "$side" = base ] && tree="$base" build="$base_build"
        echo "== $program ($side: $(git -C "$tree" rev-parse --short HEAD))" >&2
        QT_QPA_PLATFORM=offscreen "$build/bin/$program" \
            --benchmark_out="$results/$program-$side.json" --benchmark_out_format=json >&2
    done
done

python3 - "$results" <<'EOF'
import json, sys, os
folder = sys.argv[1]

def rows(program, side):
    with open(os.path.join(folder, f"{program}-{side}.json")) as f:
        data = json.load(f)["benchmarks"]
    # Repeated benchmarks count by their median, the others by their one row.
    medians = {b["run_name"]: b for b in data if b.get("aggregate_name") == "median"}
    single = {b["run_name"]: b for b in data if b.get("run_type") == "iteration"}
    return {**single, **medians}

def table(program, fields):
    base, new = rows(program, "base"), rows(program, "new")
    for name in base:
        for field, unit in fields:
            if field in base[name] and name in new and field in new[name]:
                b, n = base[name][field], new[name][field]
                unit = unit or base[name].get("time_unit", "")
                print(f"{name:45} {field:13} {b:12.3f} {n:12.3f} {unit:4} new/base {n / b:6.3f}")
    return base, new

print(f"{'benchmark':45} {'figure':13} {'base':>12} {'new':>12}")
sb, sn = table("bench_startup", [("real_time", ""), ("peak_rss_MiB", "MiB"), ("rss_MiB", "MiB"),
                                 ("peak_MiB", "MiB")])
cb, cn = table("bench_console", [("real_time", "")])
small = [k for k in cn if "/1000" in k]
large = [k for k in cn if "/250000" in k]
if small and large:
    for label, side in (("base", cb), ("new", cn)):
        print(f"status reply at 250,000 lines / at 1,000 lines ({label}): "
              f"{side[large[0]]['real_time'] / side[small[0]]['real_time']:.3f}")
EOF
echo "results in $results" >&2
