#!/usr/bin/env bash
# Configures and builds one flavour of wex under out/NAME.
#   scripts/build.sh NAME [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
shift
cmake -S "$root" -B "$root/out/$name" -G Ninja -DWEX_WERROR=ON "$@" >/dev/null
ninja -C "$root/out/$name" -j "$(nproc)"
