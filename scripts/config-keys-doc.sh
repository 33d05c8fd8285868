#!/usr/bin/env bash
# Writes docs/reference/configuration.md from the key table: the page is
# what `wexbot --keys=markdown` prints. Run it after changing the table
# (messaging/config_keys.cc); until then a test fails.
#   scripts/config-keys-doc.sh [WEXBOT]   WEXBOT defaults to out/dev/bot/wexbot
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
wexbot="${1:-$root/out/dev/bot/wexbot}"
mkdir -p "$root/docs/reference"
"$wexbot" --keys=markdown >"$root/docs/reference/configuration.md"
