#!/usr/bin/env bash
# Tries the Windows installer and the portable zip (scripts/windows/package.sh) under wine, in a
# wine prefix of its own made afresh in BUILD/test-install/ (so what else the machine's prefixes
# hold does not matter), on a virtual display (xvfb-run) so that the end of the session reaches
# the programs as it does on Windows:
#   - the silent install: the files, the Start-menu entry, the Uninstall key;
#   - the installed robot set up with --set and --password-stdin, started headless against the
#     installed practice server on 127.0.0.1, connected, its data in %LOCALAPPDATA%\Vigilor and
#     its autostart value written;
#   - the uninstaller and the installer refused while it runs, nothing touched (the uninstaller
#     once more with the robot alone running);
#   - the end of the session ending it cleanly, its log saved, its data folder free again;
#   - an update over the install, the data kept;
#   - the silent uninstall: nothing left but the data folder, only this install's autostart
#     values gone;
#   - the portable zip unzipped elsewhere: it starts and keeps its data beside itself.
# Each check prints PASS or FAIL; the exit status is 0 only when all pass.
#
# Usage: scripts/windows/test-install.sh [BUILD]
#   BUILD  the build folder: the argument, else VIGILOR_WIN64_BUILD, else build-win64/vigilor;
#          BUILD/package/ must hold the installer and the zip of CMakeLists.txt's version.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 2
repo=$PWD
say() { echo "test-install.sh: $*" >&2; }

case "${1:-}" in
  -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
[ $# -le 1 ] || { say "one argument at most: the build folder"; exit 2; }
build=${1:-${VIGILOR_WIN64_BUILD:-$repo/build-win64/vigilor}}
version=$(sed -n 's/^project(Vigilor VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$build/package/vigilor-$version-setup.exe
zipfile=$build/package/vigilor-$version-win64.zip
for f in "$setup" "$zipfile"; do
  [ -f "$f" ] || { say "$f is missing: run scripts/windows/package.sh $build first"; exit 2; }
done
build=$(cd "$build" && pwd)
setup=$build/package/vigilor-$version-setup.exe
zipfile=$build/package/vigilor-$version-win64.zip

# What the test needs on the host, installed when missing.
"$repo/scripts/install-deps.sh" wine64 xvfb xauth unzip

# Everything below runs on a virtual display of its own, never on the user's.
if [ -z "${VIGILOR_TEST_INSTALL_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env VIGILOR_TEST_INSTALL_DISPLAY=1 "$0" "$build"
fi

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
work=$build/test-install
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
started=$SECONDS

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() {
  echo "FAIL: $1"
  shift
  local line
  for line in "$@"; do echo "      $line"; done
  failed=$((failed + 1))
}
# check NAME COMMAND...: PASS when the command succeeds; its output tells why when it fails.
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then pass "$name"; else fail "$name" "${output:-(no output)}"; fi
}
finish() {
  $wineserver -k 2>/dev/null
  $wineserver -w 2>/dev/null
  # The prefix (hundreds of MB) stays only where it may tell why a check failed; the
  # programs' outputs stay in any case.
  [ "$failed" -ne 0 ] || rm -rf "$WINEPREFIX" "$work/reference"
  echo "test-install: $(( SECONDS - started )) s"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}
trap '$wineserver -k 2>/dev/null' EXIT

# A server that stays between the calls: without it every wine start costs seconds. It is
# started where none runs: at the start, after the end of the session (which ends the server
# too) and after the uninstaller has been waited for.
start_server() { $wineserver -p > /dev/null 2>&1; }
w() { "$wine" "$@"; }
wout() { "$wine" "$@" 2>/dev/null | tr -d '\r'; }
# wait_for FILE TEXT SECONDS: until the file holds the text.
wait_for() {
  local i
  for ((i = 0; i < $3 * 5; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
# wait_exit PID SECONDS: until the process has ended.
wait_exit() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}
free_udp_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    grep -qi ":$(printf '%04X' "$port") " /proc/net/udp /proc/net/udp6 2>/dev/null || break
  done
  echo "$port"
}
regvalue() { # KEY NAME: the data of a value as reg prints it
  wout reg query "$1" /v "$2" | sed -n "s/^    $(printf '%s' "$2" | sed 's/[]\/$*.^[]/\\&/g')    REG_[A-Z_]*    //p"
}

start_server
w wineboot -i > "$work/wineboot.log" 2>&1 || { fail "wine prefix made" "$(tail -5 "$work/wineboot.log")"; finish; }
localappdata=$(wout cmd /c echo %LOCALAPPDATA%)
if [[ $localappdata != [A-Z]:\\* ]]; then fail "LOCALAPPDATA of the prefix" "$localappdata"; finish; fi
unix() { wout winepath -u "$1" | sed 's:/$::'; }
instdir_win="$localappdata\\Programs\\Vigilor"
exe_win="$instdir_win\\vigilor.exe"
instdir=$(unix "$instdir_win")
datadir=$(unix "$localappdata\\Vigilor")
smprograms=$(unix "$(regvalue 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' Programs)")
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vigilor'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
echo "prefix: $WINEPREFIX ($(( SECONDS - started )) s)"
echo "install folder: $instdir_win"

# The reference: the portable zip's files, which the installer must put in place as they are.
reference=$work/reference
mkdir -p "$reference"
unzip -q "$zipfile" -d "$reference"
expected=$( (cd "$reference/Vigilor" && find . -type f | LC_ALL=C sort; echo ./uninstall.exe) | LC_ALL=C sort)
same_files() { # FOLDER: exactly the zip's files and the uninstaller, with the zip's bytes
  local got file bad=0
  got=$(cd "$1" 2>/dev/null && find . -type f | LC_ALL=C sort)
  if [ "$got" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$got") | sed -n 's/^[<>]/&/p'
    return 1
  fi
  while read -r file; do
    [ "$file" = ./uninstall.exe ] && continue
    cmp -s "$reference/Vigilor/$file" "$1/$file" || { echo "differs: $file"; bad=1; }
  done <<< "$expected"
  return $bad
}

# ---- install ------------------------------------------------------------------------------
w "$setup" /S > "$work/setup.log" 2>&1
status=$?
if [ $status -eq 0 ]; then pass "install: setup /S exits 0"; else fail "install: setup /S exits 0" "status $status"; fi
check "install: the program folder holds exactly the packed files and uninstall.exe" same_files "$instdir"
shortcut_ok() {
  local lnk="$smprograms/Vigilor.lnk"
  [ -f "$lnk" ] || { echo "no $lnk"; return 1; }
  # The target (ANSI) and the icon (UTF-16) are the installed program.
  strings -a "$lnk" | grep -qxF "$exe_win" || { echo "the target is not $exe_win"; return 1; }
  strings -a -el "$lnk" | grep -qF "$exe_win" || { echo "the icon is not $exe_win"; return 1; }
}
check "install: Start-menu entry Vigilor.lnk starts the installed vigilor.exe" shortcut_ok
uninstall_key_ok() {
  local bad=0 name want got size
  while IFS='|' read -r name want; do
    got=$(regvalue "$uninstall_key" "$name")
    [ "$got" = "$want" ] || { echo "$name: '$got', not '$want'"; bad=1; }
  done <<EOF
DisplayName|Vigilor
DisplayVersion|$version
Publisher|Vigilor developers
DisplayIcon|$exe_win,0
InstallLocation|$instdir_win
UninstallString|"$instdir_win\\uninstall.exe"
QuietUninstallString|"$instdir_win\\uninstall.exe" /S
NoModify|0x1
NoRepair|0x1
EOF
  size=$(regvalue "$uninstall_key" EstimatedSize)
  local actual
  actual=$(du -sk --apparent-size "$instdir" | cut -f1)
  # Within a tenth of what the folder takes: the two count blocks differently.
  if [[ $size != 0x* ]] || (( $((size)) < actual * 9 / 10 || $((size)) > actual * 11 / 10 )); then
    echo "EstimatedSize '$size', the folder takes $actual KiB"
    bad=1
  fi
  return $bad
}
check "install: Uninstall key with its values" uninstall_key_ok

# ---- the installed programs ---------------------------------------------------------------
version_ok() {
  local out
  out=$(wout "$exe_win" --version) || { echo "status $?: $out"; return 1; }
  [[ $out == *"($version)"* ]] || { echo "$out"; return 1; }
}
check "installed: vigilor.exe --version says $version" version_ok

port=$(free_udp_port)
password="gyakorlo-$RANDOM"
setup_ok() {
  local out
  out=$(echo "$password" | wout "$exe_win" --set IP=127.0.0.1 --set Port="$port" \
          --set AutoConnect=1 --set SaveServerInfo=1 --set AutoStart=1 --password-stdin) ||
    { echo "status $?: $out"; return 1; }
  [ -f "$datadir/vigilor.ini" ] || { echo "no vigilor.ini in $datadir: $out"; return 1; }
  [ ! -e "$instdir/vigilor.ini" ] || { echo "vigilor.ini written into the program folder"; return 1; }
}
check "installed: --set and --password-stdin write %LOCALAPPDATA%\\Vigilor\\vigilor.ini" setup_ok

w "$instdir_win\\vigilor-testserver.exe" --port "$port" --password "$password" \
  > "$work/testserver.out" 2>&1 &
testserver=$!
if wait_for "$work/testserver.out" "listening on 127.0.0.1:$port" 30; then
  pass "practice server: listens on 127.0.0.1:$port"
else
  fail "practice server: listens on 127.0.0.1:$port" "$(cat "$work/testserver.out")"
fi

day_before=$(date +%Y.%m.%d.)
w "$exe_win" --headless > "$work/vigilor.out" 2>&1 &
robot=$!
if wait_for "$work/vigilor.out" "Csatlakozás szerverhez: 127.0.0.1:$port" 30; then
  pass "robot: \"Csatlakozás szerverhez: 127.0.0.1:$port\""
else
  fail "robot: \"Csatlakozás szerverhez: 127.0.0.1:$port\"" "$(cat "$work/vigilor.out")"
fi
# The robot's first command, with the right password, reaches the server.
if wait_for "$work/testserver.out" "Csatlakozva" 30; then
  pass "robot: the practice server got its commands"
else
  fail "robot: the practice server got its commands" "$(cat "$work/testserver.out")"
fi
# The folder as Windows writes it, with backslashes.
datadir_line="Adatmappa: $localappdata\\Vigilor\\"
if grep -qF "$datadir_line" "$work/vigilor.out"; then
  pass "robot: \"$datadir_line\""
else
  fail "robot: \"$datadir_line\"" "$(grep Adatmappa "$work/vigilor.out" || echo 'no Adatmappa line')"
fi
autostart_name=
autostart_ok() {
  local line
  line=$(wout reg query "$run_key" | grep -F "\"$exe_win\" --data-dir \"$localappdata\\Vigilor\"")
  [ -n "$line" ] || { wout reg query "$run_key"; return 1; }
  autostart_name=$(echo "$line" | sed -n 's/^    \(vigilor [0-9a-f]*\)    REG_SZ    .*/\1/p')
  [ -n "$autostart_name" ] || { echo "$line"; return 1; }
}
check "robot: its autostart value names the installed vigilor.exe and the data folder" autostart_ok

# ---- refused while it runs ----------------------------------------------------------------
# _?= keeps the uninstaller in place, so that its exit status is the run's.
w "$instdir_win\\uninstall.exe" /S "_?=$instdir_win" > /dev/null 2>&1
status=$?
refused_ok() {
  [ "$1" -ne 0 ] || { echo "status 0"; return 1; }
  same_files "$instdir" || return 1
  [ -f "$smprograms/Vigilor.lnk" ] || { echo "the shortcut is gone"; return 1; }
  [ "$(regvalue "$uninstall_key" DisplayName)" = Vigilor ] || { echo "the Uninstall key is gone"; return 1; }
  [ -z "$autostart_name" ] || [ -n "$(regvalue "$run_key" "$autostart_name")" ] ||
    { echo "the autostart value is gone"; return 1; }
}
check "uninstall /S while vigilor.exe runs: fails (status $status), nothing removed" refused_ok $status
w "$setup" /S > /dev/null 2>&1
status=$?
check "install /S while vigilor.exe runs: fails (status $status), nothing replaced" refused_ok $status

# ---- the end of the session ---------------------------------------------------------------
w wineboot -e -s > "$work/endsession.log" 2>&1
if wait_exit "$robot" 30; then
  wait "$robot"
  status=$?
  if [ $status -eq 0 ] && grep -qx 'Lecsatlakozva' <(sed 's/^\[[^]]*\] [0-9:]* >> //' "$work/vigilor.out" | tr -d '\r'); then
    pass "session end: vigilor.exe ends with status 0 after \"Lecsatlakozva\""
  else
    fail "session end: vigilor.exe ends with status 0 after \"Lecsatlakozva\"" "status $status" "$(tail -5 "$work/vigilor.out")"
  fi
else
  fail "session end: vigilor.exe ends" "still running 30 s after the end of the session" "$(tail -5 "$work/vigilor.out")"
  kill "$robot" 2>/dev/null
fi
wait_exit "$testserver" 10 || kill "$testserver" 2>/dev/null
wait "$testserver" 2>/dev/null
day_after=$(date +%Y.%m.%d.)
log_ok() {
  local day log
  for day in "$day_before" "$day_after"; do
    log="$datadir/logs/console ($day).log"
    [ -f "$log" ] || continue
    # The log is in the program's code page.
    iconv -f CP1250 -t UTF-8 "$log" | grep -qF "Csatlakozás szerverhez: 127.0.0.1:$port" && return 0
    echo "$log lacks the connection:"
    iconv -f CP1250 -t UTF-8 "$log" | tail -5
    return 1
  done
  echo "no logs/console ($day_after).log in $datadir"
  ls -la "$datadir/logs" 2>&1
  return 1
}
check "session end: the day's log saved in the data folder" log_ok
# Whatever the end of the session left of the server goes before a new one starts.
$wineserver -k 2>/dev/null
$wineserver -w 2>/dev/null
start_server
free_ok() {
  local out
  out=$(wout "$exe_win" --set SaveServerInfo=1 </dev/null) || { echo "status $?: $out"; return 1; }
}
check "session end: the data folder is free for the next start" free_ok

# ---- update over the install --------------------------------------------------------------
data_print() { (cd "$datadir" && find . -type f ! -name vigilor.lock | LC_ALL=C sort | xargs -d '\n' sha256sum); }
data_before=$(data_print)
w "$setup" /S > /dev/null 2>&1
status=$?
update_ok() {
  [ "$status" -eq 0 ] || { echo "status $status"; return 1; }
  same_files "$instdir" || return 1
  [ "$(regvalue "$uninstall_key" DisplayVersion)" = "$version" ] || { echo "no Uninstall key"; return 1; }
  [ "$(data_print)" = "$data_before" ] || { diff <(echo "$data_before") <(data_print); return 1; }
}
check "update: setup /S over the install replaces the files, keeps the data" update_ok

# ---- refused while vigilor.exe alone runs -------------------------------------------------
# Above, the practice server ran too: this time only the robot holds the folder (its server is
# gone, so it only tries to connect).
w "$exe_win" --headless > "$work/vigilor-alone.out" 2>&1 &
robot=$!
if wait_for "$work/vigilor-alone.out" "vigilor sikeresen elindult" 30; then
  w "$instdir_win\\uninstall.exe" /S "_?=$instdir_win" > /dev/null 2>&1
  status=$?
  check "uninstall /S while vigilor.exe alone runs: fails (status $status), nothing removed" refused_ok $status
else
  fail "uninstall /S while vigilor.exe alone runs" "it did not start:" "$(cat "$work/vigilor-alone.out")"
fi
w wineboot -e -s > /dev/null 2>&1
if wait_exit "$robot" 30; then
  wait "$robot"
  status=$?
  if [ $status -eq 0 ]; then pass "session end: vigilor.exe ends again with status 0"; else fail "session end: vigilor.exe ends again with status 0" "status $status"; fi
else
  fail "session end: vigilor.exe ends again" "still running 30 s after the end of the session"
  kill "$robot" 2>/dev/null
fi
$wineserver -k 2>/dev/null
$wineserver -w 2>/dev/null
start_server

# ---- uninstall ----------------------------------------------------------------------------
# Besides the program's own value, the bare form of its own-folder autostart (goes), another
# copy's (stays) and another program's that happens to name the same file (stays).
w reg add "$run_key" /v vigilor /d "$exe_win" /f > /dev/null 2>&1
w reg add "$run_key" /v "vigilor 0123456789ab" /d '"Z:\elsewhere\Vigilor\vigilor.exe" --data-dir "Z:\elsewhere\Vigilor"' /f > /dev/null 2>&1
w reg add "$run_key" /v "Other program" /d "$exe_win" /f > /dev/null 2>&1
data_before=$(data_print)
# An uninstaller copies itself to the temporary folder, starts the copy and returns: a wine
# server that is not kept waiting ends when the copy (and every other process) has ended.
$wineserver -k 2>/dev/null
$wineserver -w 2>/dev/null
w "$instdir_win\\uninstall.exe" /S > /dev/null 2>&1
status=$?
$wineserver -w
start_server
if [ $status -eq 0 ]; then pass "uninstall: uninstall.exe /S exits 0"; else fail "uninstall: uninstall.exe /S exits 0" "status $status"; fi
gone_ok() {
  local bad=0
  [ ! -e "$instdir" ] || { echo "left:"; (cd "$instdir" && find .); bad=1; }
  [ ! -e "$smprograms/Vigilor.lnk" ] || { echo "the shortcut is left"; bad=1; }
  ! wout reg query "$uninstall_key" > /dev/null || { echo "the Uninstall key is left"; bad=1; }
  return $bad
}
check "uninstall: no program folder, no shortcut, no Uninstall key" gone_ok
run_ok() {
  local values
  values=$(wout reg query "$run_key" | sed -n 's/^    \(.*\)    REG_SZ    .*/\1/p' | LC_ALL=C sort)
  [ "$values" = "$(printf '%s\n' 'Other program' 'vigilor 0123456789ab')" ] ||
    { echo "Run values left: $(echo "$values" | paste -sd,)"; return 1; }
}
check "uninstall: this install's autostart values removed, the others kept" run_ok
data_kept_ok() {
  [ -f "$datadir/vigilor.ini" ] || { echo "no vigilor.ini"; return 1; }
  ls "$datadir/logs/"*.log > /dev/null 2>&1 || { echo "no logs"; return 1; }
  [ "$(data_print)" = "$data_before" ] || { diff <(echo "$data_before") <(data_print); return 1; }
}
check "uninstall: the data folder with vigilor.ini and logs untouched" data_kept_ok

# ---- the portable zip ---------------------------------------------------------------------
portable=$work/portable
mkdir -p "$portable"
unzip -q "$zipfile" -d "$portable"
zip_ok() {
  [ "$(ls -A "$portable")" = Vigilor ] || { echo "top level: $(ls -A "$portable" | paste -sd,)"; return 1; }
  [ ! -e "$portable/Vigilor/uninstall.exe" ] || { echo "uninstall.exe in the zip"; return 1; }
  local want
  want=$(echo "$expected" | grep -vx ./uninstall.exe)
  [ "$(cd "$portable/Vigilor" && find . -type f | LC_ALL=C sort)" = "$want" ] ||
    { echo "not the installer's files"; return 1; }
}
check "portable: the zip holds one folder Vigilor/ with the installer's files" zip_ok
pexe_win=$(wout winepath -w "$portable/Vigilor/vigilor.exe")
pversion_ok() {
  local out
  out=$(wout "$pexe_win" --version) || { echo "status $?: $out"; return 1; }
  [[ $out == *"($version)"* ]] || { echo "$out"; return 1; }
}
check "portable: vigilor.exe --version says $version" pversion_ok
data_before=$(data_print)
w "$pexe_win" --headless > "$work/portable.out" 2>&1 &
robot=$!
if wait_for "$work/portable.out" "vigilor sikeresen elindult" 30; then
  w wineboot -e -s > /dev/null 2>&1
  wait_exit "$robot" 30 || kill "$robot" 2>/dev/null
  wait "$robot"
  status=$?
  $wineserver -k 2>/dev/null
  $wineserver -w 2>/dev/null
  start_server
  portable_ok() {
    [ "$status" -eq 0 ] || { echo "status $status"; tail -5 "$work/portable.out"; return 1; }
    [ -f "$portable/Vigilor/vigilor.ini" ] || { echo "no vigilor.ini beside the program"; return 1; }
    [ -d "$portable/Vigilor/logs" ] || { echo "no logs beside the program"; return 1; }
    ! grep -q Adatmappa "$work/portable.out" || { grep Adatmappa "$work/portable.out"; return 1; }
    [ "$(data_print)" = "$data_before" ] || { echo "%LOCALAPPDATA%\\Vigilor changed"; return 1; }
  }
  check "portable: a headless start keeps its data beside itself" portable_ok
else
  fail "portable: a headless start keeps its data beside itself" "$(cat "$work/portable.out")"
  kill "$robot" 2>/dev/null
fi

finish
