#!/usr/bin/env bash
# Builds the fuzz targets (Clang, libFuzzer, address and undefined-behaviour sanitizers)
# and runs each for a bounded time, starting from its checked-in seed corpus. Fails on a
# crash, a sanitizer report, an input that takes more than a second (the D-Bus target also
# on a read that costs more than a few steps per byte, with inputs up to 1 MiB), or a reply that is not
# exactly one line of valid JSON (or nothing where nothing is the rule): the targets abort
# on those, and libFuzzer keeps the input under build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh                 # about a minute per target
#   FUZZ_SECONDS=600 scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"

echo "== fuzz (${seconds} s per target)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for target in focus reply text dbus; do
  binary="build/fuzz/tests/fuzz/nevo_fuzz_${target}"
  seeds="tests/fuzz/corpus/${target}"
  work="build/fuzz/corpus/${target}"       # what this run adds to the seeds; not kept
  findings="build/fuzz/findings/${target}"
  log="build/fuzz/${target}.log"
  rm -rf "$work" && mkdir -p "$work" "$findings"
  options=(-max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="${findings}/")
  case "$target" in
    focus) options+=(-max_len=40000 -dict=tests/fuzz/focus.dict) ;;
    reply) options+=(-max_len=4096) ;;
    text) options+=(-max_len=8192) ;;
    dbus) options+=(-max_len=1048576) ;;
  esac
  if "$binary" "${options[@]}" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    echo "fuzz ${target}: ${runs} executions in ${took} s (${rate}/s), corpus $(ls "$work" | wc -l) new + $(ls "$seeds" | wc -l) seeds"
  else
    status=1
    echo "fuzz ${target}: FAILED; the input is in ${findings}/, the log says:"
    grep -v -E '^(INFO:|#[0-9]|MS: |base unit: |[[:space:]]+NEW_FUNC|[[:space:]]*$)' "$log" | head -60
  fi
done
exit "$status"
