#!/usr/bin/env bash
# Installs what is missing, builds wexbot and runs a rehearsed experiment
# of examples/ on the simulated service:
#   scripts/rehearse.sh [rehearsal|four-rounds]
# The transcript, the data files, the journal and the wire log are left in
# out/rehearsal/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release

run="$root/out/rehearsal"
rm -rf "$run"
mkdir -p "$run"
example="${1:-rehearsal}"
cp "$root/examples/$example.conf" "$root/examples/$example.scenario" \
   "$root/examples/rehearsal-passwords.txt" "$run/"
cd "$run"
status=0
TZ="${TZ:-UTC}" WEX_SETTINGS_DIR="$run/settings" "$root/out/release/bot/wexbot" "$example.conf" || status=$?
echo "transcript: $(ls "$run"/"$example"_*.log)"
for data in rounds chat payouts; do
  echo "data:       $(ls "$run"/"$example"_*_"$data".csv)"
done
echo "journal:    $(ls "$run"/"$example"_*.journal)"
echo "wire log:   $run/$example-wire.jsonl"
exit $status
