#!/usr/bin/env bash
# Configures and builds one flavour of wex under out/NAME.
#   scripts/build.sh release   the programs alone, optimised and hardened as
#                              Debian builds them, no tests: for lab machines
#                              and the package
#   scripts/build.sh dev       everything, the tests included
#   scripts/build.sh NAME [cmake options...]   any other flavour
# Options given after NAME are added to (and override) the flavour's own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
shift
flavour=()
case "$name" in
  release)
    # Debian's compiler and linker flags, hardening included, with no build
    # type's flags on top (as debhelper builds with CMake) and no debugging
    # information, which the package strips anyway. Elsewhere: -O2 -g.
    flags() { cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g \
              DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get "$1"; }
    flavour=(-DWEX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    if command -v dpkg-buildflags >/dev/null; then
      flavour=(-DWEX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=None
               "-DCMAKE_C_FLAGS=$(flags CPPFLAGS) $(flags CFLAGS)"
               "-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)"
               "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)"
               "-DCMAKE_MODULE_LINKER_FLAGS=$(flags LDFLAGS)"
               "-DCMAKE_SHARED_LINKER_FLAGS=$(flags LDFLAGS)")
    fi
    ;;
  dev)
    flavour=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEX_BUILD_TESTS=ON)
    ;;
esac
cmake -S "$root" -B "$root/out/$name" -G Ninja -DWEX_WERROR=ON "${flavour[@]}" "$@" >/dev/null
ninja -C "$root/out/$name" -j "$(nproc)"
