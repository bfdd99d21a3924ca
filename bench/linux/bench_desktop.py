#!/usr/bin/env python3
"""scripts/desktop.py on the displays kept for benchmarks (:71 to :79), so that a benchmark's
desktop never takes a display another desktop on this machine is looking for.

    python3 bench/linux/bench_desktop.py [--test-app PATH] [--widget-factory] -- COMMAND [ARG...]
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))

import desktop  # noqa: E402  (scripts/desktop.py)

desktop.FIRST_DISPLAY = 71
desktop.DISPLAYS_TRIED = 9

if __name__ == "__main__":
    sys.exit(desktop.main(sys.argv))
