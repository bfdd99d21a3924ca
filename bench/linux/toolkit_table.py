#!/usr/bin/env python3
"""The toolkit table: for each toolkit, what each command of the tool answers, the tool's
observation held against the toolkit's own account of the same window, whether the
application lives through every command, and the observation's time beside a plain libatspi
walk of the same reads.

    python3 bench/linux/toolkit_table.py [--build DIR] [--runs N] [TOOLKIT ...]

DIR is a build directory (default build/release) holding the tool, the test applications
(tests/e2e/app) and the plain walk (bench/linux/atspi_plain_walk.cpp). TOOLKIT is any of
gtk3-app, gtk3-widget-factory, gtk4-app, gtk4-widget-factory, qt5-app, qt6-app, firefox,
chromium (all by default). Each is started alone on a fresh private desktop
(scripts/desktop.py, its accessibility switch on), in the environment in which a user's X11
session starts it (tests/e2e/harness.py toolkit_env: GTK 4 with GDK_BACKEND=x11 and
GSK_RENDERER=cairo, Qt with QT_QPA_PLATFORM=xcb and no AT_SPI_BUS_ADDRESS), the test
application with its full scene, the browsers on the project's sign-in page
(tests/e2e/page/sign_in.html) as tests/e2e/browser_test.py starts them. The toolkit's own
account is tests/e2e/atspi_dump.py (pyatspi, each property on its own, never GetAll).

Columns, one row per toolkit:

- observation: the first observation's status and records once the application's window is
  active, then "->" the settled one (observed once a second until two in a row have as many
  records, at most 60 s: a browser builds its tree a while after its window shows; a
  Chromium that nobody listened to answers the first one with its window only).
- --windows: the entries of the application's windows, how many of them frontmost.
- --focus: the reply to the frontmost entry (else the first) fed back, and the title of the
  window of the observation that follows it.
- controls found / in dump: the dump's elements that are showing, of a control's role
  (buttons, toggles, check boxes, radio buttons, text fields, combo boxes, sliders, menu
  items, tabs, links), with a size and inside the X11 client window; found when the settled
  observation has a record of the same role kind at the same bounds.
- records of nothing showing: the settled observation's records whose bounds are those of
  no showing element of the dump (0 is right).
- hit test agree: at the centre of every record that the tool may call hittable (enabled,
  not protected), the toolkit's own point query, descended from the window to the deepest
  element; the toolkit calls the record hittable when an element of that chain has the
  record's bounds (and its name, where both have one) and the observed window is the topmost
  window there (the toolkit answers for its own window only; what covers it is the window
  manager's to say). n of m records where the tool's `hittable` says the same, and %.
  Every difference is printed below the table.
- a real click reaches the control (the test applications only, after everything else, as
  clicks move the focus and toggle the check box): for each of the scene's controls that
  take the keyboard focus when clicked (tests/e2e/harness.py CLICKED), a click at its
  record's centre through the X server's XTEST extension, and whether the control then has
  the focus (the application's `focused` command): how many of those the tool's `hittable`
  and the toolkit's point query (as in the column before) say the same of, out of how many
  controls were clicked. For Chromium, which draws its own title bar: a real click at the
  centre of each of its minimize, maximize and close buttons, each record from an
  observation just before it, judged by the window manager's state of the window (hidden,
  then maximized) and by the browser's exit, after every other column (the window is
  restored with the tool's --focus after the first). Every difference is printed below the
  table.
- (below the table) anything the tool wrote to standard error, which it never does.
- alive: whether the application was running after every command of the tool (each
  observation, --windows, --focus, the timed runs) and after every plain walk.
- observation / plain walk: medians over N runs (default 11), taken alternately, of the
  tool's observation and of the plain walk, whole processes from start to exit, in ms.

Where the toolkit gives extents relative to its window (the dump's window at (0, 0) while
X11 has the client window elsewhere: GTK 4.8), the dump's extents and the points asked are
moved by the X11 client window's origin, read with xwininfo (X11 is the judge of where a
window is, not the tool), and, for a window that reads smaller than its client window
because it draws its own border (client-side decorations), by half the difference more. The load average is printed before and after the run.
"""

import functools
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.dont_write_bytecode = True

import desktop as desktop_module  # noqa: E402
from harness import (CLICKED, app_answer, app_command, click, click_focuses,  # noqa: E402
                     toolkit_env)

DUMP = os.path.join(ROOT, "tests", "e2e", "atspi_dump.py")
PAGE = "file://" + os.path.join(ROOT, "tests", "e2e", "page", "sign_in.html")
SYSTEM_PYTHON = "/usr/bin/python3"  # the one python3-pyatspi is installed for
SETTLE_SECONDS = 60.0
FIREFOX_PREFS = 'user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);\n'

# The dump's role and the observation's for the same control.
CONTROL_ROLES = {
    "push button": "button", "toggle button": "checkbox", "check box": "checkbox",
    "radio button": "radio", "text": "textbox", "entry": "textbox",
    "password text": "textbox", "spin button": "textbox", "combo box": "combobox",
    "slider": "slider", "menu item": "menuitem", "check menu item": "menuitem",
    "radio menu item": "menuitem", "page tab": "radio", "link": "link",
}


def toolkits(build, profile):
    """name: (argv, toolkit of toolkit_env, whether it says "ready" on its standard output)"""
    app = os.path.join(build, "tests", "e2e")
    return {
        "gtk3-app": ([os.path.join(app, "nevo_e2e_app"), "--scene", "full"], "gtk3", True),
        "gtk3-widget-factory": (["gtk3-widget-factory"], "gtk3", False),
        "gtk4-app": ([os.path.join(app, "nevo_e2e_app_gtk4"), "--scene", "full"], "gtk4", True),
        "gtk4-widget-factory": (["gtk4-widget-factory"], "gtk4", False),
        "qt5-app": ([os.path.join(app, "nevo_e2e_app_qt5"), "--scene", "full"], "qt5", True),
        "qt6-app": ([os.path.join(app, "nevo_e2e_app_qt6"), "--scene", "full"], "qt6", True),
        "firefox": (["firefox-esr", "--profile", profile, PAGE], None, False),
        "chromium": (["chromium", "--no-sandbox", f"--user-data-dir={profile}",
                      "--no-first-run", PAGE], None, False),
    }


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Run:
    """The tool, run against one application, each command followed by a look at whether
    the application still runs."""

    def __init__(self, tool, env, process, notes, name):
        self.tool, self.env, self.process = tool, env, process
        self.dead_after = []
        self.notes, self.name = notes, name

    def check(self, what):
        if self.process.poll() is not None and not self.dead_after:
            self.dead_after.append(what)

    def command(self, *arguments, stdin=None):
        started = time.monotonic()
        done = subprocess.run([self.tool, *arguments], env=self.env, input=stdin,
                              capture_output=True, text=True, timeout=60)
        seconds = time.monotonic() - started
        self.check(" ".join(arguments) or "observation")
        try:
            reply = json.loads(done.stdout)
        except ValueError:
            reply = {"status": f"no JSON: {done.stdout[:80]!r}"}
        if done.stderr:  # the tool never writes there
            self.notes.append(f"{self.name}: {' '.join(arguments) or 'observation'} wrote to "
                              f"standard error: {done.stderr[:200]!r}")
        return reply, seconds


def client_window(desktop, pid):
    """The X11 client window of the application that is active, as (x, y, width, height)
    on the screen, or None."""
    window = desktop.active_window()
    if window is None or desktop.window_pid(window) != pid:
        return None
    info = subprocess.run(["xwininfo", "-id", str(window), "-display", desktop.display],
                          capture_output=True, text=True, timeout=10, env=desktop.env).stdout
    values = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
    return tuple(int(values[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                          "Width", "Height"))


def frames_top_first(desktop):
    """The client windows that are not minimized, top of the stack first, each with its
    frame on the screen (decorations included), as the window manager has them."""
    value = desktop.root_property("_NET_CLIENT_LIST_STACKING") or ""
    windows = ([int(w, 16) for w in value.split("#", 1)[-1].replace(",", " ").split()]
               if "#" in value else [])
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
        left, right, top, bottom = ((int(v) for v in extents.split(",")) if extents
                                    else (0, 0, 0, 0))
        frames.append((window, x - left, y - top, width + left + right, height + top + bottom))
    return frames


def top_window_at(frames, x, y):
    for window, fx, fy, fw, fh in frames:
        if fx <= x < fx + fw and fy <= y < fy + fh:
            return window
    return None


def dump(desktop, pid, points=()):
    done = subprocess.run([SYSTEM_PYTHON, DUMP, str(pid), *(f"{x},{y}" for x, y in points)],
                          env=desktop.env, capture_output=True, text=True, timeout=300)
    return json.loads(done.stdout or '{"elements": [], "points": []}')


def bounds(extents, shift):
    x, y, width, height = extents
    return (float(x + shift[0]), float(y + shift[1]), float(width), float(height))


def record_bounds(record):
    b = record["bounds"]
    return (b["x"], b["y"], b["width"], b["height"])


def inside(inner, outer):
    x, y, w, h = inner
    ox, oy, ow, oh = outer
    return ox <= x and oy <= y and x + w <= ox + ow and y + h <= oy + oh


def centre(record):
    b = record["bounds"]
    return int(b["x"] + b["width"] / 2), int(b["y"] + b["height"] / 2)


def summary(reply):
    if reply.get("status") == "available":
        return f"available {len(reply.get('elements', []))}"
    return f"{reply.get('status')} {reply.get('reason', '')}".strip()


def wait_ready(process, seconds):
    return app_answer(process, seconds).startswith("ready")


def measure(name, build, runs, notes):
    row = {"toolkit": name}
    with desktop_module.Desktop() as desktop:
        profile = os.path.join(desktop.dir, f"{name}-profile")
        os.makedirs(profile, exist_ok=True)
        if name == "firefox":
            with open(os.path.join(profile, "user.js"), "w") as f:
                f.write(FIREFOX_PREFS)
        argv, toolkit, says_ready = toolkits(build, profile)[name]
        env = toolkit_env(desktop, toolkit) if toolkit else desktop.env
        process = desktop.spawn(argv, name=name, env=env,
                                stdin=subprocess.PIPE if says_ready else subprocess.DEVNULL,
                                stdout=subprocess.PIPE if says_ready else subprocess.DEVNULL)
        try:
            if says_ready and not wait_ready(process, desktop_module.START_SECONDS):
                raise RuntimeError(f"{name} did not say ready")
            desktop.wait_registered(process.pid, name)
            desktop.wait_active(process.pid, name)
            time.sleep(1.0)  # GTK 4 draws its first frames late
            run = Run(os.path.join(build, "nevo-desktop-accessibility"), desktop.env, process,
                      notes, name)
            tool = run.command

            first, _ = tool()
            deadline, settled, last = time.monotonic() + SETTLE_SECONDS, first, None
            while time.monotonic() < deadline:
                count = len(settled.get("elements", []))
                if settled.get("status") == "available" and count == last:
                    break
                last = count
                time.sleep(1.0)
                settled, _ = tool()
            row["observation"] = f"{summary(first)} -> {summary(settled)}"

            listed, _ = tool("--windows")
            mine = [w for w in listed.get("windows", []) if w["pid"] == process.pid]
            row["windows"] = (f"{listed.get('status')} {len(mine)} "
                              f"({sum(w['isFrontmost'] for w in mine)} frontmost)")
            front = next((w for w in mine if w["isFrontmost"]), mine[0] if mine else None)
            if front is not None:
                focused, _ = tool("--focus", stdin=json.dumps(front, ensure_ascii=False))
                after, _ = tool()
                for _ in range(20):  # an application just activated may not have settled
                    if after.get("window"):
                        break
                    time.sleep(0.1)
                    after, _ = tool()
                row["focus"] = (f"{focused.get('status')} {focused.get('reason', '')}".strip() +
                                f" -> {(after.get('window') or {}).get('title')!r}")
            else:
                row["focus"] = "no entry"

            # Against the toolkit's own account of the window.
            elements = [e for e in dump(desktop, process.pid)["elements"] if "error" not in e]
            run.check("the dump")
            client = client_window(desktop, process.pid)
            shift = (0, 0)
            if elements and client and elements[0]["extents"] and \
                    tuple(elements[0]["extents"][:2]) == (0, 0):
                # A window that draws its own border inside its client window (client-side
                # decorations) reads smaller than it: its content starts half the difference
                # in (seen on a screenshot of gtk4-widget-factory: 5 pixels each way).
                width, height = elements[0]["extents"][2:4]
                shift = (client[0] + max(0, client[2] - width) // 2,
                         client[1] + max(0, client[3] - height) // 2)
            row["shift"] = shift
            records = settled.get("elements", [])
            recorded = {(r["role"], record_bounds(r)) for r in records}
            controls, missing = 0, []
            for e in elements:
                kind = CONTROL_ROLES.get(e["role"])
                if (kind is None or not e["showing"] or e["extents"] is None or
                        e["extents"][2] <= 0 or e["extents"][3] <= 0):
                    continue
                b = bounds(e["extents"], shift)
                if client is None or not inside(b, client):
                    continue
                controls += 1
                if (kind, b) not in recorded:
                    missing.append((e["role"], e["name"], b))
            row["controls"] = f"{controls - len(missing)} / {controls}"
            showing = {bounds(e["extents"], shift) for e in elements
                       if e["showing"] and e["extents"]}
            unshown = [r for r in records if record_bounds(r) not in showing]
            row["unshown"] = len(unshown)
            for role, label, b in missing:
                notes.append(f"{name}: control without a record: {role} {label!r} {b}")
            for r in unshown:
                notes.append(f"{name}: record of nothing showing: {r['role']} {r['name']!r} "
                             f"{record_bounds(r)}")

            compared = [r for r in records if r["enabled"] and not r["protected"]]
            points = [centre(r) for r in compared]
            chains = dump(desktop, process.pid,
                          [(x - shift[0], y - shift[1]) for x, y in points])["points"]
            run.check("the point queries")
            frames, observed = frames_top_first(desktop), desktop.active_window()
            agree, toolkit_verdicts = 0, {}
            for record, chain, point in zip(compared, chains, points):
                wanted = record_bounds(record)
                toolkit_says = (top_window_at(frames, *point) == observed and any(
                    e["extents"] and bounds(e["extents"], shift) == wanted and
                    (not (record["name"] and e["name"]) or record["name"] == e["name"])
                    for e in chain))
                toolkit_verdicts[record["id"]] = toolkit_says
                if toolkit_says == record["hittable"]:
                    agree += 1
                else:
                    deepest = chain[-1] if chain else None
                    notes.append(
                        f"{name}: hit test: {record['role']} {record['name']!r} {wanted}: tool "
                        f"{record['hittable']}, toolkit {toolkit_says}; toolkit's deepest: "
                        f"{deepest and (deepest['role'], deepest['name'], deepest['extents'])}")
            row["hit"] = (f"{agree} of {len(compared)} "
                          f"({100.0 * agree / max(1, len(compared)):.0f}%)")

            walk = os.path.join(build, "bench", "nevo_atspi_plain_walk")
            tool_times, walk_times = [], []
            for _ in range(runs):
                tool_times.append(tool()[1])
                started = time.monotonic()
                subprocess.run([walk, str(process.pid)], env=desktop.env, capture_output=True,
                               timeout=120)
                walk_times.append(time.monotonic() - started)
                run.check("the plain walk")
            row["time"] = (f"{1000 * statistics.median(tool_times):.0f} / "
                           f"{1000 * statistics.median(walk_times):.0f}")

            # Last, as clicks move the focus, toggle the check box and may raise the cover.
            if says_ready:
                row["click"] = click_column(desktop, process, records, toolkit_verdicts, notes,
                                            name)
                run.check("the clicks")
            else:
                row["click"] = "n/a"
            row["alive"] = "yes" if not run.dead_after else f"NO (died after {run.dead_after[0]})"
            if name == "chromium":
                # After the alive column, as the last click closes the browser.
                row["click"] = title_bar_clicks(desktop, run, process, notes)
        finally:
            process.kill()
            process.wait()
    return row


def click_column(desktop, process, records, toolkit_verdicts, notes, name):
    """For the test application's controls that take the focus when clicked: a real click
    at each one's centre, and whether it reached the control, held against the tool's
    `hittable` and against the toolkit's point query. "tool n, toolkit k of m"."""
    command = functools.partial(app_command, process)
    command("raise main")
    tool_agrees = toolkit_agrees = clicked = 0
    for role, label, widget in CLICKED:
        found = [r for r in records if (r["role"], r["name"]) == (role, label)]
        if len(found) != 1 or found[0]["id"] not in toolkit_verdicts:
            continue
        record = found[0]
        reached = click_focuses(desktop, command, centre(record), widget)
        clicked += 1
        tool_agrees += record["hittable"] == reached
        toolkit_agrees += toolkit_verdicts[record["id"]] == reached
        if record["hittable"] != reached or toolkit_verdicts[record["id"]] != reached:
            notes.append(f"{name}: a click at the centre of {label!r} "
                         f"{'reaches' if reached else 'does not reach'} it: tool "
                         f"{record['hittable']}, toolkit {toolkit_verdicts[record['id']]}")
    return f"tool {tool_agrees}, toolkit {toolkit_agrees} of {clicked}"


def title_bar_clicks(desktop, run, process, notes):
    """Chromium draws its own title bar, and its point query answers the page's panel at
    the centre of its minimize, maximize and close buttons. A real click at each of the
    tool's records for them, judged by what the window manager then says of the window (or
    by the browser's exit): "tool n of m", where the tool says hittable and the click does
    what the button does."""
    window = desktop.active_window()

    def state():
        return desktop.window_property(window, "_NET_WM_STATE") or ""

    def within(done, seconds=5.0):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if done():
                return True
            time.sleep(0.05)
        return False

    def restore():
        listed, _ = run.command("--windows")
        entry = next((w for w in listed.get("windows", []) if w["pid"] == process.pid), None)
        if entry is not None:
            run.command("--focus", stdin=json.dumps(entry, ensure_ascii=False))

    checks = (("Minimize", lambda: "_NET_WM_STATE_HIDDEN" in state()),
              ("Maximize", lambda: "_NET_WM_STATE_MAXIMIZED" in state()),
              ("Close", lambda: process.poll() is not None))
    agree = 0
    for label, done in checks:
        # Observed afresh: a maximized window has its buttons elsewhere.
        observed, _ = run.command()
        buttons = [r for r in observed.get("elements", []) if r["role"] == "button"]
        # The window's buttons are in one row with Minimize (a tab has a Close button too).
        title_row = [r["bounds"]["y"] for r in buttons if r["name"] == "Minimize"][:1]
        found = [r for r in buttons if r["name"] == label and [r["bounds"]["y"]] == title_row]
        if len(found) != 1:
            notes.append(f"chromium: no single record of its {label} button: "
                         f"{observed.get('status')}, buttons {[r['name'] for r in buttons]}")
            continue
        click(desktop, *centre(found[0]))
        worked = within(done)
        agree += found[0]["hittable"] == worked
        if found[0]["hittable"] != worked:
            notes.append(f"chromium: a click at the centre of {label!r} "
                         f"{'works' if worked else 'does nothing'}: tool {found[0]['hittable']}")
        if label == "Minimize":
            restore()
    return f"tool {agree} of {len(checks)} (title bar)"


COLUMNS = [("toolkit", "toolkit"), ("observation", "observation: first -> settled"),
           ("windows", "--windows"), ("focus", "--focus -> next observation's window"),
           ("controls", "controls found / in dump"), ("unshown", "records of nothing showing"),
           ("hit", "hit test agree"),
           ("click", "a real click: the tool agrees (test applications; Chromium's title bar)"),
           ("alive", "alive after every command"),
           ("time", "observation / plain walk, ms (medians)")]


def main():
    arguments = sys.argv[1:]
    build, runs, chosen = os.path.join(ROOT, "build", "release"), 11, []
    while arguments:
        argument = arguments.pop(0)
        if argument == "--build" and arguments:
            build = os.path.abspath(arguments.pop(0))
        elif argument == "--runs" and arguments:
            runs = int(arguments.pop(0))
        elif argument.startswith("-"):
            sys.exit(__doc__)
        else:
            chosen.append(argument)
    names = chosen or list(toolkits(build, None))
    print(f"load average before: {load_average()}; runs per median: {runs}", flush=True)
    rows, notes = [], []
    for name in names:
        try:
            rows.append(measure(name, build, runs, notes))
        except Exception as error:  # one toolkit that cannot start leaves the others
            rows.append({"toolkit": name, "observation": f"not measured: {error}"})
        print(json.dumps(rows[-1], ensure_ascii=False), file=sys.stderr, flush=True)
    print(f"load average after: {load_average()}")
    print("| " + " | ".join(title for _, title in COLUMNS) + " |")
    print("|" + "---|" * len(COLUMNS))
    for row in rows:
        print("| " + " | ".join(str(row.get(key, "")) for key, _ in COLUMNS) + " |")
    for note in notes:
        print(f"- {note}")


if __name__ == "__main__":
    main()
