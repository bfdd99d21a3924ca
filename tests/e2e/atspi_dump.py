#!/usr/bin/python3
"""An independent look at what applications expose over AT-SPI, through libatspi (pyatspi,
Debian's python3-pyatspi), for comparing with what the tool reports.

    atspi_dump.py [--pid PID]... [--all] [--screen WIDTHxHEIGHT] [--depth N]

Prints one JSON object: {"applications": [{"pid", "name", "elements": [...]}]}, each
element {"path", "depth", "window", "role", "name", "states", "extents"} in the order of a
depth-first walk from each application's root. Only elements that are showing and whose
extents (as the toolkit reports them, in screen coordinates) have a size and meet the
screen are listed, unless --all is given. GTK 4.8 sets "showing" on its windows only and
"visible" on their elements: below a showing window, "visible" counts as showing. GTK 4.8
also gives its extents relative to the window, whatever coordinates are asked for; they
are printed as given. Below an element that is not showing nothing is listed (Qt calls
the controls of a minimized window showing). "window" is the name of the top-level the element lies in. Run it
in the desktop's environment (DISPLAY, DBUS_SESSION_BUS_ADDRESS).

It reads every element with the single-property reads and methods that every toolkit
serves (name, role, state set, child count and child at index, Component extents), never
org.freedesktop.DBus.Properties.GetAll, which Qt 5.15 and 6.4 answer by crashing.
"""

import json
import os
import subprocess
import sys

import pyatspi  # Debian's python3-pyatspi

MAX_DEPTH = 64
MAX_ELEMENTS = 20000


def _screen_size():
    try:
        out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, timeout=5).stdout
    except (OSError, subprocess.TimeoutExpired):
        out = ""
    for line in out.splitlines():
        if "dimensions:" in line:
            width, _, height = line.split()[1].partition("x")
            return int(width), int(height)
    return 1600, 1000


def _extents(accessible):
    try:
        component = accessible.queryComponent()
    except NotImplementedError:
        return None
    box = component.getExtents(pyatspi.DESKTOP_COORDS)
    return {"x": box.x, "y": box.y, "width": box.width, "height": box.height}


def _on_screen(extents, screen):
    width, height = screen
    return (extents is not None and extents["width"] > 0 and extents["height"] > 0 and
            extents["x"] < width and extents["y"] < height and
            extents["x"] + extents["width"] > 0 and extents["y"] + extents["height"] > 0)


def _states(accessible):
    state_set = accessible.getState()
    return sorted(pyatspi.stateToString(s) if hasattr(pyatspi, "stateToString") else str(s)
                  for s in state_set.getStates())


def dump_application(application, screen, everything, max_depth):
    elements = []
    # (accessible, path, depth, window name); the application's children are its windows.
    stack = [(application.getChildAtIndex(i), str(i), 1, None)
             for i in reversed(range(application.childCount))]
    window_showing = False
    while stack and len(elements) < MAX_ELEMENTS:
        accessible, path, depth, window = stack.pop()
        if accessible is None:
            continue
        try:
            name = accessible.name or ""
            role = accessible.getRoleName()
            states = _states(accessible)
            extents = _extents(accessible)
            count = accessible.childCount
        except Exception as error:  # an element gone or not answering: said, walk goes on
            elements.append({"path": path, "depth": depth, "error": str(error)})
            continue
        if window is None:
            window = name
            window_showing = "showing" in states
        showing = "showing" in states or (window_showing and "visible" in states)
        if everything or (showing and _on_screen(extents, screen)):
            elements.append({"path": path, "depth": depth, "window": window, "role": role,
                             "name": name, "states": states, "extents": extents})
        if depth < max_depth and (everything or showing):
            for i in reversed(range(count)):
                try:
                    child = accessible.getChildAtIndex(i)
                except Exception:
                    continue
                stack.append((child, f"{path}.{i}", depth + 1, window))
    return elements


def main(argv):
    pids, everything, screen, max_depth = set(), False, None, MAX_DEPTH
    arguments = argv[1:]
    while arguments:
        argument = arguments.pop(0)
        if argument == "--pid" and arguments:
            pids.add(int(arguments.pop(0)))
        elif argument == "--all":
            everything = True
        elif argument == "--screen" and arguments:
            width, _, height = arguments.pop(0).partition("x")
            screen = (int(width), int(height))
        elif argument == "--depth" and arguments:
            max_depth = int(arguments.pop(0))
        else:
            print(__doc__, file=sys.stderr)
            return 2
    screen = screen or _screen_size()
    desktop = pyatspi.Registry.getDesktop(0)
    applications = []
    for i in range(desktop.childCount):
        application = desktop.getChildAtIndex(i)
        if application is None:
            continue
        try:
            pid = application.get_process_id()
        except Exception:
            continue
        if pids and pid not in pids:
            continue
        applications.append({"pid": pid, "name": application.name or "",
                             "elements": dump_application(application, screen, everything,
                                                          max_depth)})
    json.dump({"applications": applications}, sys.stdout, ensure_ascii=False, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    os.environ.setdefault("NO_AT_BRIDGE", "1")  # this process exposes nothing itself
    sys.exit(main(sys.argv))
