#!/usr/bin/env bash
# Installs the Debian packages that building and testing wex needs.
# Runs as root on Debian 12; does nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  libgtest-dev
  qt6-base-dev libgl-dev
  libstrophe-dev
  prosody ejabberd python3-slixmpp
  openssl coreutils
  chromium chromium-driver python3-selenium python3-aiohttp pyflakes3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
