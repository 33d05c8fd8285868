#!/usr/bin/env bash
# Lists each module of lab/ (the package wexlab) with the package's modules
# it imports and their layers, and the imports that point upward; exits
# non-zero when there is one. tests/lab/layers_test.py is the same check.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec /usr/bin/python3 "$root/tests/lab/layers_test.py" --print
