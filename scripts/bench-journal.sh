#!/usr/bin/env bash
# Measures what making one journal entry durable costs on this machine:
# an append of a typical entry (one write) followed by fdatasync, as the
# bot does before it answers each message that changes the game.
#   scripts/bench-journal.sh [COUNT] [FOLDER]
# FOLDER (default out/) should lie on the disk the bot's files will use.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-500}"
folder="${2:-$root/out}"
mkdir -p "$folder"
python3 - "$count" "$folder" <<'PY'
import os, statistics, sys, tempfile, time
count, folder = int(sys.argv[1]), sys.argv[2]
entry = (b'5e0e3b1c {"kind":"answer","t":1796634020,"subject":1,'
         b'"what":"expectation","value":30,"round":1}\n')
with tempfile.TemporaryDirectory(dir=folder) as tmp:
    fd = os.open(os.path.join(tmp, "bench.journal"), os.O_WRONLY | os.O_APPEND | os.O_CREAT)
    times = []
    for _ in range(count):
        start = time.perf_counter()
        os.write(fd, entry)
        os.fdatasync(fd)
        times.append(time.perf_counter() - start)
    os.close(fd)
times.sort()
ms = lambda s: f"{s * 1000:.3f} ms"
print(f"{count} entries of {len(entry)} bytes, write + fdatasync each, in {folder}")
print(f"median {ms(statistics.median(times))}, 90th percentile "
      f"{ms(times[int(count * 0.9)])}, max {ms(times[-1])}")
PY
