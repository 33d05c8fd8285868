#!/usr/bin/env bash
# Builds the Debian package out/package/wex_VERSION_amd64.deb from the
# programs-only release build (scripts/build.sh release) with CPack, and
# prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" release "$@"
rm -rf "$root/out/package"
# CPack writes the package's files as root's, whoever builds it.
(cd "$root/out/release" &&
   cpack -G DEB -B "$root/out/package" >"$root/out/release/cpack.log") || {
  cat "$root/out/release/cpack.log" >&2
  exit 1
}
rm -rf "$root/out/package/_CPack_Packages"
ls "$root"/out/package/wex_*.deb
