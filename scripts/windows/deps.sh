#!/usr/bin/env bash
# Builds the libraries the 64-bit Windows build links against: Qt 6.4.2 base (Core, Gui, Widgets,
# Network, Concurrent, Test, OpenGL, the windows/offscreen/minimal/direct2d platform plugins,
# Fusion/Windows/WindowsVista styles, Schannel TLS) and libcurl 7.88.1 (Schannel), cross-compiled
# with Debian's posix-thread mingw-w64 from Debian bookworm's own source packages.
#
# Usage: scripts/windows/deps.sh [DIR]
#   DIR (or VIGILOR_WIN64_DEPS_DIR) is where it works; default build-win64/deps of the repository.
#   Sources and build trees go to DIR/work/, the finished prefix to DIR/prefix/.
#   Progress goes to stderr; the last line on stdout is the prefix, the value for
#   VIGILOR_WIN64_PREFIX (so VIGILOR_WIN64_PREFIX=$(scripts/windows/deps.sh) works).
#   With VIGILOR_WIN64_PREFIX already naming a prefix there is nothing to do.
#
# The result is cached: a stamp written into the prefix only after everything was installed holds
# the source versions and a hash of the build options; while it matches, a new run does nothing.
# An interrupted run leaves no stamp: the next one keeps the downloaded sources and the build
# trees (ninja continues where it stopped) and installs the prefix anew.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(cd "$script_dir/../.." && pwd)
toolchain="$script_dir/mingw-w64.cmake"
triplet=x86_64-w64-mingw32

say() { echo "deps.sh: $*" >&2; }
die() { echo "deps.sh: error: $*" >&2; exit 1; }

case "${1:-}" in
  -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
[ $# -le 1 ] || die "at most one argument (the folder to build in) is taken, got $#"

# Files a usable prefix must hold; checked after the install and before trusting the cache.
required_files=(
  bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll bin/Qt6Network.dll bin/Qt6Concurrent.dll
  bin/Qt6Test.dll bin/Qt6OpenGL.dll bin/libcurl.dll
  bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll bin/libwinpthread-1.dll
  plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll
  plugins/platforms/qminimal.dll plugins/platforms/qdirect2d.dll
  plugins/styles/qwindowsvistastyle.dll plugins/tls/qschannelbackend.dll
  lib/cmake/Qt6/Qt6Config.cmake lib/cmake/CURL/CURLConfig.cmake include/curl/curl.h
)

# A prefix given by the caller is used as it is.
if [ -n "${VIGILOR_WIN64_PREFIX:-}" ]; then
  if [ -f "$VIGILOR_WIN64_PREFIX/lib/cmake/Qt6/Qt6Config.cmake" ] &&
     [ -f "$VIGILOR_WIN64_PREFIX/lib/cmake/CURL/CURLConfig.cmake" ]; then
    say "VIGILOR_WIN64_PREFIX already names a prefix ($VIGILOR_WIN64_PREFIX); nothing to do."
    echo "$VIGILOR_WIN64_PREFIX"
    exit 0
  fi
  die "VIGILOR_WIN64_PREFIX=$VIGILOR_WIN64_PREFIX holds no Windows Qt and libcurl" \
      "(no lib/cmake/Qt6/Qt6Config.cmake or lib/cmake/CURL/CURLConfig.cmake); unset it to build one"
fi

deps_dir="${1:-${VIGILOR_WIN64_DEPS_DIR:-$repo_dir/build-win64/deps}}"
mkdir -p "$deps_dir" || die "cannot create the folder $deps_dir"
deps_dir=$(cd "$deps_dir" && pwd)
work="$deps_dir/work"
prefix="$deps_dir/prefix"
stamp="$prefix/vigilor-deps.stamp"

# ---- What is built, and how. Every value here goes into the hash kept in the stamp. ----------
qt_upstream=6.4.2
curl_upstream=7.88.1
qt_options=(
  -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  # moc, rcc, uic and the CMake files for them come from the host's Qt of the same version.
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  # Third-party code from Qt's own tree, so the DLLs need nothing else.
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_doubleconversion=OFF
  # TLS through Windows' own Schannel; nothing the program does not use.
  -DFEATURE_openssl=OFF -DFEATURE_schannel=ON -DFEATURE_dbus=OFF -DFEATURE_sql=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF
  # Debian's source has no wintab header, which tablet events need.
  -DFEATURE_tabletevent=OFF
  # The Windows platform plugin of 6.4.2 does not compile with OpenGL off.
  -DFEATURE_opengl=ON -DFEATURE_opengl_desktop=ON
)
curl_options=(
  -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DBUILD_CURL_EXE=OFF -DCURL_ZLIB=OFF
  -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON
  -DENABLE_UNICODE=ON
)
runtime_dlls=(libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
# Raised whenever what is done after the builds (install, clean-up, copies) changes, so an older
# prefix is installed again; the builds themselves are kept.
install_revision=2
[ -f "$toolchain" ] || die "the toolchain file $toolchain is missing"
toolchain_hash=$(sha256sum < "$toolchain" | cut -d' ' -f1)
options_hash=$(
  { echo "qt6-base $qt_upstream"; printf '%s\n' "${qt_options[@]}"
    echo "curl $curl_upstream"; printf '%s\n' "${curl_options[@]}"
    printf '%s\n' "${runtime_dlls[@]}"; echo "install $install_revision"
    echo "prefix $prefix"; echo "toolchain $toolchain_hash"
  } | sha256sum | cut -d' ' -f1)

missing_files() {
  local f
  for f in "${required_files[@]}"; do [ -e "$1/$f" ] || echo "$f"; done
}

# ---- Cached? --------------------------------------------------------------------------------
if [ -f "$stamp" ]; then
  if grep -qx "options $options_hash" "$stamp" && [ -z "$(missing_files "$prefix")" ]; then
    say "prefix is complete ($(sed -n 's/^source //p' "$stamp" | paste -sd' ')); nothing to do."
    echo "$prefix"
    exit 0
  fi
  say "the prefix in $prefix was built with other options or lost files; building it again."
fi

on_exit() {
  local rc=$?
  [ "$rc" -eq 0 ] || echo "deps.sh: stopped (exit $rc); what was built so far is kept, run it again to continue." >&2
}
trap on_exit EXIT
exec 9>"$deps_dir/.lock"
flock -n 9 || die "another deps.sh is already working in $deps_dir"

# ---- Packages -------------------------------------------------------------------------------
# qt6-base-dev brings the host's Qt6*Tools CMake packages that QT_HOST_PATH points at;
# qt6-base-dev-tools the moc, rcc and uic they name.
packages=(g++-mingw-w64-x86-64-posix ninja-build cmake qt6-base-dev-tools qt6-base-dev
          dpkg-dev xz-utils perl)
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || die "not root and no sudo: cannot install packages or add deb-src"
  SUDO=sudo
else
  SUDO=
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# ---- deb-src entries --------------------------------------------------------------------------
# apt-get source needs deb-src entries. When none for bookworm is there, one is made from the
# bookworm, bookworm-updates and bookworm-security 'deb' entries, in deb822 form, in its own file.
apt_files=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && apt_files+=("$f")
done
[ ${#apt_files[@]} -gt 0 ] || die "no APT source lists under /etc/apt"
our_sources=/etc/apt/sources.list.d/vigilor-deb-src.sources
# Prints "have-deb-src" when an enabled deb-src entry for bookworm exists; otherwise prints
# deb822 stanzas of type deb-src for the bookworm suites of the enabled deb entries.
# shellcheck disable=SC2016 # an awk program, not shell
scan_sources='
function keep_suites(list,   n, i, a, out) {
  n = split(list, a, /[ \t]+/); out = ""
  for (i = 1; i <= n; i++)
    if (a[i] ~ /^bookworm(-updates|-security)?$/) out = out (out == "" ? "" : " ") a[i]
  return out
}
function has_word(list, w,   n, i, a) {
  n = split(list, a, /[ \t]+/)
  for (i = 1; i <= n; i++) if (a[i] == w) return 1
  return 0
}
function flush(   suites, k) {
  if (nf == 0) return
  if (tolower(val["enabled"]) != "no" && keep_suites(val["suites"]) != "") {
    if (has_word(val["types"], "deb-src")) have = 1
    if (has_word(val["types"], "deb")) {
      suites = keep_suites(val["suites"])
      out = out "Types: deb-src\n"
      for (k = 1; k <= nf; k++) {
        if (key[k] == "types" || key[k] == "enabled") continue
        if (key[k] == "suites") out = out "Suites: " suites "\n"
        else out = out raw[key[k]]
      }
      out = out "\n"
    }
  }
  nf = 0; split("", val); split("", raw)
}
FNR == 1 { flush(); deb822 = (FILENAME ~ /\.sources$/); last = "" }
deb822 {
  if ($0 ~ /^[ \t]*#/) next
  if ($0 ~ /^[ \t]*$/) { flush(); last = ""; next }
  if ($0 ~ /^[ \t]/ && last != "") { val[last] = val[last] " " $0; raw[last] = raw[last] $0 "\n"; next }
  k = tolower($0); sub(/:.*/, "", k); v = $0; sub(/^[^:]*:[ \t]*/, "", v)
  key[++nf] = k; val[k] = v; raw[k] = $0 "\n"; last = k
  next
}
{
  line = $0; sub(/#.*/, "", line)
  n = split(line, w, /[ \t]+/); i = 1; if (w[1] == "") i = 2
  type = w[i++]
  if (type != "deb" && type != "deb-src") next
  opts = ""
  if (w[i] ~ /^\[/) {
    while (i <= n) { opts = opts " " w[i]; if (w[i++] ~ /\]$/) break }
    gsub(/[\[\]]/, " ", opts)
  }
  uri = w[i++]; suite = w[i++]; comps = ""
  for (; i <= n; i++) if (w[i] != "") comps = comps (comps == "" ? "" : " ") w[i]
  if (keep_suites(suite) == "") next
  if (type == "deb-src") { have = 1; next }
  out = out "Types: deb-src\nURIs: " uri "\nSuites: " suite "\nComponents: " comps "\n"
  m = split(opts, o, /[ \t]+/)
  for (j = 1; j <= m; j++) {
    if (o[j] ~ /^signed-by=/) { sub(/^signed-by=/, "", o[j]); out = out "Signed-By: " o[j] "\n" }
    else if (o[j] ~ /^trusted=/) { sub(/^trusted=/, "", o[j]); out = out "Trusted: " o[j] "\n" }
  }
  out = out "\n"
}
END { flush(); if (have) print "have-deb-src"; else printf "%s", out }
'
src_scan=$(awk "$scan_sources" "${apt_files[@]}")
need_update=0
if [ "$src_scan" != "have-deb-src" ]; then
  [ -n "$src_scan" ] || die "found no 'deb' entry for bookworm in ${apt_files[*]} to make deb-src from"
  say "adding deb-src entries for bookworm in $our_sources"
  { echo "# Source packages for scripts/windows/deps.sh (apt-get source), made from the deb entries."
    printf '%s' "$src_scan"; } | $SUDO tee "$our_sources" >/dev/null
  need_update=1
fi
if [ $need_update -eq 0 ] && ! apt-cache showsrc --only-source qt6-base 2>/dev/null | grep -q '^Version:'; then
  need_update=1
fi
if [ $need_update -eq 1 ] || [ ${#missing[@]} -gt 0 ]; then
  say "apt-get update"
  $SUDO apt-get update -q >&2 || die "apt-get update failed"
fi
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 ||
    die "could not install ${missing[*]}"
fi

# ---- Sources ----------------------------------------------------------------------------------
# Picks the newest source version of package $1 whose upstream version is $2.
pick_version() {
  local best="" v
  for v in $(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p'); do
    case "$v" in "$2"|"$2"[+~-]*) ;; *) continue ;; esac
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  [ -n "$best" ] || die "no source of $1 $2 known to APT (apt-cache showsrc $1); is deb-src for bookworm set up?"
  echo "$best"
}

# Fetches source package $1 version $2 into $work/src/$1 unless a finished fetch is there;
# prints the unpacked source folder. A fetch without its marker is thrown away and done again.
fetch_source() {
  local pkg=$1 version=$2 dir="$work/src/$1" marker="$work/src/$1/.fetched" srcdir
  if [ -f "$marker" ] && [ "$(sed -n 1p "$marker")" = "$version" ]; then
    srcdir="$dir/$(sed -n 2p "$marker")"
    if [ -f "$srcdir/CMakeLists.txt" ]; then echo "$srcdir"; return; fi
  fi
  rm -rf "$dir"; mkdir -p "$dir"
  say "apt-get source $pkg=$version"
  # Run from inside the folder, so the download lands there; as root, APT cannot hand the
  # folder to its unprivileged download user and says so, which is harmless.
  (cd "$dir" && apt-get source -q "$pkg=$version" >&2) || die "apt-get source $pkg=$version failed"
  srcdir=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -name "$pkg-*" | head -n1)
  if [ -z "$srcdir" ] || [ ! -f "$srcdir/CMakeLists.txt" ]; then
    die "apt-get source $pkg gave no source folder with a CMakeLists.txt in $dir"
  fi
  printf '%s\n%s\n' "$version" "$(basename "$srcdir")" > "$marker"
  echo "$srcdir"
}

qt_version=$(pick_version qt6-base "$qt_upstream+dfsg")
curl_version=$(pick_version curl "$curl_upstream")
mkdir -p "$work/src"
qt_src=$(fetch_source qt6-base "$qt_version")
curl_src=$(fetch_source curl "$curl_version")

# ---- Builds -----------------------------------------------------------------------------------
# Configures (once per set of options) and builds source $1 in build folder $2 with the options
# that follow. A build folder configured otherwise, or whose configure did not finish, is wiped.
build() {
  local src=$1 bdir=$2 name; shift 2
  name=$(basename "$bdir")
  local want; want=$(printf '%s\n' "$src" "$prefix" "$toolchain_hash" "$@" | sha256sum | cut -d' ' -f1)
  if [ ! -f "$bdir/.configured" ] || [ "$(cat "$bdir/.configured")" != "$want" ]; then
    rm -rf "$bdir"; mkdir -p "$bdir"
    say "configuring $name"
    nice -n 10 cmake -S "$src" -B "$bdir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >&2 ||
      die "configuring $name failed; see the messages above (and $bdir/CMakeFiles/CMakeError.log)"
    echo "$want" > "$bdir/.configured"
  else
    say "continuing the build in $bdir"
  fi
  say "building $name with $(nproc) jobs"
  local t0=$SECONDS
  nice -n 10 cmake --build "$bdir" -j"$(nproc)" >&2 || die "building $name failed; see the messages above"
  say "built $name in $(( (SECONDS - t0) / 60 )) min $(( (SECONDS - t0) % 60 )) s"
}

build "$qt_src" "$work/build-qtbase" "${qt_options[@]}"
build "$curl_src" "$work/build-curl" "${curl_options[@]}"

# ---- Install ----------------------------------------------------------------------------------
# Always into an empty prefix, so nothing of an older or interrupted install stays behind.
say "installing into $prefix"
rm -rf "$prefix"
cmake --install "$work/build-qtbase" >&2 || die "installing qtbase into $prefix failed"
cmake --install "$work/build-curl" >&2 || die "installing libcurl into $prefix failed"

# qdoc's templates are of no use to a program built against the prefix.
rm -rf "$prefix/doc"
find "$prefix" -depth -type d -empty -delete

# The C and C++ runtime of the posix mingw-w64 flavour, which every DLL above imports.
for dll in "${runtime_dlls[@]}"; do
  path=$("$triplet-g++-posix" -print-file-name="$dll")
  [ -f "$path" ] || die "the compiler does not know where $dll is (is g++-mingw-w64-x86-64-posix installed?)"
  cp "$path" "$prefix/bin/"
done

find "$prefix" -name '*.dll' -exec "$triplet-strip" --strip-unneeded {} + ||
  die "stripping the DLLs failed"

lost=$(missing_files "$prefix")
[ -z "$lost" ] || die "the install lacks: $(echo "$lost" | paste -sd' ')"
cfg="$prefix/include/QtWidgets/$qt_upstream/QtWidgets/private/qtwidgets-config_p.h"
for feature in style_fusion style_windows style_windowsvista; do
  grep -q "QT_FEATURE_$feature 1" "$cfg" || die "Qt was configured without $feature (see $cfg)"
done

{ echo "source qt6-base $qt_version"
  echo "source curl $curl_version"
  echo "options $options_hash"
  echo "built $(date -u +%Y-%m-%dT%H:%M:%SZ)"
} > "$stamp.tmp"
mv "$stamp.tmp" "$stamp"
say "done: qt6-base $qt_version and curl $curl_version in $prefix"
say "use it with VIGILOR_WIN64_PREFIX=$prefix"
echo "$prefix"
