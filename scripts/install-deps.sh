#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only when one is missing.
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          qt6-translations-l10n libcurl4-openssl-dev libbenchmark-dev python3-pyftpdlib
          vsftpd openssl
          dpkg-dev appstream desktop-file-utils groff-base libsystemd-dev
          libxcb1-dev xvfb xauth x11-utils tzdata clang-15 libfuzzer-15-dev
          qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver python3-selenium)
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
