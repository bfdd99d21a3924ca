#!/usr/bin/env python3
"""What the first observations of a Chromium that no client has listened to see, and how
long it takes to build its tree once the tool's registration wakes it.

    python3 bench/linux/chromium_wake.py --binary PATH [--starts N] [--idle SECONDS]

Each of N times (default 5), on one private desktop: a fresh Chromium (new profile) on the
project's sign-in page; once its window is there, it is left alone for SECONDS (default 5,
so that it is running, not starting); then the tool observes it again and again, as fast as
it can. Printed per start: each distinct reply in order (time since the first observation
began, its status and reason or its number of records), the time until the first reply with
the page's controls, and the registry's registered events before and after (nothing may be
left).
"""

import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.dont_write_bytecode = True

import desktop as desktop_module  # noqa: E402

PAGE = "file://" + os.path.abspath(os.path.join(ROOT, "tests", "e2e", "page", "sign_in.html"))
WATCH_SECONDS = 5.0


def registered(desktop):
    return desktop._dbus_send(desktop.a11y_address, desktop_module.REGISTRY,
                              "/org/a11y/atspi/registry",
                              "org.a11y.atspi.Registry.GetRegisteredEvents")


def main():
    arguments = sys.argv[1:]
    binary, starts, idle = None, 5, 5.0
    while arguments:
        argument = arguments.pop(0)
        if argument == "--binary":
            binary = os.path.abspath(arguments.pop(0))
        elif argument == "--starts":
            starts = int(arguments.pop(0))
        elif argument == "--idle":
            idle = float(arguments.pop(0))
    if not binary:
        sys.exit(__doc__)
    with desktop_module.Desktop() as desktop:
        desktop._dbus_send(desktop.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                           "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                           "string:IsEnabled", "variant:boolean:true")
        for start in range(starts):
            profile = os.path.join(desktop.dir, f"chromium-{start}")
            browser = desktop.spawn(["chromium", "--no-sandbox", f"--user-data-dir={profile}",
                                     "--no-first-run", PAGE], name=f"chromium-{start}",
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            try:
                desktop.wait_registered(browser.pid, "chromium")
                desktop.wait_active(browser.pid, "chromium")
                time.sleep(idle)
                before = registered(desktop)
                began, last, ready = time.monotonic(), None, None
                print(f"start {start + 1}:")
                while time.monotonic() - began < WATCH_SECONDS:
                    at = time.monotonic() - began
                    reply = json.loads(subprocess.run([binary], env=desktop.env,
                                                      capture_output=True).stdout)
                    names = {r["name"] for r in reply.get("elements", [])}
                    seen = (reply["status"], reply.get("reason") or len(reply.get("elements", [])))
                    if seen != last:
                        print(f"  {1000 * at:7.1f} ms: {seen[0]} {seen[1]}")
                        last = seen
                    if ready is None and "Sign in" in names and "Remember me" in names:
                        ready = time.monotonic() - began
                        print(f"  the page's controls from {1000 * at:.1f} ms "
                              f"(that reply ended at {1000 * ready:.1f} ms)")
                after = registered(desktop)
                print(f"  registered before: {' '.join((before or '').split())!r}, "
                      f"after: {' '.join((after or '').split())!r}")
                sys.stdout.flush()
            finally:
                browser.kill()
                browser.wait()


if __name__ == "__main__":
    main()
