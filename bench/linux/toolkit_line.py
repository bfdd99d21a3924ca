#!/usr/bin/env python3
"""One line of the toolkit table: an application on a fresh private desktop, what each
command answers, the on-screen controls of its front window found in the observation
against an independent dump of that window (tests/e2e/atspi_dump.py, pyatspi), whether the
application (and every other process of the desktop) is alive after each command, and the
observation's time beside the plain libatspi walk of the same reads, in the same run.

    toolkit_table.py TOOL PLAIN_WALK RUNS -- APPLICATION [ARG...]

APPLICATION is started on the desktop (GSK_RENDERER=cairo, for GTK 4 under Xvfb); a line
"ready" on its standard output, if it prints one, is waited for, else its first window.
Prints one JSON object.

Controls are the dump's showing, on-screen elements of the window whose role the
observation reports as a control (buttons, toggles, check boxes, radio buttons, text
fields, combo boxes, sliders, menu items, tabs, links). One is found when the observation
has a record of the same role kind at the same bounds. Where the toolkit gives extents
relative to the window (the dump's window at (0, 0) while X11 has it elsewhere), the dump's
extents are moved by the X11 client window's origin, read with xwininfo: X11 is the judge
of where a window is, not the tool.
"""

import json
import os
import select
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))
from desktop import Desktop  # noqa: E402

DUMP = os.path.join(HERE, "..", "..", "tests", "e2e", "atspi_dump.py")
SYSTEM_PYTHON = "/usr/bin/python3"  # the one python3-pyatspi is installed for

# The dump's role and the observation's for the same control.
CONTROL_ROLES = {
    "push button": "button", "toggle button": "checkbox", "check box": "checkbox",
    "radio button": "radio", "text": "textbox", "entry": "textbox",
    "password text": "textbox", "spin button": "textbox", "combo box": "combobox",
    "slider": "slider", "menu item": "menuitem", "check menu item": "menuitem",
    "radio menu item": "menuitem", "page tab": "radio", "link": "link",
}


def run_tool(tool, env, *arguments, stdin=None):
    started = time.monotonic()
    done = subprocess.run([tool, *arguments], env=env, input=stdin, capture_output=True,
                          text=True, timeout=30)
    return json.loads(done.stdout), time.monotonic() - started, done.stderr


def client_origin(desktop, pid):
    """The absolute position of the active window, which must be the application's."""
    window = desktop.active_window()
    if window is None or desktop.window_pid(window) != pid:
        return None
    info = subprocess.run(["xwininfo", "-id", str(window), "-display", desktop.display],
                          capture_output=True, text=True, timeout=10).stdout
    values = {}
    for line in info.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
            int(values["Width"]), int(values["Height"]))


def dump_window(desktop, pid):
    """The dump's elements of the application's active top-level."""
    out = subprocess.run([SYSTEM_PYTHON, DUMP, "--pid", str(pid)], env=desktop.env,
                         capture_output=True, text=True, timeout=120).stdout
    elements = [e for a in json.loads(out)["applications"] for e in a["elements"]]
    tops = [e for e in elements if e.get("depth") == 1 and "active" in e.get("states", [])]
    if not tops:
        return []
    prefix = tops[0]["path"]
    return [e for e in elements if e["path"] == prefix or e["path"].startswith(prefix + ".")]


def main(argv):
    split = argv.index("--")
    tool, plain_walk, runs = argv[1], argv[2], int(argv[3])
    application = argv[split + 1:]
    row = {"application": " ".join(os.path.basename(a) for a in application[:1])}
    with Desktop() as desktop:
        env = dict(desktop.env, GSK_RENDERER="cairo")
        app = desktop.spawn(application, name="application", env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        readable, _, _ = select.select([app.stdout], [], [], 5)
        if readable:
            app.stdout.readline()
        desktop.wait_registered(app.pid)
        desktop.wait_active(app.pid)
        time.sleep(1.0)  # let it settle (GTK 4 draws its first frames late)

        alive = []

        def check(what):
            alive.append((what, app.poll() is None))

        observed, _, stderr = run_tool(tool, desktop.env)
        check("observation")
        row["observation"] = {k: observed.get(k) for k in ("status", "reason", "truncated")}
        row["observation"]["records"] = len(observed.get("elements", []))
        row["stderr"] = stderr
        listed, _, _ = run_tool(tool, desktop.env, "--windows")
        check("--windows")
        mine = [w for w in listed.get("windows", []) if w["pid"] == app.pid]
        row["windows"] = {"status": listed.get("status"), "entries": len(mine),
                          "frontmost": [w["title"] for w in mine if w["isFrontmost"]],
                          "minimized": [w["title"] for w in mine if w["isMinimized"]]}
        front = next((w for w in mine if w["isFrontmost"]), mine[0] if mine else None)
        if front is not None:
            focused, _, _ = run_tool(tool, desktop.env, "--focus", stdin=json.dumps(front))
            check("--focus")
            row["focus"] = focused
            after, _, _ = run_tool(tool, desktop.env)
            check("observation after --focus")
            for _ in range(20):  # an application just activated may not have settled
                if after.get("window"):
                    break
                time.sleep(0.1)
                after, _, _ = run_tool(tool, desktop.env)
                check("observation after --focus")
            row["observed_after_focus"] = (after.get("window") or {}).get("title")

        # Controls: the dump against the observation.
        window = observed.get("window") or {}
        elements = dump_window(desktop, app.pid)
        check("the dump")
        origin = client_origin(desktop, app.pid)
        shift = (0, 0)
        if elements and origin:
            top = elements[0]["extents"] if elements[0]["depth"] == 1 else None
            if top and (top["x"], top["y"]) == (0, 0) and origin[:2] != (0, 0) and \
                    (top["width"], top["height"]) == origin[2:]:
                shift = origin[:2]
        row["window_relative_shift"] = shift
        records = {(r["role"], r["bounds"]["x"], r["bounds"]["y"], r["bounds"]["width"],
                    r["bounds"]["height"]) for r in observed.get("elements", [])}
        controls, missing = 0, []
        for e in elements:
            kind = CONTROL_ROLES.get(e["role"])
            if kind is None or e["extents"] is None:
                continue
            b = e["extents"]
            key = (kind, float(b["x"] + shift[0]), float(b["y"] + shift[1]), float(b["width"]),
                   float(b["height"]))
            controls += 1
            if key not in records:
                missing.append({"role": e["role"], "name": e["name"], "extents": b})
        row["controls"] = {"dumped": controls, "found": controls - len(missing),
                           "missing": missing[:10]}

        # Timing: the tool and the plain walk in turn, same run.
        tool_times, walk_times = [], []
        for _ in range(runs):
            _, seconds, _ = run_tool(tool, desktop.env)
            tool_times.append(seconds)
            check("timed observation")
            started = time.monotonic()
            subprocess.run([plain_walk, str(app.pid)], env=desktop.env, capture_output=True,
                           timeout=60)
            walk_times.append(time.monotonic() - started)
            check("plain walk")
        row["observation_ms_median"] = round(statistics.median(tool_times) * 1000, 1)
        row["plain_walk_ms_median"] = round(statistics.median(walk_times) * 1000, 1)
        row["alive_after_every_command"] = all(ok for _, ok in alive)
        row["dead_after"] = [what for what, ok in alive if not ok]
    json.dump(row, sys.stdout, ensure_ascii=False)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
