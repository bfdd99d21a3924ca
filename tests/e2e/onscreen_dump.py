#!/usr/bin/python3
"""What an application's toolkit itself says of its active window, read through libatspi
(pyatspi), independently of the tool: the end-to-end tests and the hit-test comparison hold
the tool's replies against it.

    onscreen_dump.py PID [X,Y ...]

prints one JSON object: "elements", every element of the application's active window (else
its first) in
the application's order (role name, name, extents on the screen, whether it is showing), and
for each point given, "points": the deepest element that the toolkit's own point query
(Component.GetAccessibleAtPoint, asked level by level) answers there and its ancestors up to
the window, outermost first, each as role name, name and extents (where the toolkit answers
nothing deeper, it is asked once more a moment later: Chromium answers from its last hit test). Every property is read on its own (no GetAll).
Run it with the system's Python (pyatspi is a Debian package) in the desktop's environment.
"""

import json
import sys
import time

import pyatspi

ELEMENT_LIMIT = 5000
DEPTH_LIMIT = 64
SETTLE_SECONDS = 0.05


def describe(accessible):
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except Exception:
        extents = None
    try:
        showing = accessible.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        showing = False
    role = accessible.getRoleName()
    # A password field's name is read like any other (the toolkit gives its label); its text
    # never is.
    return {"role": role, "name": accessible.name or "", "extents": extents, "showing": showing}


def active_window(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for application in desktop:
        if application is None:
            continue
        try:
            if application.get_process_id() != pid:
                continue
        except Exception:
            continue
        windows = [w for w in application if w is not None]
        for window in windows:
            if window.getState().contains(pyatspi.STATE_ACTIVE):
                return window
        return windows[0] if windows else None
    return None


def walk(window):
    elements, stack = [], [(window, 0)]
    while stack and len(elements) < ELEMENT_LIMIT:
        accessible, depth = stack.pop()
        try:
            elements.append(describe(accessible))
            if depth < DEPTH_LIMIT:
                children = [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]
                stack.extend((c, depth + 1) for c in reversed(children) if c is not None)
        except Exception:
            continue
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
            # Chromium answers from the hit test it last finished and starts a new one: asked
            # again a moment later, it gives the settled answer.
            time.sleep(SETTLE_SECONDS)
            found = point_query(current, x, y)
            if found is None or found == current:
                break
        current = found
    chain = []
    for _ in range(DEPTH_LIMIT):
        chain.append(describe(current))
        if current == window:
            break
        try:
            current = current.parent
        except Exception:
            break
        if current is None:
            break
    return list(reversed(chain))


def main():
    pid = int(sys.argv[1])
    window = active_window(pid)
    if window is None:
        print(json.dumps({"elements": [], "points": []}))
        return
    points = [tuple(int(float(v)) for v in p.split(",")) for p in sys.argv[2:]]
    print(json.dumps({"elements": walk(window),
                      "points": [chain_at(window, x, y) for x, y in points]}))


if __name__ == "__main__":
    main()
