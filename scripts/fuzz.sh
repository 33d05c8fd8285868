#!/usr/bin/env bash
# Builds the fuzz harnesses with clang and libFuzzer under out/fuzz and runs
# each for SECONDS (default 60), on a scratch copy of its seed corpus so
# that the repository is left as it was. Prints how many inputs each
# harness ran. A crash stops the run; its input is kept under out/fuzz/
# crashes/HARNESS/, to be added to tests/fuzz/regressions/HARNESS/ with the
# fix.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
out="$root/out/fuzz"

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DWEX_FUZZ=ON -DWEX_WERROR=ON -DWEX_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
ninja -C "$out" fuzz

harnesses=(property_file scenario journal stanza check_line answer)
# In memory where possible: the journal harness writes a file per input.
scratch="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:abort_on_error=0"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:print_stacktrace=1"

status=0
summary=""
for name in "${harnesses[@]}"; do
    corpus="$scratch/$name"
    crashes="$out/crashes/$name"
    mkdir -p "$corpus" "$crashes"
    cp "$root/tests/fuzz/corpus/$name/"* "$corpus/"
    regressions="$root/tests/fuzz/regressions/$name"
    [ -d "$regressions" ] && cp "$regressions/"* "$corpus/"
    echo "== fuzz $name for ${seconds}s"
    log="$scratch/$name.log"
    if (cd "$scratch" && TMPDIR="$scratch" "$out/tests/fuzz/${name}_fuzz" -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$crashes/" -timeout=10 -rss_limit_mb=2048 \
        "$corpus") >"$log" 2>&1; then
        result="ok"
    else
        result="FAILED (see $crashes/)"
        status=1
        tail -n 60 "$log"
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    summary+="$(printf '%-14s %12s executions  %s' "$name" "${runs:-?}" "$result")"$'\n'
done
echo "== fuzz results (${seconds}s each)"
printf '%s' "$summary"
exit "$status"
