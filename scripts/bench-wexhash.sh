#!/usr/bin/env bash
# Times `wexhash /console`, `sha256sum` and `openssl dgst -sha256` on the same
# file in one run: several rounds each, the tools taking turns, the file in the
# page cache. Prints each tool's median time and how many times slower than
# wexhash the others are.
#
# Usage: scripts/bench-wexhash.sh [SIZE_MIB [ROUNDS]]   (defaults: 1024 and 5)
# WEXHASH=/path/to/wexhash uses that binary; otherwise an optimised build is
# made in build-bench/ at the top of the repository.
set -euo pipefail

size_mib=${1:-1024}
rounds=${2:-5}
repo=$(cd "$(dirname "$0")/.." && pwd)

if [[ -z "${WEXHASH:-}" ]]; then
    echo "Building wexhash (Release) in $repo/build-bench ..." >&2
    cmake -S "$repo" -B "$repo/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DWEX_BUILD_BOT=OFF >/dev/null
    ninja -C "$repo/build-bench" -j2 wexhash >/dev/null
    WEXHASH=$repo/build-bench/hashutil/wexhash
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-wexhash.XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/data.bin
echo "Making a $size_mib MiB file of random bytes ..." >&2
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$file"
cat "$file" >/dev/null  # into the page cache, for every tool alike

# The timed commands, as a user would type them (wexhash always exits 1).
run_wexhash() { "$WEXHASH" /console "$file" || true; }
run_sha256sum() { sha256sum "$file"; }
run_openssl() { openssl dgst -sha256 "$file"; }
tools=(wexhash sha256sum openssl)

# All three must agree before any time counts; each prints its digest in its
# own way, so reduce it to upper-case hexadecimal first.
digest_of() { "run_$1" | grep -oE '[0-9a-fA-F]{64}' | tr a-f A-F; }
expected=$(digest_of sha256sum)
for tool in "${tools[@]}"; do
    got=$(digest_of "$tool")
    if [[ "$got" != "$expected" ]]; then
        echo "$tool gave '$got', expected '$expected'" >&2
        exit 1
    fi
done

declare -A times
for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#tools[@]}; i++)); do
        tool=${tools[(i + round) % ${#tools[@]}]}  # turns rotate each round
        start=$EPOCHREALTIME
        "run_$tool" >/dev/null
        end=$EPOCHREALTIME
        times[$tool]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
    done
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "File: $size_mib MiB, $rounds rounds each; CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
printf '%-10s %12s %12s %18s\n' tool "median (s)" "MiB/s" "time / wexhash"
base=$(median <<<"${times[wexhash]}")
for tool in "${tools[@]}"; do
    m=$(median <<<"${times[$tool]}")
    awk -v t="$tool" -v m="$m" -v b="$base" -v s="$size_mib" \
        'BEGIN { printf "%-10s %12.3f %12.0f %17.2fx\n", t, m, s / m, m / b }'
done
