#!/usr/bin/env bash
# Installs what is missing, builds wex three ways and runs the tests:
#   1. warnings as errors: every test;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer: every test;
#   3. ThreadSanitizer: the bot's tests that run its worker thread;
# then fuzzes each parser for 20 seconds with libFuzzer (clang), and builds
# the Debian package from the programs-only release build and checks it
# (not installed: that needs root and changes the machine).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"

echo "== format check"
# Every C++ source of the project, as clang-format would write it.
(cd "$root" && git ls-files -co --exclude-standard -- '*.cc' '*.h' |
    xargs clang-format --dry-run -Werror)

echo "== Python check"
# wexlab (the package lab/ and its two launchers) and every Python test, with
# Debian's pyflakes.
(cd "$root" && pyflakes3 scripts/wexlab $(git ls-files -co --exclude-standard -- '*.py'))

run_tests() {
  local dir="$1"
  shift
  # No test may hang the run: each gets at most five minutes.
  ctest --test-dir "$root/out/$dir" --output-on-failure -j 2 --timeout 300 "$@"
}

echo "== build: warnings as errors"
"$root/scripts/build.sh" dev
run_tests dev

echo "== build: address and undefined-behaviour sanitizers"
"$root/scripts/build.sh" asan -DCMAKE_BUILD_TYPE=Debug -DWEX_SANITIZE=address,undefined
# The fault cases that wait out minute-long outages run once, above.
run_tests asan -LE e2e-long

echo "== build: thread sanitizer"
"$root/scripts/build.sh" tsan -DCMAKE_BUILD_TYPE=Debug -DWEX_SANITIZE=thread -DWEX_BUILD_HASH=OFF
TSAN_OPTIONS="halt_on_error=1" run_tests tsan -L threaded

echo "== fuzz: each harness for 20 s"
"$root/scripts/fuzz.sh" 20
echo "== package"
"$root/scripts/package.sh"
"$root/scripts/check-package.sh"
