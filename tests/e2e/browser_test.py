#!/usr/bin/env python3
"""The real binary on a private virtual desktop with Debian's browsers, Firefox ESR and
Chromium, showing the project's own sign-in page (tests/e2e/page), and the test
application's window of hidden elements.

    browser_test.py --binary PATH --app PATH [unittest arguments, e.g. a class name]

The browsers are started as a user starts them, on a fresh profile. What else each needs, and
why:
- Chromium as root (as in a container) refuses to start without --no-sandbox;
  --no-first-run, because a fresh profile otherwise opens the first-run welcome page, which a
  user has long since dismissed.
- Firefox: one preference in the fresh profile's user.js, which skips the data-reporting
  notice tab that a first start opens (it is a page on the network, which this machine does
  not reach); a user has dismissed it as well.

Every reply is checked as in e2e_test.py (one line, its schema, never the password), and after
every command each browser is still running.
"""

import json
import os
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import harness  # noqa: E402
from harness import DesktopError, DesktopTestCase, TestApp, Tool  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PAGE = "file://" + os.path.join(HERE, "page", "sign_in.html")
DUMP = os.path.join(HERE, "atspi_dump.py")
# pyatspi is a Debian package: the system's interpreter, whatever runs the tests.
SYSTEM_PYTHON = "/usr/bin/python3"

FOCUS_CHANGED = "读取期间输入焦点发生变化，请重新观察。"
WINDOW_CHANGED = harness.WINDOW_CHANGED
FOCUS_ATTEMPTS = 3
NO_WINDOW = "前台应用未提供窗口信息，请使用截图。"
OBSERVE_ATTEMPTS = 4
# A browser's tree is there a few seconds after its window; a start that takes longer than
# this on a loaded machine has failed.
BROWSER_START_SECONDS = 60.0

# The page's controls: name, reported role, enabled, value (None: not checked).
PAGE_CONTROLS = [
    ("User name", "textbox", True, ""),
    ("Email", "textbox", True, ""),
    ("Remember me", "checkbox", True, "1"),
    ("Accept terms", "checkbox", True, "0"),
    ("Apply", "button", True, None),
    ("Disabled", "button", False, None),
    ("Sign in", "button", True, None),
    ("Forgot password", "link", True, None),
    ("Help", "link", True, None),
]
# The toolkit's roles of the controls that the independent dump counts as on-screen controls.
CONTROL_ROLES = {"push button", "check box", "link", "entry", "password text", "radio button"}


def inside(inner, outer):
    return (outer["x"] <= inner["x"] and outer["y"] <= inner["y"] and
            inner["x"] + inner["width"] <= outer["x"] + outer["width"] and
            inner["y"] + inner["height"] <= outer["y"] + outer["height"])


def bounds_of(extents):
    x, y, width, height = extents
    return {"x": float(x), "y": float(y), "width": float(width), "height": float(height)}


class LiveTool(Tool):
    """The tool, checked as usual and then for the applications: each is still running."""

    def __init__(self, test, env, processes):
        super().__init__(test, env)
        self.processes = processes

    def check(self, run):
        super().check(run)
        for name, process in self.processes():
            self.test.assertIsNone(process.poll(), f"{name} ended after " + run.describe())


class BrowserCase(DesktopTestCase):
    """One browser with the sign-in page in two windows; subclasses say which browser."""

    NAME = None

    @classmethod
    def setUpClass(cls):
        if cls.NAME is None:
            raise unittest.SkipTest("the browsers' common tests")
        super().setUpClass()

    @classmethod
    def start_applications(cls):
        desktop = cls.desktop
        # Browsers expose nothing while the desktop's accessibility switch is off.
        desktop._dbus_send(desktop.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                           "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                           "string:IsEnabled", "variant:boolean:true")
        cls.profile = os.path.join(desktop.dir, f"{cls.NAME}-profile")
        os.mkdir(cls.profile)
        cls.prepare_profile(cls.profile)
        cls.browser = desktop.spawn(cls.command(PAGE), name=cls.NAME, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL)
        cls.pid = cls.browser.pid
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while time.monotonic() < deadline:
            if cls.pid in (desktop.registered_pids() or []) and cls.window_titled("NEVO E2E Sign in"):
                break
            if cls.browser.poll() is not None:
                raise DesktopError(f"{cls.NAME} exited with status {cls.browser.returncode}")
            time.sleep(0.2)
        else:
            raise DesktopError(f"{cls.NAME} did not show the page within {BROWSER_START_SECONDS} s")
        desktop.wait_active(cls.pid, cls.NAME)
        cls.first_observation = cls.until_answered(lambda: cls.observe_quietly()[0])
        cls.wait_for_page("NEVO E2E Sign in")

    @classmethod
    def observe_quietly(cls, *arguments):
        """The tool's reply and its run, outside any test (setup)."""
        result = subprocess.run([harness.BINARY, *arguments], env=cls.desktop.env,
                                capture_output=True, timeout=harness.HANG_SECONDS,
                                stdin=subprocess.DEVNULL)
        if result.returncode != 0 or result.stderr:
            raise DesktopError(f"the tool exited with {result.returncode}, standard error "
                               f"{result.stderr[-300:]!r}")
        return json.loads(result.stdout), result

    @classmethod
    def until_answered(cls, observe):
        """The first reply that is not "no window": a browser that has just shown its window
        may still be too busy to answer within the observation's bounds. Every reply until
        then, for the test of the first observation."""
        replies = []
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while time.monotonic() < deadline:
            reply = observe()
            replies.append(reply)
            if cls.browser.poll() is not None:
                raise DesktopError(f"{cls.NAME} died after the tool's observation "
                                   f"(status {cls.browser.returncode}): {reply}")
            if reply.get("status") == "available" or reply.get("reason") == FOCUS_CHANGED:
                return replies
            time.sleep(0.5)
        raise DesktopError(f"{cls.NAME} gave no window to the tool: {replies[-1]}")

    @classmethod
    def wait_for_page(cls, title):
        """Waits until the toolkit's own tree (read as the dump reads it) has the page of that
        title in the active window, its controls included: a browser builds it a while after
        the window shows."""
        deadline = time.monotonic() + BROWSER_START_SECONDS
        seen = "no dump"
        while time.monotonic() < deadline:
            result = subprocess.run([SYSTEM_PYTHON, DUMP, str(cls.pid)], env=cls.desktop.env,
                                    capture_output=True, timeout=120)
            if result.returncode == 0:
                elements = json.loads(result.stdout)["elements"]
                if (elements and elements[0]["name"].startswith(title) and
                        any(e["name"] == "Sign in" and e["role"] == "push button" and e["showing"]
                            for e in elements)):
                    return
                seen = (f"{len(elements)} elements, the first "
                        f"{elements[0]['name'] if elements else None!r}")
            else:
                seen = f"the dump failed: {result.stderr.decode(errors='replace')[-300:]}"
            time.sleep(0.5)
        raise DesktopError(f"{cls.NAME} did not show the page {title!r} in its tree "
                           f"({seen}; the tool's first replies: {cls.first_observation})")

    @classmethod
    def window_titled(cls, prefix):
        for window in cls.desktop.client_windows():
            if cls.desktop.window_pid(window) == cls.pid:
                title = cls.desktop.window_title(window) or ""
                if title.startswith(prefix):
                    return window
        return None

    def setUp(self):
        super().setUp()
        self.tool = LiveTool(self, self.desktop.env, lambda: [(self.NAME, self.browser)])

    # -- what the toolkit itself says ------------------------------------------------------

    def dump(self, points=()):
        result = subprocess.run([SYSTEM_PYTHON, DUMP, str(self.pid),
                                 *(f"{x},{y}" for x, y in points)],
                                env=self.desktop.env, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return json.loads(result.stdout)

    def registered_events(self):
        return self.desktop._dbus_send(self.desktop.a11y_address, harness.desktop_module.REGISTRY,
                                       "/org/a11y/atspi/registry",
                                       "org.a11y.atspi.Registry.GetRegisteredEvents")

    def observe_page(self):
        """The observation of the page. The very first one of a browser that no client has
        listened to before may meet its tree being built (the reply then asks to observe
        again); the next one sees it built. A browser that has just started or opened a
        window may be too busy for a moment to answer within the observation's time-outs
        (0.2 s a request: "no window" with the screenshot reason); the host would observe
        again later, and so does this, a few times."""
        for _ in range(OBSERVE_ATTEMPTS):
            reply = self.tool.observe()
            if reply.get("reason") not in (FOCUS_CHANGED, NO_WINDOW):
                break
            time.sleep(0.5)
        self.assertEqual(reply["status"], "available", reply)
        return reply

    # -- the tests -------------------------------------------------------------------------

    def test_0_the_first_observation(self):
        """What the tool answered first, once the browser answered at all: the page, or (a
        Chromium that no client had listened to, woken by the tool's listener and building
        its tree) the reply that asks to observe again, after which the page is there."""
        first = self.first_observation[-1]
        self.assertIn(first["status"], ("available", "unavailable"), first)
        if first["status"] == "unavailable":
            self.assertEqual(first["reason"], FOCUS_CHANGED, first)
        self.assertEqual(self.observe_page()["status"], "available")

    def test_1_observation_reports_the_pages_controls_and_only_what_is_showing(self):
        reply = self.observe_page()
        self.assertEqual(reply["app"]["pid"], self.pid)
        self.assertTrue(reply["window"]["title"].startswith("NEVO E2E Sign in"), reply["window"])
        elements = reply["elements"]
        self.assertRecords(elements, self.pid)
        self.assertIs(reply["truncated"], False)
        for name, role, enabled, value in PAGE_CONTROLS:
            with self.subTest(control=name):
                found = [r for r in elements if r["name"] == name and r["role"] == role]
                self.assertEqual(len(found), 1, f"{name} ({role}) in {elements}")
                self.assertEqual(found[0]["enabled"], enabled, found[0])
                if value is not None:
                    self.assertEqual(found[0]["value"], value, found[0])
        # The password field: reported, protected, nothing of its text (the harness checks
        # that the password is in no output at all).
        protected = [r for r in elements if r["protected"]]
        self.assertEqual(len(protected), 1, elements)
        self.assertEqual((protected[0]["role"], protected[0]["name"], protected[0]["value"]),
                         ("textbox", "", ""))

        # Against the toolkit's own account: every on-screen control of the window has a
        # record at its place, and every record is of an element that is showing.
        dump = self.dump()["elements"]
        frame = reply["window"]["bounds"]
        recorded = [r["bounds"] for r in elements]
        controls = [e for e in dump if e["showing"] and e["role"] in CONTROL_ROLES and e["extents"]
                    and e["extents"][2] > 0 and e["extents"][3] > 0
                    and inside(bounds_of(e["extents"]), frame)]
        self.assertGreaterEqual(len(controls), len(PAGE_CONTROLS))
        for control in controls:
            self.assertIn(bounds_of(control["extents"]), recorded, control)
        showing = [bounds_of(e["extents"]) for e in dump if e["showing"] and e["extents"]]
        hidden = [e for e in dump if not e["showing"] and e["extents"]]
        self.assertTrue(hidden, "the browser keeps elements that are not showing")
        for record in elements:
            self.assertIn(record["bounds"], showing, f"a record of nothing showing: {record}")

    def test_2_window_list_and_focus_across_two_windows(self):
        subprocess.run(self.command(PAGE + "#second", second=True), env=self.desktop.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while not self.window_titled("NEVO E2E Second page") and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertIsNotNone(self.window_titled("NEVO E2E Second page"), "no second window")
        self.wait_for_page("NEVO E2E Second page")

        # One entry per window on the desktop: no accessible frame that no X11 window shows.
        # (A browser busy with its new window may miss the window list's time-out for a
        # moment: listed again until it answers, for a bounded time.)
        clients = [w for w in self.desktop.client_windows() if self.desktop.window_pid(w) == self.pid]
        deadline = time.monotonic() + BROWSER_START_SECONDS
        while True:
            reply = self.tool.windows()
            self.assertEqual(reply["status"], "available", reply)
            self.assertEntries(reply["windows"])
            mine = [w for w in reply["windows"] if w["pid"] == self.pid]
            if mine or time.monotonic() > deadline:
                break
            time.sleep(0.5)
        self.assertEqual(len(mine), len(clients), mine)
        first = next(w for w in mine if w["title"].startswith("NEVO E2E Sign in"))
        second = next(w for w in mine if w["title"].startswith("NEVO E2E Second page"))

        for entry in (first, second, first):
            with self.subTest(window=entry["title"]):
                self.assertEqual(self.focus_listed(entry["title"]), {"status": "focused"})
                self.assertActive(self.pid, entry["title"])
                observed = self.observe_page()
                self.assertEqual(observed["window"]["title"], entry["title"])

    def focus_listed(self, title):
        """The window of that title, as the window list has it now, focused. A browser's
        windows are read with the window list's short time-out (0.05 s a request), which a
        browser busy on a loaded machine may miss for one of them: then the list lacks the
        window, or the focus command cannot find it again and says to list the windows
        again. The host then lists them again, and so does this, a few times."""
        reply = None
        for _ in range(FOCUS_ATTEMPTS):
            listed = [w for w in self.tool.windows()["windows"] if w["title"] == title]
            if listed:
                reply = self.tool.focus(listed[0])
                if reply == {"status": "focused"}:
                    return reply
                self.assertEqual(reply, {"reason": WINDOW_CHANGED, "status": "unavailable"})
            time.sleep(0.5)
        return reply

    def test_3_nothing_is_left_registered(self):
        self.tool.observe()
        self.tool.windows()
        events = self.registered_events()
        self.assertIsNotNone(events, "the registry answers")
        self.assertNotIn("window:activate", events)


class Firefox(BrowserCase):
    NAME = "firefox-esr"

    @classmethod
    def prepare_profile(cls, profile):
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.write('user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);\n')

    @classmethod
    def command(cls, url, second=False):
        # The second start hands the URL to the running Firefox of that profile.
        return ["firefox-esr", "--profile", cls.profile, *(["--new-window"] if second else []), url]


class Chromium(BrowserCase):
    NAME = "chromium"

    @classmethod
    def prepare_profile(cls, profile):
        pass

    @classmethod
    def command(cls, url, second=False):
        # The second start hands the URL to the running Chromium of that profile.
        return ["chromium", "--no-sandbox", f"--user-data-dir={cls.profile}", "--no-first-run",
                *(["--new-window"] if second else []), url]

    # Chromium lays an empty panel over its tab strip, and its page's panel spans the title
    # bar: the buttons and the tab under them are still what is at their centres.
    def test_4_title_bar_buttons_and_the_tab_are_hittable(self):
        elements = self.observe_page()["elements"]
        # The tab's name is the page's title and what the tab's hover card adds.
        for name, role in (("Minimize", "button"), ("Maximize", "button"),
                           ("NEVO E2E Sign in", "radio")):
            with self.subTest(control=name):
                found = [r for r in elements if r["name"].startswith(name) and r["role"] == role]
                self.assertEqual(len(found), 1, elements)
                self.assertIs(found[0]["hittable"], True, found[0])
        closes = [r for r in elements if r["name"] == "Close" and r["role"] == "button"]
        self.assertGreaterEqual(len(closes), 2, "the window's and the tab's close buttons")
        self.assertTrue(all(r["hittable"] for r in closes), closes)


class HiddenElements(DesktopTestCase):
    """The test application's window whose first child holds more hidden elements than the
    walk visits: the visible controls after them are all reported, the hidden ones not."""

    @classmethod
    def start_applications(cls):
        cls.app = TestApp(cls.desktop, scene="hidden")

    def setUp(self):
        super().setUp()
        self.tool = LiveTool(self, self.desktop.env, lambda: [("test application", self.app.process)])

    def test_visible_controls_after_hundreds_of_hidden_ones(self):
        reply = self.tool.observe()
        self.assertEqual(reply["status"], "available", reply)
        self.assertEqual(reply["window"]["title"], "NEVO E2E Hidden")
        elements = reply["elements"]
        self.assertRecords(elements, self.app.pid)
        for name, widget in (("Visible label", "label"), ("Apply", "apply"),
                             ("Plain entry", "entry"), ("Remember me", "check"),
                             ("Last visible", "last")):
            with self.subTest(control=name):
                self.assertEqual(self.named(elements, name)["bounds"], self.app.where(widget))
        self.assertEqual([r for r in elements if r["name"].startswith("Hidden")], [])
        self.assertIs(reply["truncated"], False)


if __name__ == "__main__":
    harness.main(__name__)
