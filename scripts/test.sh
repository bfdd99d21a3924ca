#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: with GCC, with Clang,
# and with Clang under the address and undefined-behaviour sanitizers. Warnings are
# errors in all three builds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in debug clang sanitize; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --parallel 2
done
scripts/hardening.sh
