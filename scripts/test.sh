#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: with GCC, with Clang,
# and with Clang under the address and undefined-behaviour sanitizers; then builds the
# optimised build that scripts/run.sh uses. Warnings are errors in every build.
#
# The end-to-end tests (label e2e: the real binary on a virtual desktop) run in the GCC
# build and under the sanitizers, where leaks and undefined behaviour meet a real desktop;
# the Clang build compiles the same code as the GCC one and skips them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in debug clang sanitize; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = clang ]; then
    ctest --preset "$preset" --parallel 2 --label-exclude e2e
  else
    ctest --preset "$preset" --parallel 2
  fi
done
scripts/hardening.sh

# The optimised build that scripts/run.sh makes: built here too, since GCC warns of other
# things at -O3 than in the debug build (its tests are those of the debug build).
echo "== release"
cmake --preset release >/dev/null
cmake --build --preset release
