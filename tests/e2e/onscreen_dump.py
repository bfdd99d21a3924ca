#!/usr/bin/python3
"""What an application's toolkit itself says of its active window, read through libatspi
(pyatspi), independently of the tool: the end-to-end tests and the hit-test comparison hold
the tool's replies against it.

    onscreen_dump.py PID [X,Y ...]

prints one JSON object: "elements", every element of the application's active window (else
its first) in
the application's order (role name, name, extents on the screen, whether it is showing), and
for each point given, "points": the chain from the window down to the deepest element that
the toolkit's own point query (Component.GetAccessibleAtPoint, asked level by level) answers
there, each as role name, name and extents. Every property is read on its own (no GetAll).
Run it with the system's Python (pyatspi is a Debian package) in the desktop's environment.
"""

import json
import sys

import pyatspi

ELEMENT_LIMIT = 5000
DEPTH_LIMIT = 64


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


def chain_at(window, x, y):
    chain, current = [describe(window)], window
    for _ in range(DEPTH_LIMIT):
        try:
            found = current.queryComponent().getAccessibleAtPoint(x, y, pyatspi.DESKTOP_COORDS)
        except Exception:
            break
        if found is None or found == current:
            break
        chain.append(describe(found))
        current = found
    return chain


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
