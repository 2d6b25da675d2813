#!/usr/bin/env bash
# Builds the Debian package from the built tree (no second compile) and checks it as an operator
# meets it: its contents and dependencies, the desktop entry, the AppStream metainfo, the icons,
# the manual page, and the packaged programs unpacked into a scratch root and started by an
# unprivileged user: once as the desktop menu starts the program (its files go to that user's
# data folder), once as the systemd user unit runs one robot per server, against the packaged
# practice server.
#   check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
app_id=hu.vigilor.vigilor

work=$(mktemp -d /tmp/vigilor-package.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $* (${SECONDS} s)"; }

# Waits up to 15 s for a fixed text in a file.
wait_for() {
  for _ in $(seq 150); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "--- $1:"; cat "$1" || true
  fail "no \"$2\" in $1"
}

# The programs run as nobody when this runs as root (root may write everywhere), otherwise as
# this user. Either way the unpacked /usr/bin is not theirs to write.
# as_user is a command prefix, not a function, so that $! of a program started in the background
# is the program itself.
if [ "$(id -u)" -eq 0 ]; then
  uid=$(id -u nobody)
  gid=$(id -g nobody)
  as_user=(setpriv "--reuid=$uid" "--regid=$gid" --clear-groups --)
else
  uid=$(id -u)
  gid=$(id -g)
  as_user=()
fi

step "cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/out") > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$work/out/vigilor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; fail "no $(basename "$deb")"; }

step "contents"
dpkg-deb --contents "$deb" > "$work/contents"
for path in usr/bin/vigilor usr/bin/vigilor-testserver \
            usr/share/applications/vigilor.desktop \
            "usr/share/metainfo/$app_id.metainfo.xml" \
            usr/share/icons/hicolor/scalable/apps/vigilor.svg \
            usr/share/icons/hicolor/48x48/apps/vigilor.png \
            usr/share/icons/hicolor/256x256/apps/vigilor.png \
            usr/share/man/man1/vigilor.1.gz usr/share/man/man1/vigilor-testserver.1.gz \
            usr/lib/systemd/user/vigilor@.service \
            usr/share/doc/vigilor/README.md usr/share/doc/vigilor/architecture.md; do
  grep -qE "^-[rwx-]{9} root/root +[0-9]+ [0-9-]+ [0-9:]+ \./$path\$" "$work/contents" ||
    fail "$path missing from the package, or not a root-owned file"
done
for exe in vigilor vigilor-testserver; do
  grep -qE "^-rwxr-xr-x root/root .* \./usr/bin/$exe\$" "$work/contents" || fail "$exe not executable"
done
if awk '{print $6}' "$work/contents" | grep -vE '^\./(usr(/.*)?)?$' | grep -q .; then
  fail "files outside /usr"
fi

step "control fields and dependencies"
[ "$(dpkg-deb -f "$deb" Package)" = vigilor ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names of Depends, one a line, without versions.
depends_on() { grep -oE '(^|[,|]) *[a-z0-9][a-z0-9.+-]*' <<< "$depends" | sed 's/^[,|]* *//' | grep -qxF "$1"; }
depends_on qt6-qpa-plugins || fail "no qt6-qpa-plugins: the window would find no platform plugin"
dpkg -x "$deb" "$work/root"
chmod -R a-w "$work/root/usr/bin"
# Every library the programs load must come from a package the package depends on.
sonames=$(for exe in vigilor vigilor-testserver; do
            readelf -d "$work/root/usr/bin/$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
          done | sort -u)
patterns=()
for soname in $sonames; do patterns+=("*/$soname"); done
dpkg -S "${patterns[@]}" > "$work/owners" 2> /dev/null || true
for soname in $sonames; do
  # Lines "pkg[:arch][, pkg...]: /path", kept when the path ends in /soname.
  owners=$(awk -v name="/$soname" '{ n = length(name); p = $NF
             if (substr(p, length(p) - n + 1) == name) { sub(/: [^ ]*$/, ""); print } }' "$work/owners" |
           tr ',' '\n' | sed 's/^ *//; s/:.*//' | sort -u)
  [ -n "$owners" ] || fail "no installed package holds $soname"
  found=no
  for owner in $owners; do depends_on "$owner" && found=yes; done
  [ $found = yes ] || fail "the programs need $soname from $owners, which Depends lacks"
done

step "desktop entry, metainfo, icons"
desktop-file-validate "$work/root/usr/share/applications/vigilor.desktop"
grep -qx "Exec=vigilor" "$work/root/usr/share/applications/vigilor.desktop" || fail "Exec"
grep -qx "Icon=vigilor" "$work/root/usr/share/applications/vigilor.desktop" || fail "Icon"
metainfo="$work/root/usr/share/metainfo/$app_id.metainfo.xml"
appstreamcli validate --no-net "$metainfo"
grep -qF "<release version=\"$version\" date=\"" "$metainfo" || fail "metainfo release $version"
grep -qF "<launchable type=\"desktop-id\">vigilor.desktop</launchable>" "$metainfo" || fail "launchable"
python3 - "$work/root/usr/share/icons/hicolor" <<'EOF'
import struct, sys, xml.etree.ElementTree as ET
base = sys.argv[1]
for size in (48, 256):
    with open(f"{base}/{size}x{size}/apps/vigilor.png", "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", f"{size}: not a PNG"
    assert struct.unpack(">II", head[16:24]) == (size, size), f"{size}: wrong size"
root = ET.parse(f"{base}/scalable/apps/vigilor.svg").getroot()
assert root.tag == "{http://www.w3.org/2000/svg}svg", "scalable icon is not an SVG"
EOF

step "manual page"
man="$work/vigilor.1"
gzip -dc "$work/root/usr/share/man/man1/vigilor.1.gz" > "$man"
head -n 1 "$man" | grep -qF "\"Vigilor $version\"" || fail "manual page version"
[ "$(gzip -dc "$work/root/usr/share/man/man1/vigilor-testserver.1.gz")" = ".so man1/vigilor.1" ] ||
  fail "vigilor-testserver(1) should lead to vigilor(1)"
warnings=$(groff -man -Tutf8 -ww -z "$man" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES SIGNALS "EXIT STATUS" SERVICE; do
  grep -qx ".SH \"\\?$section\"\\?" "$man" || fail "no $section section"
done
# Every option the programs take is in the manual ("-" is written "\-" there).
for exe in vigilor vigilor-testserver; do
  for option in $("$work/root/usr/bin/$exe" --help | grep -oE -- '--[a-z-]+' | sort -u); do
    [ "$option" = --help-all ] && continue
    grep -qF -- "${option//-/\\-}" "$man" || fail "$exe $option is not in the manual page"
  done
done

home="$work/home"
mkdir "$home"
chown "$uid:$gid" "$home"
run_env=(env -i "HOME=$home" LANG=C.UTF-8 "PATH=$work/root/usr/bin:/usr/bin:/bin")
data="$home/.local/share/vigilor"

step "started from the menu: files in the user's data folder"
"${as_user[@]}" "${run_env[@]}" vigilor --headless > "$work/menu.out" 2>&1 &
pid=$!
pids+=("$pid")
wait_for "$work/menu.out" "Program verzió"
kill -TERM "$pid"
wait "$pid" || fail "the program ended with status $?"
grep -qx "\[.*\] .* >> Adatmappa: $data/ (a program mappája nem írható)" "$work/menu.out" ||
  { cat "$work/menu.out"; fail "the data folder was not said"; }
[ "$(grep -c Adatmappa "$work/menu.out")" = 1 ] || fail "the data folder was said more than once"
[ -f "$data/vigilor.ini" ] || fail "no vigilor.ini in $data"
ls "$data/logs/console ("*").log" > /dev/null || fail "no day log in $data/logs"
[ "$(stat -c %u "$data/vigilor.ini")" = "$uid" ] || fail "vigilor.ini not the user's"
[ "$(ls "$work/root/usr/bin")" = "$(printf 'vigilor\nvigilor-testserver')" ] ||
  fail "the program wrote into its own folder"

step "the systemd user unit against the practice server"
unit="$work/root/usr/lib/systemd/user/vigilor@.service"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
case "$exec_start" in
  "vigilor --headless --data-dir "*) ;;
  *) fail "ExecStart is $exec_start" ;;
esac
grep -qx "WantedBy=default.target" "$unit" || fail "the unit is not wanted by default.target"
port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_user[@]}" "${run_env[@]}" vigilor-testserver --port "$port" --password pppp > "$work/server.out" 2>&1 &
pids+=("$!")
wait_for "$work/server.out" "listening on 127.0.0.1:$port"
# The instance "practice-1": what %h and %i stand for when systemd starts it.
instance=practice-1
folder="$data/servers/$instance"
# The folder set up as the README says, without a window: the server, the connect at start and
# the password from standard input ("pppp", kept scrambled by position as "qrst").
grep -qx "Type=notify" "$unit" || fail "the unit does not wait for the program's word"
grep -qE "^WatchdogSec=[1-9]" "$unit" || fail "the unit has no watchdog"
printf 'pppp\n' | "${as_user[@]}" "${run_env[@]}" vigilor --data-dir "$folder" --set IP=127.0.0.1 \
  --set Port="$port" --set AutoConnect=1 --password-stdin > "$work/setup.out" 2>&1 ||
  { cat "$work/setup.out"; fail "the set-up without a window failed"; }
[ "$(ls -A "$folder")" = vigilor.ini ] || fail "the set-up left more than vigilor.ini: $(ls -A "$folder")"
command=${exec_start//%h/$home}
command=${command//%i/$instance}
# shellcheck disable=SC2086 # the unit's command line, split into words as systemd splits it
"${as_user[@]}" "${run_env[@]}" $command > "$work/unit.out" 2>&1 &
pid=$!
pids+=("$pid")
wait_for "$work/server.out" "say ^1vigilor^2> ^7Csatlakozva"
kill -TERM "$pid"
wait "$pid" || fail "the service's program ended with status $?"
grep -qF "Csatlakozás szerverhez: 127.0.0.1:$port" "$work/unit.out" || fail "no connect line"
if grep -qE "Bad rconpassword|Adatmappa" "$work/unit.out"; then cat "$work/unit.out"; fail "unit run"; fi
grep -qaF "szerverhez: 127.0.0.1:$port" "$folder/logs/console ("*").log" ||
  fail "the instance's day log lacks the connect line"
grep -qa "^PWD=qrst" "$folder/vigilor.ini" || fail "the saved password was not kept"

echo "package checked: $(basename "$deb")"
