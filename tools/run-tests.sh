#!/bin/sh
# Configures, builds and tests both presets: the Linux host build (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and the 32-bit Windows build (its tests run under Wine).
set -eu
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native win32; do
  echo "=== $preset: configure and build" >&2
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test" >&2
  ctest --preset "$preset" -j "$jobs"
done
echo "=== all tests passed" >&2
