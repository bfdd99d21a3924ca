#!/usr/bin/env bash
# Installs what the build needs, builds the tool (release) and runs it with the given
# arguments: no argument observes the focused window, --windows lists the windows, and
# --focus reads a window entry from standard input.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh" >&2
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target nevo-desktop-accessibility >/dev/null
exec "$root/build/release/nevo-desktop-accessibility" "$@"
