#!/usr/bin/env python3
"""The real binary on a private virtual desktop with real GTK 3 applications.

    e2e_test.py --binary PATH --app PATH [--app-gtk4 PATH] [--app-qt5 PATH] [--app-qt6 PATH]
                [unittest arguments, e.g. a class name]

--app is the GTK 3 test application, --app-TOOLKIT those of the other toolkits
(tests/e2e/app).

Each test class starts one desktop and its applications, runs its tests in order on them
and tears everything down. A desktop that cannot start fails the tests with the reason.
"""

import json
import os
import signal
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness  # noqa: E402
from harness import (AMBIGUOUS, APPLICATION_CHANGED, CLICKED, DENIED_FOCUS, DENIED_OBSERVATION,
                     DENIED_WINDOWS, STATE_CHANGED, WINDOW_CHANGED, DesktopTestCase, TestApp)


def centre(bounds):
    return bounds["x"] + bounds["width"] / 2, bounds["y"] + bounds["height"] / 2


def inside(point, bounds):
    x, y = point
    return (bounds["x"] <= x < bounds["x"] + bounds["width"] and
            bounds["y"] <= y < bounds["y"] + bounds["height"])


def assert_clicks_reach_what_is_hittable(test, app):
    """A real click at the centre of each of the main window's controls reaches that control
    exactly where the tool's observation calls it hittable: what the tool answers is what the
    user's click does, whatever the toolkit's own point query says."""
    app.command("raise main")
    test.assertActive(app.pid, "NEVO E2E Main")
    elements = test.observe_once_answering()["elements"]
    for role, name, widget in CLICKED:
        with test.subTest(click=name):
            found = [e for e in elements if (e["role"], e["name"]) == (role, name)]
            test.assertEqual(len(found), 1, (role, name, elements))
            reached = app.click_focuses(centre(found[0]["bounds"]), widget)
            test.assertEqual(reached, found[0]["hittable"], found[0])


def overlaps(a, b):
    return (a["x"] < b["x"] + b["width"] and b["x"] < a["x"] + a["width"] and
            a["y"] < b["y"] + b["height"] and b["y"] < a["y"] + a["height"])


class Application(DesktopTestCase):
    """The test application's full scene in front of a second application: what the three
    commands report about it and how they switch between windows."""

    @classmethod
    def start_applications(cls):
        cls.other = TestApp(cls.desktop, scene="pair", prefix="Beta")
        cls.app = TestApp(cls.desktop)  # started last: in front

    def setUp(self):
        super().setUp()
        self.app.command("raise main")

    def test_1_observation_reports_each_kind_of_control(self):
        app = self.app
        app.command("focus main entry")
        reply = self.tool.observe()
        self.assertEqual(reply["status"], "available", reply)
        self.assertEqual(set(reply), {"app", "elements", "status", "truncated", "window"})
        self.assertEqual(reply["app"]["pid"], app.pid)
        self.assertIsInstance(reply["app"]["name"], str)
        self.assertIsInstance(reply["app"]["bundleId"], str)
        self.assertEqual(reply["window"]["title"], "NEVO E2E Main")
        self.assertEqual(reply["window"]["bounds"], app.frame("main"))
        elements = reply["elements"]
        self.assertRecords(elements, app.pid)
        covered, cover = app.where("covered"), app.frame("cover")
        self.assertTrue(inside(centre(covered), cover), "the cover window is over the covered button")

        # The focused entry comes first, under "focus", and only once.
        first = elements[0]
        self.assertEqual(first["id"], f"{app.pid}:focus")
        self.assertEqual((first["name"], first["role"], first["focused"]),
                         ("Plain entry", "textbox", True))

        # name, role, enabled, hittable, the widget whose frame it reports, and for some
        # the value and whether there is one. "Covered" lies under another window, and
        # "Underneath" under "On top", its overlay in the same window.
        cases = [
            ("Plain label", "text", True, True, "label", ("Plain label", True)),
            ("Apply", "button", True, True, "apply", None),
            ("Disabled", "button", False, False, "disabled", None),
            ("Plain entry", "textbox", True, True, "entry", ("", True)),
            ("Remember me", "checkbox", True, True, "check", ("1", True)),
            ("Volume", "slider", True, True, "slider", ("42", True)),
            ("Covered", "button", True, False, "covered", None),
            ("Underneath", "button", True, False, "underneath", None),
            ("On top", "button", True, True, "ontop", None),
            ("After deep", "button", True, True, "after", None),
        ]
        for name, role, enabled, hittable, widget, value in cases:
            with self.subTest(name=name):
                record = self.named(elements, name)
                self.assertEqual(
                    (record["role"], record["enabled"], record["hittable"], record["protected"]),
                    (role, enabled, hittable, False), record)
                self.assertEqual(record["bounds"], app.where(widget), record)
                if value is not None:
                    self.assertEqual((record["value"], record["hasValue"]), value, record)

        # The password entry: reported, protected, nothing of its text.
        password = [r for r in elements if r["bounds"] == app.where("password")]
        self.assertEqual(len(password), 1, elements)
        keys = ("role", "protected", "name", "value", "hasValue", "hittable")
        self.assertEqual({k: password[0][k] for k in keys},
                         {"role": "textbox", "protected": True, "name": "", "value": "",
                          "hasValue": False, "hittable": False})

        # The branch nested deeper than the walk goes is cut, the sibling after it is not,
        # and the cover belongs to another window.
        names = {r["name"] for r in elements}
        self.assertNotIn("Deep button", names)
        self.assertNotIn("Cover", names)
        self.assertIs(reply["truncated"], True)

    def test_2_observation_of_a_focused_password_entry(self):
        app = self.app
        app.command("focus main password")
        reply = self.tool.observe()
        self.assertEqual(reply["status"], "available", reply)
        self.assertRecords(reply["elements"], app.pid)
        first = reply["elements"][0]
        self.assertEqual(first["id"], f"{app.pid}:focus")
        self.assertEqual(first["bounds"], app.where("password"))
        self.assertEqual(
            (first["role"], first["protected"], first["focused"], first["name"], first["value"]),
            ("textbox", True, True, "", ""))
        self.assertEqual(sum(r["bounds"] == first["bounds"] for r in reply["elements"]), 1,
                         "the focused password entry is reported once")

    def test_3_window_list(self):
        app, other = self.app, self.other
        reply = self.tool.windows()
        self.assertEqual(reply["status"], "available", reply)
        self.assertEqual(set(reply), {"status", "truncated", "windows"})
        windows = reply["windows"]
        self.assertEntries(windows)

        # The frontmost application first; the two windows with one title and frame left out,
        # which the reply says.
        pids = [w["pid"] for w in windows]
        self.assertEqual(pids[0], app.pid)
        self.assertLess(max(i for i, p in enumerate(pids) if p == app.pid),
                        min(i for i, p in enumerate(pids) if p == other.pid), pids)
        mine = {w["title"]: w for w in windows if w["pid"] == app.pid}
        self.assertEqual(set(mine), {"NEVO E2E Main", "NEVO E2E Second", "NEVO E2E Minimized",
                                     "NEVO E2E Cover"})
        self.assertIs(reply["truncated"], True)
        self.assertEqual({w["title"] for w in windows if w["pid"] == other.pid},
                         {"Beta One", "Beta Two"})

        main, mini = mine["NEVO E2E Main"], mine["NEVO E2E Minimized"]
        self.assertEqual((main["isFrontmost"], main["isMinimized"]), (True, False))
        self.assertEqual(main["bounds"], app.frame("main"))
        self.assertEqual((mini["isFrontmost"], mini["isMinimized"]), (False, True))
        self.assertEqual(mine["NEVO E2E Second"]["bounds"], app.frame("second"))
        self.assertEqual([w for w in windows if w["isFrontmost"]], [main])
        self.assertEqual(len({w["appName"] for w in windows if w["pid"] == app.pid}), 1)

        # The window list and the observation describe the front window alike.
        observed = self.tool.observe()
        self.assertEqual((observed["window"]["title"], observed["window"]["bounds"]),
                         (main["title"], main["bounds"]))
        self.assertEqual(observed["app"]["name"], main["appName"])

    def test_4_focus_switches_windows_and_restores_a_minimized_one(self):
        app, other = self.app, self.other
        windows = self.tool.windows()["windows"]

        # Another application's window.
        beta = self.entry(windows, other.pid, "Beta One")
        self.assertEqual(self.tool.focus(beta), {"status": "focused"})
        self.assertActive(other.pid, "Beta One")
        observed = self.tool.observe()
        self.assertEqual((observed["status"], observed["app"]["pid"], observed["window"]["title"]),
                         ("available", other.pid, "Beta One"))
        windows = self.tool.windows()["windows"]
        self.assertEqual(windows[0]["pid"], other.pid, "the new frontmost application comes first")
        beta = self.entry(windows, other.pid, "Beta One")
        self.assertIs(beta["isFrontmost"], True)

        # The window that is already in front, as now listed.
        self.assertEqual(self.tool.focus(beta), {"status": "focused"})
        self.assertActive(other.pid, "Beta One")

        # A minimized window is restored.
        mini = self.entry(windows, app.pid, "NEVO E2E Minimized")
        self.assertIs(mini["isMinimized"], True)
        self.assertEqual(self.tool.focus(mini), {"status": "focused"})
        self.assertActive(app.pid, "NEVO E2E Minimized")
        observed = self.tool.observe()
        self.assertEqual((observed["status"], observed["app"]["pid"], observed["window"]["title"]),
                         ("available", app.pid, "NEVO E2E Minimized"))
        restored = self.entry(self.tool.windows()["windows"], app.pid, "NEVO E2E Minimized")
        self.assertEqual((restored["isMinimized"], restored["isFrontmost"]), (False, True))

        # Another window of the frontmost application.
        second = self.entry(windows, app.pid, "NEVO E2E Second")
        self.assertEqual(self.tool.focus(second), {"status": "focused"})
        self.assertActive(app.pid, "NEVO E2E Second")

    def test_5_a_click_reaches_what_is_hittable(self):
        assert_clicks_reach_what_is_hittable(self, self.app)


class StaleEntries(DesktopTestCase):
    """An entry that no longer describes its window, for each way it can go stale, is refused
    with the reason that tells the host what happened; the unchanged entry is not."""

    def test_stale_entries_are_refused(self):
        def retitle(app, entry):
            app.command("title one Renamed")

        def move(app, entry):
            frame = app.frame("one")
            app.command(f"move one {int(frame['x']) + 1} {int(frame['y'])}")

        def minimize(app, entry):
            app.command("minimize one")

        def lose_focus(app, entry):
            app.command("raise two")

        def swap(app, entry):
            # Another window takes over the listed title and frame at another index.
            frame = app.frame("one")
            app.command("title one Renamed")
            app.command(f"title two {entry['title']}")
            app.command(f"move two {int(frame['x'])} {int(frame['y'])}")

        def close_last(app, entry):
            app.command(f"close {entry['window']}")

        def quit_application(app, entry):
            app.stop()

        def not_an_application(app, entry):
            # The window manager has windows (its frames), but none it manages as a client's:
            # it is no application.
            entry["pid"] = self.desktop.process("openbox").pid
            entry["id"] = f"{entry['pid']}:0"

        # case, what happens after the listing, which window's entry, the reply
        cases = [
            ("unchanged", None, "one", None),
            ("retitled", retitle, "one", AMBIGUOUS),
            ("moved by one pixel", move, "one", AMBIGUOUS),
            ("minimized", minimize, "one", AMBIGUOUS),
            ("no longer focused", lose_focus, "one", STATE_CHANGED),
            ("identity now at another index", swap, "one", STATE_CHANGED),
            ("closed", close_last, "last", WINDOW_CHANGED),
            ("application quit", quit_application, "one", APPLICATION_CHANGED),
            ("not an application", not_an_application, "one", APPLICATION_CHANGED),
        ]
        for number, (case, change, window, reason) in enumerate(cases):
            with self.subTest(case=case):
                app = TestApp(self.desktop, scene="pair", prefix=f"Stale{number}")
                try:
                    entries = [w for w in self.tool.windows()["windows"] if w["pid"] == app.pid]
                    self.assertEqual(len(entries), 2, entries)
                    if window == "last":
                        entry = max(entries, key=lambda w: int(w["id"].split(":")[1]))
                        entry["window"] = "one" if entry["title"].endswith("One") else "two"
                    else:
                        entry = self.entry(entries, app.pid, app.title(window))
                        self.assertIs(entry["isFrontmost"], True, "the first window is in front")
                    if change is not None:
                        change(app, entry)
                    entry.pop("window", None)
                    expected = {"status": "focused"} if reason is None else \
                        {"status": "unavailable", "reason": reason}
                    self.assertEqual(self.tool.focus(entry), expected)
                finally:
                    app.stop()


class WidgetFactory(DesktopTestCase):
    """gtk3-widget-factory, an application the project does not own, observed."""

    @classmethod
    def start_applications(cls):
        cls.factory = cls.desktop.spawn(["gtk3-widget-factory"], name="widget-factory",
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        cls.desktop.wait_registered(cls.factory.pid, "gtk3-widget-factory")
        cls.desktop.wait_active(cls.factory.pid, "gtk3-widget-factory")

    def test_observation_and_window_list(self):
        pid = self.factory.pid
        # Just after its window became active the factory may still move its focus (measured:
        # 2 of 12 first observations, with this build and the one before it, answered that
        # the focus changed while reading): observed again while the reply has no window.
        reply = self.observe_once_answering()
        self.assertEqual(reply["status"], "available", reply)
        self.assertEqual(reply["app"]["pid"], pid)
        window = reply["window"]
        elements = reply["elements"]
        self.assertRecords(elements, pid)

        roles = {r["role"] for r in elements}
        for role in ("button", "checkbox", "combobox", "radio", "slider", "tabs", "textbox", "text"):
            self.assertIn(role, roles, f"no {role} among {sorted(roles)}")
        # Check boxes, radio buttons and sliders report their state as a number.
        for record in elements:
            if record["role"] in ("checkbox", "radio", "slider"):
                float(record["value"])
        hittable = [r for r in elements if r["hittable"]]
        self.assertGreaterEqual(sum(r["role"] == "button" for r in hittable), 3, hittable)
        self.assertTrue(any(not r["enabled"] for r in elements), "the factory has disabled controls")

        # Every element reported is on the window; what the hit test accepts has its centre
        # there.
        frame = window["bounds"]
        for record in elements:
            self.assertTrue(overlaps(record["bounds"], frame), (record, frame))
        for record in hittable:
            self.assertTrue(inside(centre(record["bounds"]), frame), (record, frame))

        listed = self.tool.windows()
        self.assertEqual(listed["status"], "available")
        self.assertEntries(listed["windows"])
        front = [w for w in listed["windows"] if w["isFrontmost"]]
        self.assertEqual(len(front), 1, listed)
        self.assertEqual((front[0]["pid"], front[0]["title"], front[0]["bounds"], front[0]["appName"]),
                         (pid, window["title"], window["bounds"], reply["app"]["name"]))
        # Named as the desktop names it: gtk3-widget-factory.desktop, the file named after its
        # window class (its application id, org.gtk.WidgetFactory, has no entry).
        self.assertEqual(reply["app"]["name"], "Widget Factory")


# A Tk application: three windows, the last one minimized once it is on the screen. Tk sets
# no _NET_WM_PID.
TK_SCRIPT = """
wm title . "Tk One"
wm geometry . 320x200+700+100
button .hello -text Hello
pack .hello
toplevel .two
wm title .two "Tk Two"
wm geometry .two 320x200+700+420
toplevel .mini
wm title .mini "Tk Minimized"
wm geometry .mini 240x120+1100+100
after 300 {wm iconify .mini}
"""
TK_TITLES = {"Tk One", "Tk Two", "Tk Minimized"}
TERMINAL_TITLE = "Plain Terminal"


class WithoutAccessibility(DesktopTestCase):
    """Applications without an accessibility tree, a terminal and a Tk application, beside one
    that has a tree: their windows are listed and focused from the window system, and their
    observation tells the host to use a screenshot."""

    @classmethod
    def start_applications(cls):
        cls.app = TestApp(cls.desktop, scene="pair", prefix="Beta")
        script = os.path.join(cls.desktop.dir, "tk-windows.tcl")
        with open(script, "w") as file:
            file.write(TK_SCRIPT)
        cls.tk = cls.desktop.spawn(["wish", script], name="wish", stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL)
        cls.terminal = cls.desktop.spawn(["xterm", "-T", TERMINAL_TITLE, "-geometry", "80x20+40+500"],
                                         name="xterm", stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL)
        cls.desktop._wait_until("wish", "the Tk windows did not map, the last one minimized",
                                lambda: cls.minimized(cls.window_named("Tk Minimized")), cls.tk)
        cls.desktop._wait_until("xterm", "the terminal did not map its window",
                                lambda: cls.window_named(TERMINAL_TITLE), cls.terminal)

    @classmethod
    def window_named(cls, title):
        """The managed client window with this WM_NAME (xterm sets no _NET_WM_NAME), or None."""
        for window in cls.desktop.client_windows():
            value = cls.desktop.window_property(window, "WM_NAME")
            if value == f'"{title}"':
                return window
        return None

    @classmethod
    def minimized(cls, window):
        state = window is not None and cls.desktop.window_property(window, "_NET_WM_STATE")
        return bool(state) and "_NET_WM_STATE_HIDDEN" in state

    def setUp(self):
        super().setUp()
        self.addCleanup(self.assertAlive)

    def assertAlive(self):
        for name, process in (("the test application", self.app.process), ("wish", self.tk),
                              ("xterm", self.terminal)):
            self.assertIsNone(process.poll(), f"{name} died")

    def command(self, *arguments, **kwargs):
        """A run, and every application still alive after it."""
        reply = self.tool.run(*arguments, **kwargs).reply
        self.assertAlive()
        return reply

    def listed(self):
        reply = self.command("--windows")
        self.assertEqual(reply["status"], "available", reply)
        self.assertEntries(reply["windows"])
        return reply["windows"]

    def focus(self, entry):
        """Focuses the entry's window; the window manager agrees."""
        self.assertEqual(self.command("--focus", stdin=json.dumps(entry, ensure_ascii=False)),
                         {"status": "focused"}, entry)
        self.assertEqual(self.desktop.active_window(), self.window_named(entry["title"]), entry)

    def test_1_windows_are_listed_with_their_processes_and_desktop_names(self):
        # Tk names no process on its windows: the X server knows it.
        self.assertIsNone(self.desktop.window_pid(self.window_named("Tk One")))
        windows = self.listed()
        tk = {w["title"]: w for w in windows if w["pid"] == self.tk.pid}
        self.assertEqual(set(tk), TK_TITLES, windows)
        terminal = self.entry(windows, self.terminal.pid, TERMINAL_TITLE)
        # The terminal is named as the desktop names it (Debian's debian-xterm.desktop claims
        # the class XTerm), Tk by its process: it has no desktop entry.
        self.assertEqual(terminal["appName"], "XTerm")
        self.assertEqual({w["appName"] for w in tk.values()}, {"wish"})
        self.assertEqual([tk[t]["isMinimized"] for t in ("Tk One", "Tk Two", "Tk Minimized")],
                         [False, False, True])
        # Indexes follow the order the windows were first mapped in (Tk's own order), which
        # raising a window does not change (test_2).
        self.assertEqual({w["id"] for w in tk.values()}, {f"{self.tk.pid}:{i}" for i in range(3)})
        for entry in list(tk.values()) + [terminal]:
            self.assertGreater(entry["bounds"]["width"], 0, entry)
            self.assertGreater(entry["bounds"]["height"], 0, entry)
        # The accessible application is listed as before.
        self.assertEqual({w["title"] for w in windows if w["pid"] == self.app.pid},
                         {"Beta One", "Beta Two"})

    def test_2_each_window_is_focused_and_observed_as_one_to_take_a_screenshot_of(self):
        for title, pid in ((TERMINAL_TITLE, self.terminal.pid), ("Tk Two", self.tk.pid),
                           ("Tk One", self.tk.pid), ("Tk Minimized", self.tk.pid)):
            with self.subTest(title=title):
                windows = self.listed()
                entry = self.entry(windows, pid, title)
                self.focus(entry)
                self.assertEqual(self.command(), {
                    "elements": [], "reason": "前台应用未提供窗口信息，请使用截图。",
                    "status": "unavailable"})
                now = self.entry(self.listed(), pid, title)
                self.assertEqual((now["id"], now["isFrontmost"], now["isMinimized"]),
                                 (entry["id"], True, False), "listed as the front window")
                self.assertEqual(self.command("--windows")["windows"][0]["pid"], pid,
                                 "its application comes first")

    def settled(self, pid, title, seconds=3.0):
        """The window's entry once two listings in a row agree on it: right after a focus
        change, a GTK window's frame has been read one pixel short while the window manager
        was still at work (seen once in ten runs on a loaded machine)."""
        deadline = time.monotonic() + seconds
        entry = self.entry(self.listed(), pid, title)
        while time.monotonic() < deadline:
            again = self.entry(self.listed(), pid, title)
            if again == entry:
                break
            entry = again
            time.sleep(0.1)
        return entry

    def test_3_switching_back_and_forth_with_an_accessible_application(self):
        beta = self.settled(self.app.pid, "Beta One")
        self.focus(beta)
        observed = self.command()
        self.assertEqual((observed["status"], observed["window"]["title"]), ("available", "Beta One"))
        terminal = self.entry(self.listed(), self.terminal.pid, TERMINAL_TITLE)
        self.focus(terminal)
        beta = self.settled(self.app.pid, "Beta One")
        self.focus(beta)
        observed = self.command()
        self.assertEqual((observed["status"], observed["window"]["title"]), ("available", "Beta One"))


# Bounds in real time, from start to exit, of each command when an application does not
# answer. The observation's walk tests its 1.8 s deadline between elements, so when the
# application stops in the middle of an element the requests still due for that element
# (each bounded by 0.2 s; measured: up to 0.8 s) come on top: IN_PROGRESS_SECONDS. The margin
# is what a loaded two-core machine may add (process start, scheduling). A hang is not a few
# tenths late: it is at least the bus's default time-out of 25 s, or for ever.
OBSERVATION_SECONDS = 2.2
WINDOWS_SECONDS = 2.0
FOCUS_SECONDS = 1.5
IN_PROGRESS_SECONDS = 1.0
MARGIN_SECONDS = 1.0


class StoppedApplication(DesktopTestCase):
    """The frontmost application, or the accessibility registry, stops answering (SIGSTOP):
    every command still answers with one line within its bound, and the applications that do
    answer are still served."""

    @classmethod
    def start_applications(cls):
        cls.other = TestApp(cls.desktop, scene="pair", prefix="Beta")
        cls.app = TestApp(cls.desktop)

    def setUp(self):
        super().setUp()
        self.app.command("raise main")

    def timed(self, bound, *arguments, **kwargs):
        run = self.tool.run(*arguments, **kwargs)
        sys.stderr.write(f"\n  {' '.join(arguments) or '(observation)'}: {run.seconds:.2f} s "
                         f"(bound {bound} s) -> {run.line.strip()[:90]}")
        self.assertLessEqual(run.seconds, bound + MARGIN_SECONDS, run.describe())
        return run

    def stopped(self, pid):
        os.kill(pid, signal.SIGSTOP)
        self.addCleanup(os.kill, pid, signal.SIGCONT)

    def test_1_stopped_before_the_command(self):
        app, other = self.app, self.other
        windows = self.tool.windows()["windows"]
        main = self.entry(windows, app.pid, "NEVO E2E Main")
        beta = self.entry(windows, other.pid, "Beta One")

        self.stopped(app.pid)
        self.timed(OBSERVATION_SECONDS)
        listed = self.timed(WINDOWS_SECONDS, "--windows").reply
        self.assertEqual(listed["status"], "available")
        self.assertEqual({w["title"] for w in listed["windows"] if w["pid"] == other.pid},
                         {"Beta One", "Beta Two"},
                         f"the answering application is still listed: {listed}")
        self.assertEqual(self.timed(FOCUS_SECONDS, "--focus", stdin=json.dumps(main)).reply["status"],
                         "unavailable")
        self.assertEqual(self.timed(FOCUS_SECONDS, "--focus", stdin=json.dumps(beta)).reply,
                         {"status": "focused"})
        observed = self.timed(OBSERVATION_SECONDS).reply
        self.assertEqual((observed["status"], observed["window"]["title"]), ("available", "Beta One"))

        os.kill(app.pid, signal.SIGCONT)
        app.command("raise main")
        observed = self.observe_once_answering()
        self.assertEqual(observed.get("window", {}).get("title"), "NEVO E2E Main",
                         f"the application answers again once continued: {observed}")

    def test_2_stopped_while_the_command_reads(self):
        # The stop lands at some point of the run (connecting, walking, listing, verifying):
        # wherever it lands, the bound holds.
        app = self.app
        second = self.entry(self.tool.windows()["windows"], app.pid, "NEVO E2E Second")
        commands = [
            ((), None, OBSERVATION_SECONDS + IN_PROGRESS_SECONDS),
            (("--windows",), None, WINDOWS_SECONDS),
            (("--focus",), json.dumps(second), FOCUS_SECONDS),
        ]
        for arguments, stdin, bound in commands:
            for delay in (0.005, 0.01, 0.02, 0.04):
                with self.subTest(command=arguments, delay=delay):
                    app.command("raise main")
                    try:
                        self.timed(bound, *arguments, stdin=stdin,
                                   during=lambda: (time.sleep(delay), os.kill(app.pid, signal.SIGSTOP)))
                    finally:
                        os.kill(app.pid, signal.SIGCONT)

    def test_3_registry_that_does_not_answer(self):
        registry = self.desktop.daemon("at-spi2-registryd")
        self.assertIsNotNone(registry, "the accessibility registry runs")
        self.stopped(registry)
        self.assertEqual(self.timed(OBSERVATION_SECONDS).line, DENIED_OBSERVATION)
        self.assertEqual(self.timed(WINDOWS_SECONDS, "--windows").line, DENIED_WINDOWS)
        self.assertEqual(self.timed(FOCUS_SECONDS, "--focus", stdin=json.dumps(ENTRY)).line,
                         DENIED_FOCUS)

    def test_4_display_that_does_not_answer(self):
        # A stopped X server stands for one held by another client's server grab: neither
        # answers anybody, the applications included.
        app = self.app
        server = self.desktop.process("Xvfb").pid
        second = self.entry(self.tool.windows()["windows"], app.pid, "NEVO E2E Second")
        commands = [
            ((), None, OBSERVATION_SECONDS, DENIED_OBSERVATION),
            (("--windows",), None, WINDOWS_SECONDS, DENIED_WINDOWS),
            (("--focus",), json.dumps(second), FOCUS_SECONDS, DENIED_FOCUS),
        ]
        try:
            self.stopped(server)
            for arguments, stdin, bound, denied in commands:
                with self.subTest(command=arguments, stopped="before"):
                    self.assertEqual(self.timed(bound, *arguments, stdin=stdin).line, denied)
        finally:
            os.kill(server, signal.SIGCONT)

        for arguments, stdin, bound, _ in commands:
            for delay in (0.005, 0.01, 0.02, 0.04):
                with self.subTest(command=arguments, stopped_after=delay):
                    app.command("raise main")
                    try:
                        self.timed(bound + IN_PROGRESS_SECONDS, *arguments, stdin=stdin,
                                   during=lambda: (time.sleep(delay), os.kill(server, signal.SIGSTOP)))
                    finally:
                        os.kill(server, signal.SIGCONT)
        app.command("raise main")
        observed = self.observe_once_answering()
        self.assertEqual(observed.get("window", {}).get("title"), "NEVO E2E Main",
                         f"the display answers again once continued: {observed}")


ENTRY = {"appName": "nevo-e2e-app", "bounds": {"height": 222, "width": 322, "x": 1000, "y": 300},
         "id": "1:0", "isFrontmost": False, "isMinimized": False, "pid": 1, "title": "Beta One"}


def unserved_display():
    number = next(n for n in range(6000, 7000) if not os.path.exists(f"/tmp/.X{n}-lock")
                  and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    return f":{number}"


class UnreachableAccessibility(DesktopTestCase):
    """When the accessibility bus cannot be reached (no display, no way to learn its address,
    the bus gone), every command answers with its permission-denied line, exactly; as long as
    one way to it is left, the commands work."""

    @classmethod
    def start_applications(cls):
        cls.app = TestApp(cls.desktop, scene="pair", prefix="Beta")

    def assertDenied(self, env):
        entry = dict(ENTRY, pid=self.app.pid, id=f"{self.app.pid}:0")
        runs = [
            (self.tool.run(env=env), DENIED_OBSERVATION),
            (self.tool.run("--windows", env=env), DENIED_WINDOWS),
            (self.tool.run("--focus", stdin=json.dumps(entry), env=env), DENIED_FOCUS),
        ]
        for run, line in runs:
            self.assertEqual(run.line, line, run.describe())

    def test_each_command_is_denied(self):
        desktop, env = self.desktop, self.desktop.env
        empty_runtime = os.path.join(desktop.dir, "empty")
        os.mkdir(empty_runtime, 0o700)
        no_session_bus = {k: v for k, v in env.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
        no_session_bus["XDG_RUNTIME_DIR"] = empty_runtime  # where the bus is looked for last
        unserved_bus = dict(env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={empty_runtime}/bus")
        no_display = {k: v for k, v in env.items() if k != "DISPLAY"}

        # The working desktop first: each case below differs from it in one thing.
        self.assertEqual(self.tool.windows()["status"], "available")
        for case, case_env in [
            ("no display and no session bus",
             {k: v for k, v in no_session_bus.items() if k != "DISPLAY"}),
            ("no display", no_display),
            ("a display nobody serves", dict(env, DISPLAY=unserved_display())),
        ]:
            with self.subTest(case=case):
                self.assertDenied(case_env)

        # The display tells where the accessibility bus is (the root window's AT_SPI_BUS), so
        # no session bus is needed; without that, the session bus must tell.
        published = desktop.root_property("AT_SPI_BUS")
        self.assertTrue(published and published.startswith('"unix:'),
                        "the bus launcher publishes the bus on the display")
        address = published.strip('"')
        self.assertEqual(self.tool.windows(env=no_session_bus)["status"], "available")
        self.assertEqual(self.tool.windows(env=unserved_bus)["status"], "available")
        desktop.xprop("-root", "-remove", "AT_SPI_BUS")
        self.assertEqual(self.tool.windows()["status"], "available")
        for case, case_env in [("no session bus", no_session_bus),
                               ("a session bus nobody serves", unserved_bus)]:
            with self.subTest(case=case + ", no address on the display"):
                self.assertDenied(case_env)

        # The registry dies: the bus would start it again on demand, but the tool starts
        # nothing (and the applications, which would, have no reason to ask).
        registry = desktop.daemon("at-spi2-registryd")
        self.assertIsNotNone(registry, "the accessibility registry runs")
        harness.stop_process(registry)
        with self.subTest(case="the registry is gone"):
            self.assertDenied(env)

        # The accessibility bus goes away (its launcher and the bus it launched): the session
        # bus no longer has it and nothing starts it again; nor does an address left behind
        # on the display lead anywhere.
        launcher = desktop.process("a11y-bus")
        for pid in harness.desktop_module._descendants([launcher.pid]) + [launcher.pid]:
            harness.stop_process(pid)
        launcher.wait()
        with self.subTest(case="the accessibility bus is gone"):
            self.assertDenied(env)
        desktop.xprop("-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address)
        self.assertEqual(desktop.root_property("AT_SPI_BUS"), published)
        with self.subTest(case="the display names the bus that is gone"):
            self.assertDenied(env)


class ToolkitApplication(DesktopTestCase):
    """The test application built with another toolkit, in front of the GTK 3 one: the three
    commands answer, a window listed is focused and then observed, and the application is
    alive after every command (Tool.run checks every process of the desktop)."""

    toolkit = None

    @classmethod
    def setUpClass(cls):
        if cls.toolkit is None:
            raise unittest.SkipTest("the toolkits' common tests")
        super().setUpClass()

    @classmethod
    def start_applications(cls):
        cls.other = TestApp(cls.desktop, scene="pair", prefix="Beta")
        cls.app = TestApp(cls.desktop, toolkit=cls.toolkit)

    def test_1_observation(self):
        self.app.command("raise main")
        self.assertActive(self.app.pid, "NEVO E2E Main")
        observed = self.observe_once_answering()
        self.assertEqual(observed["status"], "available", observed)
        self.assertEqual(observed["window"]["title"], "NEVO E2E Main")
        # The frame with its decorations (GTK 3), or the client window inside it (GTK 4, Qt).
        self.assertWithin(observed["window"]["bounds"], self.app.frame("main"))
        self.assertEqual(observed["app"]["pid"], self.app.pid)
        elements = observed["elements"]
        controls = {}
        for role, name in (("button", "Apply"), ("textbox", "Plain entry"),
                           ("checkbox", "Remember me"), ("slider", "Volume"),
                           ("button", "Disabled")):
            found = [e for e in elements if e["role"] == role and e["name"] == name]
            self.assertEqual(len(found), 1, (role, name, elements))
            controls[name] = found[0]
        # Where the toolkit puts each control on the screen.
        for name, widget in (("Apply", "apply"), ("Remember me", "check")):
            record = controls[name]
            self.assertBounds(record["bounds"], name)
            where = self.app.where(widget)
            self.assertTrue(inside(centre(record["bounds"]), where) or
                            inside(centre(where), record["bounds"]), (name, record, where))
        self.assertIs(controls["Disabled"]["enabled"], False)
        self.assertIs(controls["Apply"]["enabled"], True)
        # What the disabled button holds takes no click either (GTK 4 reads its label as
        # enabled).
        held = [e for e in elements if e is not controls["Disabled"] and
                inside(centre(e["bounds"]), controls["Disabled"]["bounds"])]
        for record in held:
            self.assertIs(record["hittable"], False, record)
        protected = [e for e in elements if e["protected"]]
        self.assertEqual(len(protected), 1, elements)
        self.assertEqual((protected[0]["name"], protected[0]["value"]), ("", ""))

    def test_2_window_list_and_focus(self):
        self.app.command("raise main")
        self.assertActive(self.app.pid, "NEVO E2E Main")
        reply = self.tool.windows()
        self.assertEqual(reply["status"], "available", reply)
        mine = {w["title"]: w for w in reply["windows"] if w["pid"] == self.app.pid}
        self.assertTrue({"NEVO E2E Main", "NEVO E2E Second"} <= set(mine), reply)
        self.assertIs(mine["NEVO E2E Main"]["isFrontmost"], True)
        self.assertWithin(mine["NEVO E2E Second"]["bounds"], self.app.frame("second"))
        others = [w for w in reply["windows"] if w["pid"] == self.other.pid]
        self.assertEqual({w["title"] for w in others}, {"Beta One", "Beta Two"})
        # To the second window, to the other application, and back, each from a fresh list.
        for pid, title in ((self.app.pid, "NEVO E2E Second"), (self.other.pid, "Beta One"),
                           (self.app.pid, "NEVO E2E Main")):
            entry = self.entry(self.tool.windows()["windows"], pid, title)
            answer = self.tool.focus(entry)
            self.assertEqual(answer, {"status": "focused"}, (entry, answer))
            self.assertActive(pid, title)
            observed = self.observe_once_answering()
            self.assertEqual(observed["status"], "available", observed)
            self.assertEqual(observed["window"]["title"], title, observed)

    def test_3_a_click_reaches_what_is_hittable(self):
        assert_clicks_reach_what_is_hittable(self, self.app)


class Gtk4Application(ToolkitApplication):
    toolkit = "gtk4"


class Qt5Application(ToolkitApplication):
    toolkit = "qt5"


class Qt6Application(ToolkitApplication):
    toolkit = "qt6"


class Gtk4WidgetFactory(DesktopTestCase):
    """gtk4-widget-factory: its window is observed where X11 has it, listed, focused, and the
    application lives through every command."""

    @classmethod
    def start_applications(cls):
        cls.other = TestApp(cls.desktop, scene="pair", prefix="Beta")
        cls.factory = cls.desktop.spawn(["gtk4-widget-factory"], name="gtk4-widget-factory",
                                        env=harness.toolkit_env(cls.desktop, "gtk4"))
        cls.desktop.wait_registered(cls.factory.pid, "gtk4-widget-factory")
        cls.desktop.wait_active(cls.factory.pid, "gtk4-widget-factory")

    def test_observation_window_list_and_focus(self):
        observed = self.observe_once_answering()
        self.assertEqual(observed["status"], "available", observed)
        self.assertEqual(observed["app"]["pid"], self.factory.pid)
        window = [w for w in self.desktop.client_windows()
                  if self.desktop.window_pid(w) == self.factory.pid]
        self.assertTrue(window)
        bounds = observed["window"]["bounds"]
        # Where X11 has it: the window draws its own border inside its client window.
        self.assertWithin(bounds, self.desktop.window_rectangle(window[0]))
        self.assertGreater(len(observed["elements"]), 50)
        for record in observed["elements"]:
            self.assertTrue(overlaps(record["bounds"], bounds), record)
        reply = self.tool.windows()
        self.assertEqual(reply["status"], "available", reply)
        mine = [w for w in reply["windows"] if w["pid"] == self.factory.pid]
        self.assertEqual([w["bounds"] for w in mine if w["isFrontmost"]], [bounds])
        for pid in (self.other.pid, self.factory.pid):
            entry = next(w for w in self.tool.windows()["windows"] if w["pid"] == pid)
            self.assertEqual(self.tool.focus(entry), {"status": "focused"}, entry)
            self.assertEqual(self.observe_once_answering()["app"]["pid"], pid)


class AccessibilitySwitchedOff(DesktopTestCase):
    """The desktop's accessibility switch (org.a11y.Status IsEnabled) is what the
    accessibility permission is elsewhere: while it is off, every command answers with its
    permission-denied line, although GTK 3 exposes its tree all the same; the tool never
    switches it on."""

    accessibility = False

    @classmethod
    def start_applications(cls):
        cls.app = TestApp(cls.desktop, scene="pair", prefix="Beta")
        # Qt exposes nothing while the switch is off: it never registers.
        cls.qt = TestApp(cls.desktop, scene="pair", prefix="Gamma", toolkit="qt5",
                         registered=False)

    def test_each_command_is_denied_until_the_user_switches_it_on(self):
        entry = dict(ENTRY, pid=self.app.pid, id=f"{self.app.pid}:0")
        self.assertIs(self.desktop.accessibility_enabled(), False)
        for arguments, stdin, denied in [((), None, DENIED_OBSERVATION),
                                         (("--windows",), None, DENIED_WINDOWS),
                                         (("--focus",), json.dumps(entry), DENIED_FOCUS)]:
            run = self.tool.run(*arguments, stdin=stdin)
            self.assertEqual(run.line, denied, run.describe())
        self.assertIs(self.desktop.accessibility_enabled(), False, "the tool left it off")
        self.desktop.set_accessibility(True)
        self.assertEqual(self.tool.windows()["status"], "available")


if __name__ == "__main__":
    harness.main(__name__)
