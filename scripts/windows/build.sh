#!/usr/bin/env bash
# Builds Vigilor for 64-bit Windows on this Debian machine: vigilor.exe, vigilor-testserver.exe and
# the test programs, cross-compiled with mingw-w64 from the same CMake project as the Linux build
# (the web page and the service notifications are off there), into build-win64/vigilor/bin/,
# together with what they need at run time beside them: the Qt and libcurl DLLs, the mingw
# runtime, Qt's platform, style and TLS plugins and Qt's Hungarian texts.
#
# Usage: scripts/windows/build.sh [--no-tests]
#   VIGILOR_WIN64_PREFIX=DIR  use the Qt and libcurl for mingw in DIR (made elsewhere, e.g. by
#                             scripts/windows/deps.sh on another machine); without it
#                             scripts/windows/deps.sh builds them first (cached in build-win64/deps).
#   VIGILOR_WIN64_BUILD=DIR   the build folder (default build-win64/vigilor).
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
say() { echo "build.sh: $*" >&2; }

tests=ON
case "${1:-}" in
  --no-tests) tests=OFF ;;
  "") ;;
  -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) say "unknown argument: $1"; exit 2 ;;
esac

# What the cross build needs on the host, installed when missing.
scripts/install-deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools \
  qt6-translations-l10n

prefix=${VIGILOR_WIN64_PREFIX:-}
if [ -z "$prefix" ]; then
  prefix=$(scripts/windows/deps.sh | tail -n 1)
fi
[ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] ||
  { say "no Qt for mingw in $prefix (set VIGILOR_WIN64_PREFIX)"; exit 1; }
prefix=$(cd "$prefix" && pwd)

build=${VIGILOR_WIN64_BUILD:-$repo/build-win64/vigilor}
source scripts/buildflags.sh
launcher=()
if command -v ccache > /dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
started=$SECONDS
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/scripts/windows/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DVIGILOR_BUILD_TESTS="$tests" "${launcher[@]}" "${build_flags[@]}" > "$build/configure.log" ||
  { cat "$build/configure.log"; exit 1; }
# The run-time files beside the programs, so that they start from bin/ as they will from the
# installed folder: Windows looks for DLLs beside the executable, Qt for its plugins in
# folders beside it.
bin="$build/bin"
mkdir -p "$bin"
copy() { cp -u "$1" "$2"; }
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6Concurrent Qt6Test; do
  copy "$prefix/bin/$dll.dll" "$bin/"
done
copy "$prefix/bin/libcurl.dll" "$bin/"
# The mingw runtime of the posix flavour: the prefix's own copy, or the compiler's.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  if [ -f "$prefix/bin/$dll" ]; then
    copy "$prefix/bin/$dll" "$bin/"
  else
    found=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")
    [ -f "$found" ] || found=/usr/x86_64-w64-mingw32/lib/$dll
    [ -f "$found" ] || { say "the mingw runtime $dll is not to be found"; exit 1; }
    copy "$found" "$bin/"
  fi
done
mkdir -p "$bin/platforms" "$bin/styles" "$bin/tls" "$bin/translations"
for plugin in platforms/qwindows platforms/qoffscreen platforms/qminimal \
              styles/qwindowsvistastyle tls/qschannelbackend; do
  copy "$prefix/plugins/$plugin.dll" "$bin/$(dirname "$plugin")/"
done
# Qt's own Hungarian texts (the buttons of the dialogs): the same for every system.
for qm in qtbase_hu; do
  copy "/usr/share/qt6/translations/$qm.qm" "$bin/translations/"
done
cmake --build "$build" -j"$(nproc)"
say "built in $(( SECONDS - started )) s: $bin/vigilor.exe, $bin/vigilor-testserver.exe"
