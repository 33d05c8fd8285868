#!/usr/bin/env bash
# Installs what is missing, builds wexbot and runs the rehearsed experiment
# of examples/ on the simulated service. The transcript and the wire log
# are left in out/rehearsal/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release -DCMAKE_BUILD_TYPE=RelWithDebInfo

run="$root/out/rehearsal"
rm -rf "$run"
mkdir -p "$run"
cp "$root"/examples/rehearsal.conf "$root"/examples/rehearsal.scenario \
   "$root"/examples/rehearsal-passwords.txt "$run/"
cd "$run"
status=0
TZ="${TZ:-UTC}" WEX_SETTINGS_DIR="$run/settings" "$root/out/release/bot/wexbot" rehearsal.conf || status=$?
echo "transcript: $(ls "$run"/rehearsal_*.log)"
echo "wire log:   $run/rehearsal-wire.jsonl"
exit $status
