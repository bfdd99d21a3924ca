#!/usr/bin/python3
"""What an application's toolkit itself says of its active window, read through libatspi
(pyatspi, Debian's python3-pyatspi), independently of the tool: the end-to-end tests and the
toolkit table (bench/linux/toolkit_table.py) hold the tool's replies against it.

    atspi_dump.py PID [X,Y ...]

Prints one JSON object:

- "elements": every element of the application's active window (else its first window) in
  the order of a depth-first walk from the window, the window first, each
  {"path", "depth", "role", "name", "states", "extents": [x, y, width, height] or null,
  "showing"}. "showing" is what the toolkit says of the element and of every ancestor up to
  the window: the "showing" state, where GTK 4 (which sets "showing" on its windows only,
  told by the application's toolkit name and version) counts "visible" below a showing
  window. Elements that are not showing are listed too
  (their subtrees walked): the tests look for them.
- "points": for each point given, the deepest element that the toolkit's own point query
  (Component.GetAccessibleAtPoint, asked level by level from the window) answers there and
  its ancestors up to the window, outermost first, each as role, name, extents and showing.
  Where the toolkit answers nothing deeper it is asked once more a moment later: Chromium
  answers from the hit test it last finished and starts a new one.

Extents and points are in the toolkit's screen coordinates as it gives them: GTK 4.8 on X11
gives them relative to its window, whatever coordinates are asked for (the caller moves them
by the X11 window's origin). A password field's name is read like any other; its text never
is. Every property is read on its own, through the AT-SPI methods and single-property reads
that every toolkit serves, never org.freedesktop.DBus.Properties.GetAll, which Qt 5.15 and
6.4 answer by crashing. Run it with the system's Python in the desktop's environment
(DISPLAY, DBUS_SESSION_BUS_ADDRESS).
"""

import json
import os
import sys
import time

os.environ.setdefault("NO_AT_BRIDGE", "1")  # this process exposes nothing itself

import pyatspi  # noqa: E402

ELEMENT_LIMIT = 5000
DEPTH_LIMIT = 64
SETTLE_SECONDS = 0.05


def _extents(accessible):
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except Exception:
        return None
    return [box.x, box.y, box.width, box.height]


def _states(accessible):
    try:
        return sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates())
    except Exception:
        return []


def describe(accessible, parent_showing=True, window_showing=None):
    """One element; `window_showing` None means the element is the window itself."""
    states = _states(accessible)
    own = "showing" in states or (bool(window_showing) and "visible" in states)
    return {"role": accessible.getRoleName(), "name": accessible.name or "",
            "states": states, "extents": _extents(accessible),
            "showing": parent_showing and own}


def active_window(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        application = desktop.getChildAtIndex(i)
        if application is None:
            continue
        try:
            if application.get_process_id() != pid:
                continue
            windows = [application.getChildAtIndex(j) for j in range(application.childCount)]
        except Exception:
            continue
        windows = [w for w in windows if w is not None]
        for window in windows:
            try:
                if window.getState().contains(pyatspi.STATE_ACTIVE):
                    return window
            except Exception:
                continue
        return windows[0] if windows else None
    return None


def visible_counts(application):
    """Whether "visible" counts as showing below a showing window: GTK 4 (which sets
    "showing" on its windows only). Other toolkits keep "visible" on what they hide (Firefox's
    preloaded New Tab page)."""
    try:
        name = application.get_toolkit_name() or ""
        version = application.get_toolkit_version() or ""
    except Exception:
        return False
    return name.lower().startswith("gtk") and version.startswith("4.")


def walk(window):
    elements = []
    # (accessible, path, depth, whether its parent is showing)
    stack = [(window, "0", 0, True)]
    window_showing = None
    gtk4 = visible_counts(window.get_application())
    while stack and len(elements) < ELEMENT_LIMIT:
        accessible, path, depth, parent_showing = stack.pop()
        try:
            element = describe(accessible, parent_showing,
                               None if depth == 0 else window_showing)
            count = accessible.childCount
        except Exception as error:  # an element gone or not answering: said, walk goes on
            elements.append({"path": path, "depth": depth, "error": str(error)})
            continue
        if depth == 0:
            window_showing = gtk4 and "showing" in element["states"]
        elements.append({"path": path, "depth": depth, **element})
        if depth < DEPTH_LIMIT:
            for i in reversed(range(count)):
                try:
                    child = accessible.getChildAtIndex(i)
                except Exception:
                    continue
                if child is not None:
                    stack.append((child, f"{path}.{i}", depth + 1, element["showing"]))
    return elements


def point_query(accessible, x, y):
    try:
        return accessible.queryComponent().getAccessibleAtPoint(x, y, pyatspi.DESKTOP_COORDS)
    except Exception:
        return None


def chain_at(window, x, y):
    """The deepest element at the point and its ancestors up to the window, outermost first
    (a toolkit may answer several levels down at once: the levels it skips are there too)."""
    current = window
    for _ in range(DEPTH_LIMIT):
        found = point_query(current, x, y)
        if found is None or found == current:
            time.sleep(SETTLE_SECONDS)
            found = point_query(current, x, y)
            if found is None or found == current:
                break
        current = found
    chain = []
    for _ in range(DEPTH_LIMIT):
        try:
            chain.append(describe(current))
        except Exception:
            break
        if current == window:
            break
        try:
            current = current.parent
        except Exception:
            break
        if current is None:
            break
    return list(reversed(chain))


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    pid = int(argv[1])
    points = [tuple(int(float(v)) for v in p.split(",")) for p in argv[2:]]
    window = active_window(pid)
    if window is None:
        print(json.dumps({"elements": [], "points": []}))
        return 0
    print(json.dumps({"elements": walk(window),
                      "points": [chain_at(window, x, y) for x, y in points]},
                     ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
