#!/usr/bin/env bash
# Times wexhash against sha256sum and `openssl dgst -sha256` in one run, on
# files in the page cache, and sets them beside the processor's limit as
# `openssl speed -evp sha256 -bytes 16384` measures it:
#   - one large file: `wexhash /console`, `wexhash /sum`, sha256sum, openssl dgst;
#   - four files a quarter that size: `wexhash /sum` on all four at once
#     against `wexhash /sum` on one of them (the gain from hashing in parallel),
#     and sha256sum on all four.
# Each command runs several rounds, the commands taking turns; the table
# shows medians.
#
# Usage: scripts/bench-wexhash.sh [SIZE_MIB [ROUNDS]]   (defaults: 1024 and 5)
# WEXHASH=/path/to/wexhash uses that binary; otherwise an optimised build is
# made in out/bench.
set -euo pipefail

size_mib=${1:-1024}
rounds=${2:-5}
quarter_mib=$((size_mib / 4))
repo=$(cd "$(dirname "$0")/.." && pwd)

if [[ -z "${WEXHASH:-}" ]]; then
    echo "Building wexhash (Release) in $repo/out/bench ..." >&2
    cmake -S "$repo" -B "$repo/out/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DWEX_BUILD_BOT=OFF -DWEX_BUILD_TESTS=OFF >/dev/null
    ninja -C "$repo/out/bench" wexhash >/dev/null
    WEXHASH=$repo/out/bench/hashutil/wexhash
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-wexhash.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Making a $size_mib MiB file and four of $quarter_mib MiB ..." >&2
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/large"
for i in 1 2 3 4; do head -c $((quarter_mib * 1024 * 1024)) /dev/urandom >"$work/part$i"; done
cat "$work"/* >/dev/null # into the page cache, for every command alike
parts=("$work"/part1 "$work"/part2 "$work"/part3 "$work"/part4)

# The timed commands, as a user would type them (wexhash /console always
# exits 1), and how many MiB each one hashes.
run_console() { "$WEXHASH" /console "$work/large" || true; }
run_sum() { "$WEXHASH" /sum "$work/large"; }
run_sha256sum() { sha256sum "$work/large"; }
run_openssl() { openssl dgst -sha256 "$work/large"; }
run_sum1of4() { "$WEXHASH" /sum "$work/part1"; }
run_sum4() { "$WEXHASH" /sum "${parts[@]}"; }
run_sha256sum4() { sha256sum "${parts[@]}"; }
commands=(console sum sha256sum openssl sum1of4 sum4 sha256sum4)
declare -A mib=([console]=$size_mib [sum]=$size_mib [sha256sum]=$size_mib [openssl]=$size_mib
    [sum1of4]=$quarter_mib [sum4]=$((4 * quarter_mib)) [sha256sum4]=$((4 * quarter_mib)))
declare -A label=([console]="wexhash /console" [sum]="wexhash /sum"
    [sha256sum]="sha256sum" [openssl]="openssl dgst -sha256"
    [sum1of4]="wexhash /sum, 1 of 4" [sum4]="wexhash /sum, 4 files" [sha256sum4]="sha256sum, 4 files")

# All must agree before any time counts: every digest, in lower case.
digests_of() { "run_$1" | grep -oE '[0-9a-fA-F]{64}' | tr A-F a-f | tr '\n' ' '; }
for pair in "console sha256sum" "sum sha256sum" "openssl sha256sum" "sum4 sha256sum4"; do
    read -r ours theirs <<<"$pair"
    if [[ "$(digests_of "$ours")" != "$(digests_of "$theirs")" ]]; then
        echo "$ours and $theirs disagree" >&2
        exit 1
    fi
done

declare -A times
for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#commands[@]}; i++)); do
        c=${commands[(i + round) % ${#commands[@]}]} # turns rotate each round
        start=$EPOCHREALTIME
        "run_$c" >/dev/null
        end=$EPOCHREALTIME
        times[$c]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
    done
done

# The processor's limit, measured after the timed runs, in MiB/s.
limit=$(openssl speed -evp sha256 -bytes 16384 -seconds 3 2>/dev/null |
    awk '$1 == "sha256" { sub(/k$/, "", $2); print $2 * 1000 / 1048576 }')

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Files in the page cache; $rounds rounds each; $(nproc) cores;$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
printf '%-24s %8s %10s %10s %9s\n' command MiB "median s" "MiB/s" "of limit"
printf '%-24s %8s %10s %10.0f %8.0f%%\n' "openssl speed (limit)" - - "$limit" 100
declare -A rate
for c in "${commands[@]}"; do
    m=$(median <<<"${times[$c]}")
    rate[$c]=$(awk -v s="${mib[$c]}" -v m="$m" 'BEGIN { print s / m }')
    awk -v t="${label[$c]}" -v s="${mib[$c]}" -v m="$m" -v r="${rate[$c]}" -v l="$limit" \
        'BEGIN { printf "%-24s %8d %10.3f %10.0f %8.0f%%\n", t, s, m, r, 100 * r / l }'
done
awk -v a="${rate[sum4]}" -v b="${rate[sum1of4]}" -v c="${rate[console]}" -v o="${rate[openssl]}" \
    -v s="${rate[sha256sum]}" 'BEGIN {
    printf "\n4 files at once / 1 file (wexhash /sum): %.2fx\n", a / b
    printf "wexhash /console speed / openssl dgst: %.2fx, / sha256sum: %.2fx\n", c / o, c / s }'
