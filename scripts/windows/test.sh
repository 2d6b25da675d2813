#!/usr/bin/env bash
# Runs the test programs of the 64-bit Windows build under wine, as ctest runs them on Linux:
# the tests, their environment and their time limits are ctest's own (ctest --show-only), each
# program runs from the build's bin/ folder with the DLLs beside it, and the output looks like
# ctest's with --output-on-failure. Builds nothing: run scripts/windows/build.sh first.
#
# Usage: scripts/windows/test.sh [-j N] [-R REGEX]
#   -j N                    tests at once (default 2)
#   -R REGEX                only the tests whose name matches (grep -E)
#   VIGILOR_WIN64_BUILD=DIR the build folder (default build-win64/vigilor, as build.sh's)
#   VIGILOR_WINEPREFIX=DIR  the wine prefix of the tests (default build-win64/wine/prefix),
#                           made at the first run and reused after
#
# Under wine a program cannot start the Linux /usr/bin/python3 and talk to it (CreateProcess
# gives no handle or pipes for a Unix program), so the Python test servers of the exchange tests
# are started by tests/support/serverstarter.py, which runs here on 127.0.0.1 for the whole run;
# the test programs find it through VIGILOR_TEST_SERVER_STARTER.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
say() { echo "test.sh: $*" >&2; }

jobs=2
filter=
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs=${2:?}; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    -R) filter=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) say "unknown argument: $1"; exit 2 ;;
  esac
done

build=${VIGILOR_WIN64_BUILD:-$repo/build-win64/vigilor}
bin=$build/bin
if [ ! -f "$bin/vigilor.exe" ]; then
  say "no Windows build in $build ($bin/vigilor.exe is missing)."
  say "Build it first: VIGILOR_WIN64_PREFIX=/path/to/win64 scripts/windows/build.sh"
  say "(or set VIGILOR_WIN64_BUILD to the build folder)."
  exit 1
fi
build=$(cd "$build" && pwd)
bin=$build/bin

# What the run needs on this machine, installed when missing.
scripts/install-deps.sh wine64 cmake python3 python3-pyftpdlib fonts-dejavu-core
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

# Test programs that cannot run under wine at all, with the reason: named at the start of every
# run, never left out in silence.
declare -A cannot_run=(
)
# Test programs that run with no other beside them, with the reason.
declare -A alone=(
  [test_crash]="it starts and kills the program a hundred times, loading the machine so that \
the bounded waits of a test beside it run out"
  [test_exchange_net]="its transfers have bounded times (a whole upload in 2.5 s), which run out \
under wine when another test loads the machine"
)

# ---- The wine prefix: the tests' own, never ~/.wine. ------------------------------------------
prefix=${VIGILOR_WINEPREFIX:-$repo/build-win64/wine/prefix}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
work=$(dirname "$prefix")/run
# The programs' command lines go through cmd, which splits them at blanks.
case "$work$bin" in
  *" "*) say "the build and the wine prefix must be in folders without blanks ($work, $bin)"
         exit 1 ;;
esac
# A clean environment: nothing of this shell's (DISPLAY, proxies, Qt's variables) reaches wine.
base_env=(HOME="$HOME" PATH=/usr/bin:/bin LANG=C.UTF-8 WINEPREFIX="$prefix" WINEDEBUG=-all
          "WINEDLLOVERRIDES=mscoree,mshtml=")
run_wine() { env -i "${base_env[@]}" "$@"; }

started=$SECONDS
# One wine server for the whole run, so that a program starts in a fraction of a second; it
# ends, with every program left in the prefix, when the script does. (Status 2: one of this
# prefix runs already, and serves.)
cleanup() {
  if [ -n "${starter_pid:-}" ]; then kill "$starter_pid" 2> /dev/null || true; fi
  run_wine "$wineserver" -k > /dev/null 2>&1 || true
}
trap cleanup EXIT
run_wine "$wineserver" -p < /dev/null > /dev/null 2>&1 || [ $? = 2 ]
if [ ! -f "$prefix/system.reg" ]; then
  say "making the wine prefix $prefix"
  run_wine "$wine" wineboot -i < /dev/null > "$prefix.boot.log" 2>&1 ||
    { cat "$prefix.boot.log"; exit 1; }
fi
# Windows without a display: wine's null display driver gives the programs their (hidden)
# top-level windows, which the end of a session is told to, without an X server. Wine's desktop
# takes its driver when it starts, so the server starts again after a change; wine's own
# services start here too, with no hold on the tests' output.
if ! grep -q '^"Graphics"="null"' "$prefix/user.reg" 2> /dev/null; then
  run_wine "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    < /dev/null > /dev/null 2>&1
  run_wine "$wineserver" -k > /dev/null 2>&1 || true
  run_wine "$wineserver" -w > /dev/null 2>&1 || true
  run_wine "$wineserver" -p < /dev/null > /dev/null 2>&1
fi
run_wine "$wine" cmd /c exit < /dev/null > /dev/null 2>&1

# ---- The Python test servers' starter. --------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
starter_log=$work/serverstarter.log
exec {starter_input}> >(exec /usr/bin/python3 -u "$repo/tests/support/serverstarter.py" \
                          --wineprefix "$prefix" > "$starter_log" 2>&1)
starter_pid=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$starter_log" 2> /dev/null && break
  sleep 0.05
done
starter_port=$(sed -n 's/^PORT //p' "$starter_log")
[ -n "$starter_port" ] || { say "the test server starter did not start:"; cat "$starter_log"; exit 1; }

# Qt's offscreen platform on Windows reads its fonts from one folder (QT_QPA_FONTDIR) and has
# none without it: DejaVu Sans, the font the Linux tests get, so that text has real sizes.
mkdir -p "$work/fonts"
for font in DejaVuSans DejaVuSans-Bold DejaVuSans-Oblique DejaVuSans-BoldOblique DejaVuSansMono \
            DejaVuSansMono-Bold; do
  ln -s "/usr/share/fonts/truetype/dejavu/$font.ttf" "$work/fonts/"
done

# ---- The tests, as ctest knows them. ----------------------------------------------------------
# One line per test: number, name, time limit, program, environment (each NAME=VALUE after a
# tab); the program's own arguments follow after a tab of their own, one per field, after "--".
list=$work/tests.tsv
(cd "$build" && ctest --show-only=json-v1) | /usr/bin/python3 -c '
import json, sys
data = json.load(sys.stdin)
for number, test in enumerate(data["tests"], 1):
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    timeout = props.get("TIMEOUT", 1500)  # ctest'"'"'s default limit
    fields = [str(number), test["name"], str(int(float(timeout))), test["command"][0]]
    fields += props.get("ENVIRONMENT", [])
    fields += ["--"] + test["command"][1:]
    print("\t".join(fields))
' > "$list"
total=$(wc -l < "$list")
[ "$total" -gt 0 ] || { say "ctest lists no test in $build"; exit 1; }
names=() ; limits=() ; programs=() ; selected=()
while IFS=$'\t' read -r -a fields; do
  number=${fields[0]}
  names[number]=${fields[1]}
  limits[number]=${fields[2]}
  programs[number]=${fields[3]}
  if [ -z "$filter" ] || grep -qE -- "$filter" <<< "${fields[1]}"; then
    selected+=("$number")
  fi
done < "$list"
width=${#total}

# The longest tests first (as ctest does from its cost data), so that two at a time finish
# together; a test never timed runs first of all.
costs=$(dirname "$prefix")/test-costs
touch "$costs"
mapfile -t selected < <(
  for n in "${selected[@]}"; do
    cost=$(awk -v name="${names[n]}" '$1 == name { print $2 }' "$costs")
    echo "${cost:-9999} $n"
  done | sort -k1,1nr -k2,2n | awk '{ print $2 }')

for name in "${!alone[@]}"; do
  echo "Run alone under wine: $name: ${alone[$name]}"
done
not_run=()
for n in "${selected[@]}"; do
  name=${names[n]}
  if [ -n "${cannot_run[$name]:-}" ]; then
    echo "Not run under wine: $name: ${cannot_run[$name]}"
    not_run+=("$n")
  elif [[ "${programs[n]}" != *.exe ]]; then
    echo "Run on this machine: $name: it starts the Windows program under wine itself"
  fi
done

# Z:\the\unix\path, as the programs under wine name a folder of this machine.
windows_path() { echo "Z:${1//\//\\}"; }

# Runs test number $1 in the folder $work/<name>: its own temporary folder (temp/), Qt Test's
# report (log.txt: under wine "-o -,txt" writes nothing into a pipe or a file, only to a
# console), what else it printed (output.txt), and its exit status with its times (status).
run_once() {
  local n=$1 name=${names[$1]}
  local dir=$work/$name
  exec {starter_input}>&- # only this script holds the starter's input
  mkdir -p "$dir/temp"
  local -a fields env_args=() arguments=()
  IFS=$'\t' read -r -a fields < <(awk -F'\t' -v n="$n" '$1 == n' "$list")
  local i=4 in_args=0
  for (( ; i < ${#fields[@]}; i++ )); do
    if [ $in_args = 1 ]; then arguments+=("${fields[i]}"); continue; fi
    if [ "${fields[i]}" = "--" ]; then in_args=1; continue; fi
    # Wine takes no QT_ variable from its environment, only the same name after WINE.
    case "${fields[i]}" in
      QT_*|VK_*) env_args+=("WINE${fields[i]}") ;;
      *) env_args+=("${fields[i]}") ;;
    esac
  done
  local temp
  temp=$(windows_path "$dir/temp")
  local log
  log=$(windows_path "$dir/log.txt")
  # TEMP and TMP are wine's own (the prefix's): cmd sets them for this one program.
  local command="set TEMP=$temp&& set TMP=$temp&& ${programs[n]##*/}"
  for a in "${arguments[@]}" -o "$log,txt"; do command+=" $a"; done
  local begin=$EPOCHREALTIME status=0
  if [[ "${programs[n]}" != *.exe ]]; then
    # A test of this machine's (a terminal's Ctrl+C reaching the program): it runs here, with
    # the prefix and the wine server of the run.
    (cd "$bin" &&
       exec timeout -k 10 "${limits[n]}" env -i "${base_env[@]}" TMPDIR="$dir/temp" \
         "${env_args[@]}" "${programs[n]}" "${arguments[@]}") < /dev/null > "$dir/output.txt" 2>&1 ||
      status=$?
    echo "$status $begin $EPOCHREALTIME" > "$dir/status"
    return
  fi
  (cd "$bin" &&
     exec timeout -k 10 "${limits[n]}" env -i "${base_env[@]}" WINEQT_QPA_PLATFORM=offscreen \
       WINEQT_QPA_FONTDIR="$(windows_path "$work/fonts")" \
       VIGILOR_TEST_SERVER_STARTER="$starter_port" "${env_args[@]}" \
       "$wine" cmd /c "$command") < /dev/null > "$dir/output.txt" 2>&1 || status=$?
  local end=$EPOCHREALTIME
  echo "$status $begin $end" > "$dir/status"
}

# Under wine the kill test's own process (not the program it kills) now and then falls in a
# thread of Qt's process watching (an access violation in a thread-pool thread, in about a third
# of the runs here): Qt Test then reports "A crash occurred in" that test. Such a fall is run
# again, up to three times, and said; a failed check is never run again.
declare -A rerun_on_crash=([test_crash]=3)
run_test() {
  local n=$1 name=${names[$1]} dir=$work/${names[$1]}
  local again=${rerun_on_crash[${names[$1]}]:-0} status code
  run_once "$n"
  while read -r status _ < "$dir/status" && [ "$status" != 0 ] && [ "$again" -gt 0 ] &&
        grep -qs "A crash occurred in" "$dir/log.txt" "$dir/output.txt"; do
    code=$(grep -hs -m1 "Exception code" "$dir/log.txt" "$dir/output.txt" | tr -d '\r')
    echo "Run again under wine: $name: its own process fell (${code:-no code})"
    mv "$dir/output.txt" "$dir/crashed-output.txt"
    rm -f "$dir/log.txt"
    again=$((again - 1))
    run_once "$n"
  done
}

# The result line of test $1, and its output when it failed.
report() {
  local n=$1 name=${names[$1]} dir=$work/${names[$1]}
  local status begin end
  read -r status begin end < "$dir/status"
  local seconds result
  seconds=$(awk -v b="$begin" -v e="$end" 'BEGIN { printf "%.2f", e - b }')
  if [ "$status" = 0 ]; then
    result="   Passed"
  elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
    result="***Timeout"
    failed+=("$n Timeout")
  else
    result="***Failed"
    failed+=("$n Failed")
  fi
  done_count=$((done_count + 1))
  local dots
  dots=$(printf '%*s' $((32 - ${#name})) '' | tr ' ' '.')
  printf '%*d/%d Test %*s#%d: %s %s%s %7s sec\n' "$width" "$done_count" "$run_total" \
    $((width - ${#n})) '' "$n" "$name" "$dots" "$result" "$seconds"
  if [ "$status" != 0 ]; then
    if [ -f "$dir/log.txt" ]; then tr -d '\r' < "$dir/log.txt"; fi
    if [ -s "$dir/output.txt" ]; then
      echo "(standard output and error)"
      tr -d '\r' < "$dir/output.txt"
    fi
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
      echo "(stopped after its time limit of ${limits[n]} s)"
    fi
  fi
  awk -v name="$name" '$1 != name' "$costs" > "$costs.new"
  echo "$name ${seconds%.*}" >> "$costs.new"
  mv "$costs.new" "$costs"
}

to_run=()
for n in "${selected[@]}"; do
  [[ " ${not_run[*]} " == *" $n "* ]] || to_run+=("$n")
done
run_total=${#to_run[@]}
done_count=0
failed=()
declare -A running=()
alone_running=
clock=$EPOCHREALTIME
next=0
while [ $next -lt $run_total ] || [ ${#running[@]} -gt 0 ]; do
  while [ $next -lt $run_total ] && [ ${#running[@]} -lt "$jobs" ]; do
    n=${to_run[next]}
    # A test that runs alone waits for the others to end, and holds the next ones off.
    if [ -n "$alone_running" ] ||
       { [ -n "${alone[${names[n]}]:-}" ] && [ ${#running[@]} -gt 0 ]; }; then
      break
    fi
    next=$((next + 1))
    printf '      Start %*d: %s\n' "$width" "$n" "${names[n]}"
    run_test "$n" &
    running[$!]=$n
    if [ -n "${alone[${names[n]}]:-}" ]; then alone_running=$n; fi
  done
  finished_pid=
  wait -n -p finished_pid "${!running[@]}" || true
  [ -n "$finished_pid" ] || continue
  report "${running[$finished_pid]}"
  if [ "${running[$finished_pid]}" = "$alone_running" ]; then alone_running=; fi
  unset "running[$finished_pid]"
done
elapsed=$(awk -v b="$clock" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.2f", e - b }')

echo
passed=$((run_total - ${#failed[@]}))
if [ "$run_total" -gt 0 ]; then percent=$((passed * 100 / run_total)); else percent=100; fi
echo "$percent% tests passed, ${#failed[@]} tests failed out of $run_total"
echo
echo "Total Test time (real) = $elapsed sec"
if [ ${#not_run[@]} -gt 0 ]; then
  echo
  echo "The following tests did not run:"
  for n in "${not_run[@]}"; do printf '\t%3d - %s (Not run under wine)\n' "$n" "${names[n]}"; done
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "The following tests FAILED:"
  for entry in $(printf '%s\n' "${failed[@]}" | sort -n | tr ' ' ':'); do
    printf '\t%3d - %s (%s)\n' "${entry%%:*}" "${names[${entry%%:*}]}" "${entry#*:}"
  done
fi
say "$(( SECONDS - started )) s in all"
[ ${#failed[@]} -eq 0 ]
