#!/usr/bin/env python3
"""The toolkit table: for each toolkit, the tool's observation held against the toolkit's own
account of the same window, and its time beside a plain libatspi walk of the same reads.

    python3 bench/linux/toolkit_table.py --binary PATH --app PATH [--plain-walk PATH]
        [--runs N] [TOOLKIT ...]

TOOLKIT is any of gtk3-app, widget-factory, firefox, chromium (all by default). Each is
started alone on one private desktop (scripts/desktop.py), in front, and observed by the
tool until two observations in a row agree on the number of records. The toolkit's own
account is read through libatspi (tests/e2e/onscreen_dump.py, each property on its own,
never GetAll). Printed per toolkit:

- records: the observation's records; on-screen controls: the elements of the toolkit's
  dump that are showing, of a control's role (button, check box, link, entry, password
  text, radio button) and with a frame inside the window, and how many of them have a record
  at their place; records of nothing showing: records whose bounds are those of no showing
  element of the dump (0 is right); not showing: the dump's elements without the state.
- hit-test agreement: at the centre of every record, the toolkit's own point query
  (Component.GetAccessibleAtPoint from the window down to the deepest element); it counts as
  "hittable" when the record's element (same bounds, and the same name where both have one)
  is that element or one of its ancestors and the observed window is the topmost window
  there (the toolkit answers for its own window only), as the tool's own rule counts an
  element hit when the element found at its centre is it or lies below it. Records the tool
  never calls hittable whatever the point says (disabled or protected elements) are left out.
  Every difference is listed.
- with --plain-walk: medians over N runs (default 15), taken alternately, of the tool's
  observation and of the plain walk (bench/linux/atspi_plain_walk.cpp), whole processes
  from start to exit.
"""

import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.dont_write_bytecode = True

import desktop as desktop_module  # noqa: E402

DUMP = os.path.join(ROOT, "tests", "e2e", "onscreen_dump.py")
PAGE = "file://" + os.path.abspath(os.path.join(ROOT, "tests", "e2e", "page", "sign_in.html"))
START_SECONDS = 60.0


def toolkits(app, profile):
    return {
        "gtk3-app": ([app, "--scene", "full"], None),
        "widget-factory": (["gtk3-widget-factory"], None),
        "firefox": (["firefox-esr", "--profile", profile, PAGE],
                    'user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);\n'),
        "chromium": (["chromium", "--no-sandbox", f"--user-data-dir={profile}", "--no-first-run",
                      PAGE], None),
    }


CONTROL_ROLES = {"push button", "check box", "link", "entry", "password text", "radio button"}


def run_tool(binary, env):
    return json.loads(subprocess.run([binary], env=env, capture_output=True, timeout=60).stdout)


def timed(argv, env):
    started = time.monotonic()
    subprocess.run(argv, env=env, capture_output=True, timeout=120)
    return time.monotonic() - started


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def bounds_of(extents):
    x, y, width, height = extents
    return {"x": float(x), "y": float(y), "width": float(width), "height": float(height)}


def inside(inner, outer):
    return (outer["x"] <= inner["x"] and outer["y"] <= inner["y"] and
            inner["x"] + inner["width"] <= outer["x"] + outer["width"] and
            inner["y"] + inner["height"] <= outer["y"] + outer["height"])


def centre(bounds):
    return int(bounds["x"] + bounds["width"] / 2), int(bounds["y"] + bounds["height"] / 2)


def same(record, element):
    if element["extents"] is None:
        return False
    x, y, w, h = element["extents"]
    b = record["bounds"]
    if (float(x), float(y), float(w), float(h)) != (b["x"], b["y"], b["width"], b["height"]):
        return False
    return not (record["name"] and element["name"]) or record["name"] == element["name"]


def frames_top_first(desktop):
    """The client windows that are not minimized, top of the stack first, each with its
    frame on the screen (decorations included), as the window manager has them."""
    value = desktop.root_property("_NET_CLIENT_LIST_STACKING") or ""
    windows = [int(w, 16) for w in value.split("#", 1)[-1].replace(",", " ").split()] if "#" in value else []
    frames = []
    for window in reversed(windows):
        if "_NET_WM_STATE_HIDDEN" in (desktop.window_property(window, "_NET_WM_STATE") or ""):
            continue
        info = subprocess.run(["xwininfo", "-display", desktop.display, "-id", hex(window)],
                              capture_output=True, text=True, env=desktop.env).stdout
        fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
        x, y = int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])
        width, height = int(fields["Width"]), int(fields["Height"])
        extents = desktop.window_property(window, "_NET_FRAME_EXTENTS")
        left, right, top, bottom = (int(v) for v in extents.split(",")) if extents else (0, 0, 0, 0)
        frames.append((window, x - left, y - top, width + left + right, height + top + bottom))
    return frames


def top_window_at(frames, x, y):
    for window, fx, fy, fw, fh in frames:
        if fx <= x < fx + fw and fy <= y < fy + fh:
            return window
    return None


def measure(name, argv, user_js, binary, desktop, plain_walk, runs):
    profile = os.path.join(desktop.dir, f"{name}-profile")
    os.makedirs(profile, exist_ok=True)
    if user_js:
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.write(user_js)
    process = desktop.spawn(argv, name=name, stdin=subprocess.PIPE if name == "gtk3-app" else
                            subprocess.DEVNULL, stdout=subprocess.PIPE if name == "gtk3-app" else
                            subprocess.DEVNULL)
    try:
        desktop.wait_registered(process.pid, name)
        desktop.wait_active(process.pid, name)
        # Until the observation is complete and stable (a browser builds its tree a while
        # after its window shows).
        deadline, reply, last = time.monotonic() + START_SECONDS, None, None
        while time.monotonic() < deadline:
            reply = run_tool(binary, desktop.env)
            count = len(reply.get("elements", []))
            if reply.get("status") == "available" and count > 10 and count == last:
                break
            last = count
            time.sleep(1.0)
        records = [r for r in reply.get("elements", []) if not r["id"].endswith(":focus")]
        dump = json.loads(subprocess.run(["/usr/bin/python3", DUMP, str(process.pid)],
                                         env=desktop.env, capture_output=True,
                                         timeout=300).stdout)["elements"]
        frame = reply["window"]["bounds"]
        recorded = [r["bounds"] for r in reply.get("elements", [])]
        controls = [bounds_of(e["extents"]) for e in dump
                    if e["showing"] and e["role"] in CONTROL_ROLES and e["extents"] and
                    e["extents"][2] > 0 and e["extents"][3] > 0 and
                    inside(bounds_of(e["extents"]), frame)]
        showing = [bounds_of(e["extents"]) for e in dump if e["showing"] and e["extents"]]
        unshown = [r for r in records if r["bounds"] not in showing]
        print(f"{name}: {len(records)} records; on-screen controls {len(controls)}, "
              f"{sum(c in recorded for c in controls)} with a record; records of nothing "
              f"showing {len(unshown)}; not showing in the dump "
              f"{sum(not e['showing'] for e in dump)} of {len(dump)}; truncated "
              f"{reply.get('truncated')}")
        for record in unshown:
            print(f"  record of nothing showing: {record}")
        for element in dump:
            if (element["showing"] and element["role"] in CONTROL_ROLES and element["extents"]
                    and bounds_of(element["extents"]) in controls
                    and bounds_of(element["extents"]) not in recorded):
                print(f"  control without a record: {element}")
        compared = [r for r in records if r["enabled"] and not r["protected"]]
        points = [centre(r["bounds"]) for r in compared]
        result = subprocess.run(["/usr/bin/python3", DUMP, str(process.pid),
                                 *(f"{x},{y}" for x, y in points)],
                                env=desktop.env, capture_output=True, timeout=300)
        chains = json.loads(result.stdout)["points"]
        # The toolkit answers for its own window; what lies over the window is the window
        # manager's to say.
        frames, observed = frames_top_first(desktop), desktop.active_window()
        agree, differences = 0, []
        for record, chain, point in zip(compared, chains, points):
            toolkit = (top_window_at(frames, *point) == observed and
                       any(same(record, element) for element in chain))
            if toolkit == record["hittable"]:
                agree += 1
            else:
                deepest = chain[-1] if chain else None
                differences.append((record, toolkit, deepest))
        print(f"  hit test: {agree} of {len(compared)} agree "
              f"({100.0 * agree / max(1, len(compared)):.1f}%)")
        for record, toolkit, deepest in differences:
            print(f"  {record['role']} {record['name']!r} {record['bounds']}: tool "
                  f"{record['hittable']}, toolkit {toolkit}; toolkit's deepest: "
                  f"{deepest and (deepest['role'], deepest['name'], deepest['extents'])}")
        if plain_walk:
            tool_times, walk_times = [], []
            for _ in range(runs):
                tool_times.append(timed([binary], desktop.env))
                walk_times.append(timed([plain_walk, str(process.pid)], desktop.env))
            walk = json.loads(subprocess.run([plain_walk, str(process.pid)], env=desktop.env,
                                             capture_output=True, timeout=120).stdout or "{}")
            print(f"  observation {1000 * median(tool_times):.1f} ms, plain walk "
                  f"{1000 * median(walk_times):.1f} ms ({walk.get('requests')} requests), "
                  f"ratio {median(walk_times) / median(tool_times):.1f}x, medians of {runs}")
        sys.stdout.flush()
    finally:
        process.kill()
        process.wait()


def main():
    arguments = sys.argv[1:]
    binary = app = plain_walk = None
    runs = 15
    chosen = []
    while arguments:
        argument = arguments.pop(0)
        if argument == "--binary":
            binary = os.path.abspath(arguments.pop(0))
        elif argument == "--plain-walk":
            plain_walk = os.path.abspath(arguments.pop(0))
        elif argument == "--runs":
            runs = int(arguments.pop(0))
        elif argument == "--app":
            app = os.path.abspath(arguments.pop(0))
        else:
            chosen.append(argument)
    if not binary or not app:
        sys.exit(__doc__)
    with desktop_module.Desktop() as desktop:
        desktop._dbus_send(desktop.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                           "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                           "string:IsEnabled", "variant:boolean:true")
        table = toolkits(app, None)
        for name in chosen or list(table):
            argv, user_js = toolkits(app, os.path.join(desktop.dir, f"{name}-profile"))[name]
            measure(name, argv, user_js, binary, desktop, plain_walk, runs)


if __name__ == "__main__":
    main()
