#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12; quick and quiet when all is there.
set -euo pipefail

packages=(cmake make g++ clang libgtest-dev googletest libbenchmark-dev netbase libcurl4-openssl-dev
          g++-mingw-w64-i686 wine wine32:i386 fonts-wine xvfb xauth xdotool x11-apps imagemagick
          zip unzip python3 python3-aiosmtpd libexpat1-dev openssl chromium chromium-driver python3-selenium
          libtomlplusplus-dev nlohmann-json3-dev msitools wixl hylafax-server systemd iproute2 util-linux)

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
# Wine runs the 32-bit program only with the i386 architecture's wine32.
dpkg --print-foreign-architectures | grep -qx i386 || sudo_if_needed dpkg --add-architecture i386
sudo_if_needed apt-get update -q -o DPkg::Lock::Timeout=600
sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
