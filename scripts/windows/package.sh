#!/usr/bin/env bash
# Makes the Windows installer and the portable zip of a cross build (scripts/windows/build.sh):
#   BUILD/package/vigilor-VERSION-setup.exe  per-user installer (packaging/windows/vigilor.nsi)
#   BUILD/package/vigilor-VERSION-win64.zip  the same files in a folder Vigilor/, to unzip anywhere
# and prints their paths. Both hold the same files: the two programs, the DLLs they load (found
# by following the imports of the programs and of the plugins, so that nothing unused ships and
# nothing needed is missing), Qt's platform, style and TLS plugins, Qt's Hungarian texts and the
# documentation that "[Weblap]" opens. The files carry the time of the last commit
# (SOURCE_DATE_EPOCH when set), so the same build packs into the same bytes.
#
# Usage: scripts/windows/package.sh [BUILD]
#   BUILD  the build folder: the argument, else VIGILOR_WIN64_BUILD, else build-win64/vigilor.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
say() { echo "package.sh: $*" >&2; }
fail() { say "$*"; exit 1; }

case "${1:-}" in
  -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
[ $# -le 1 ] || fail "one argument at most: the build folder"
build=${1:-${VIGILOR_WIN64_BUILD:-$repo/build-win64/vigilor}}
bin=$build/bin
for program in vigilor.exe vigilor-testserver.exe; do
  [ -f "$bin/$program" ] ||
    fail "$bin/$program is missing: build it first (scripts/windows/build.sh, with VIGILOR_WIN64_BUILD=$build)"
done
build=$(cd "$build" && pwd)
bin=$build/bin

# What packing needs on the host, installed when missing.
"$repo/scripts/install-deps.sh" nsis zip binutils-mingw-w64-x86-64

version=$(sed -n 's/^project(Vigilor VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version X.Y.Z in CMakeLists.txt's project()"
# A build configured from another version would be packed under the wrong name.
built=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[ -z "$built" ] || [ "$built" = "$version" ] ||
  fail "$build was configured for version $built, CMakeLists.txt says $version: build again first"

# The time the packed files carry; strip and makensis write it into their headers too.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)}
export SOURCE_DATE_EPOCH=$epoch

started=$SECONDS
out=$build/package
stage=$out/Vigilor
rm -rf "$stage" "$out/files.nsh"
mkdir -p "$stage"

# The DLLs to ship: everything the programs and the plugins import, and what those import in
# turn, that is in bin/. An import that is not there must be a part of Windows: one that mingw-w64
# has an import library for, or an API set (api-ms-win-*, ext-ms-*). Anything else would be a
# DLL that the installed program cannot find.
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll)
mingwlib=/usr/x86_64-w64-mingw32/lib
declare -A shipped=()
queue=(vigilor.exe vigilor-testserver.exe "${plugins[@]}")
for file in "${queue[@]}"; do
  [ -f "$bin/$file" ] || fail "$bin/$file is missing (scripts/windows/build.sh copies it)"
done
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  [ -z "${shipped[$file]:-}" ] || continue
  shipped[$file]=1
  while read -r name; do
    [ -n "$name" ] || continue
    local_name=$(find "$bin" -maxdepth 1 -iname "$name" -printf '%f\n' | head -n 1)
    if [ -n "$local_name" ]; then
      queue+=("$local_name")
      continue
    fi
    lower=${name,,}
    case "$lower" in
      api-ms-win-*|ext-ms-*) continue ;;
    esac
    [ -f "$mingwlib/lib${lower%.dll}.a" ] ||
      fail "$file imports $name, which is neither in $bin nor a part of Windows"
  done < <(x86_64-w64-mingw32-objdump -p "$bin/$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
files=("${!shipped[@]}" translations/qtbase_hu.qm docs/README.md docs/architecture.md)
mapfile -t files < <(printf '%s\n' "${files[@]}" | LC_ALL=C sort)
for file in "${files[@]}"; do
  [ -f "$bin/$file" ] || fail "$bin/$file is missing (scripts/windows/build.sh copies it)"
  mkdir -p "$stage/$(dirname "$file")"
  cp "$bin/$file" "$stage/$file"
done
# The build keeps its debug information (RelWithDebInfo, and the compiler's runtime DLLs carry
# theirs): the shipped copies go without it, about 25 MB less, their symbols kept.
for file in "${files[@]}"; do
  case "$file" in
    *.exe|*.dll) x86_64-w64-mingw32-strip --strip-debug "$stage/$file" ;;
  esac
done

# The same bytes for the same build: fixed times and modes, a fixed order.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage"/*.exe
find "$stage" -exec touch -h -d "@$epoch" {} +

# The installer's file list: what it writes, and what its uninstaller removes (the deepest
# folders first, so that each is empty when it is removed).
{
  echo "; Written by scripts/windows/package.sh: the files of Vigilor $version."
  echo "!macro VIGILOR_INSTALL_FILES"
  dir=
  for file in "${files[@]}"; do
    d=$(dirname "$file")
    if [ "$d" != "$dir" ]; then
      dir=$d
      if [ "$d" = . ]; then echo '  SetOutPath "$INSTDIR"'; else echo "  SetOutPath \"\$INSTDIR\\${d//\//\\}\""; fi
    fi
    echo "  File \"\${STAGE}/$file\""
  done
  echo "!macroend"
  echo "!macro VIGILOR_REMOVE_FILES"
  for file in "${files[@]}"; do
    echo "  Delete \"\$INSTDIR\\${file//\//\\}\""
  done
  printf '%s\n' "${files[@]}" | grep / | xargs -n1 dirname | LC_ALL=C sort -ru |
    while read -r d; do echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""; done
  echo "!macroend"
} > "$out/files.nsh"

setup=$out/vigilor-$version-setup.exe
zipfile=$out/vigilor-$version-win64.zip
rm -f "$setup" "$zipfile"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$out/files.nsh" \
  -DOUTFILE="$setup" "$repo/packaging/windows/vigilor.nsi" > "$out/makensis.log" 2>&1 ||
  { cat "$out/makensis.log" >&2; fail "makensis failed"; }
(cd "$out" && find Vigilor | LC_ALL=C sort | TZ=UTC zip -X -q -9 "$zipfile" -@)

say "packed in $(( SECONDS - started )) s; files:"
printf '  %s\n' "${files[@]}" >&2
echo "$setup"
echo "$zipfile"
