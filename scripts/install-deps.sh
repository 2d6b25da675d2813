#!/usr/bin/env bash
# Installs Debian 12 packages only when one is missing (as root, or through sudo): the packages
# named on the command line, or without any, those the Linux build and its tests need. The
# Windows scripts name their own (scripts/windows/*.sh).
set -euo pipefail
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
            qt6-translations-l10n libcurl4-openssl-dev libbenchmark-dev python3-pyftpdlib
            vsftpd openssl
            dpkg-dev appstream desktop-file-utils groff-base libsystemd-dev
            libxcb1-dev xvfb xauth x11-utils tzdata clang-15 libfuzzer-15-dev
            qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver python3-selenium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
