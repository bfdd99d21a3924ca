#!/usr/bin/env bash
# The hardening step of CI, run after the builds have run their tests: shows how many
# cases each property test checked in each build (read from the ctest logs), then runs
# the fuzz targets for a bounded time (scripts/fuzz.sh), which fails the step on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in debug clang sanitize; do
  log="build/${preset}/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || continue
  echo "== properties (${preset})"
  grep -h '^\[ property \] [A-Za-z]' "$log" | sed 's/^\[ property \] //' | sort || true
done

scripts/fuzz.sh
