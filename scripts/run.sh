#!/usr/bin/env bash
# Installs what the build needs, builds the tool (release) and runs it with the given
# arguments: no argument observes the focused window, --windows lists the windows, and
# --focus reads a window entry from standard input.
#
# Where it runs: on this session's desktop when DISPLAY reaches an X server; otherwise (a
# server, a container, CI) on a private virtual desktop started for this one run with the
# end-to-end test application in front of gtk3-widget-factory, and torn down afterwards.
# Setup, build and desktop messages go to standard error: the reply is the only thing on
# standard output.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh" >&2
cd "$root"
cmake --preset release >/dev/null
tool="$root/build/release/nevo-desktop-accessibility"

if [ -n "${DISPLAY:-}" ] && xprop -root >/dev/null 2>&1; then
  cmake --build --preset release --target nevo-desktop-accessibility >/dev/null
  exec "$tool" "$@"
fi

echo "run.sh: no desktop reachable (DISPLAY=${DISPLAY:-unset}): running on a virtual desktop" >&2
cmake --build --preset release --target nevo-desktop-accessibility nevo_e2e_app >/dev/null
exec python3 "$root/scripts/desktop.py" --widget-factory \
  --test-app "$root/build/release/tests/e2e/nevo_e2e_app" -- "$tool" "$@"
