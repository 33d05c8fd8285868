#!/usr/bin/env bash
# Installs the Debian packages that building and testing wex needs.
# Runs as root on Debian 12; does nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  clang libclang-rt-14-dev
  libgtest-dev
  qt6-base-dev libgl-dev
  libstrophe-dev
  prosody ejabberd python3-slixmpp
  openssl coreutils
  dpkg-dev file scdoc lintian
  chromium chromium-driver python3-selenium python3-qrcode zbar-tools
  python3-aiohttp python3-yaml pyflakes3
  python3-openpyxl  # session.xlsx
  nodejs  # node --test runs the seat page's unit tests
  gettext  # xgettext, msgmerge and msgfmt for the catalogues in po/
  # An online session's proxy: wexlab runs nginx on a configuration of its
  # own (Proxy on); nothing uses the system's service or its port 80.
  nginx
)
# npm comes with Node.js where that is installed from elsewhere.
command -v npm >/dev/null || packages+=(npm)

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

# The web seats' XMPP library, exactly as package-lock.json pins it.
web="$(cd "$(dirname "$0")/.." && pwd)/web"
if ! cmp -s "$web/package-lock.json" "$web/node_modules/.wex-installed-lock" 2>/dev/null; then
  (cd "$web" && npm ci --ignore-scripts --no-audit --no-fund)
  cp "$web/package-lock.json" "$web/node_modules/.wex-installed-lock"
fi
