"""What every end-to-end test needs: the tool run as the host runs it, with the checks that
hold for every reply, the test application steered through its command lines, and the
shapes of element records and window entries."""

import ctypes
import functools
import json
import os
import select
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))

import desktop as desktop_module  # noqa: E402  (scripts/desktop.py)
import jsonschema  # noqa: E402  (Debian's python3-jsonschema)

Desktop = desktop_module.Desktop
DesktopError = desktop_module.DesktopError

# Set from the command line by e2e_test.py: the tool, and the test application of each
# toolkit (TEST_APP is GTK 3's).
BINARY = None
TEST_APP = None
TOOLKITS = ("gtk3", "gtk4", "qt5", "qt6")
TEST_APPS = {}
# Processes a test ended itself (TestApp.stop): not counted as deaths.
ENDED_ON_PURPOSE = set()

# The test application's password text: no output of any command may hold it.
PASSWORD_TEXT = "hunter2-e2e"

DENIED = "需要为 NEVO 开启辅助功能权限。"
DENIED_OBSERVATION = '{"elements":[],"reason":"%s","status":"denied"}\n' % DENIED
DENIED_WINDOWS = '{"reason":"%s","status":"denied","windows":[]}\n' % DENIED
DENIED_FOCUS = '{"reason":"%s","status":"denied"}\n' % DENIED
APPLICATION_CHANGED = "目标应用已变化，请重新获取窗口列表。"
WINDOW_CHANGED = "目标窗口已变化，请重新获取窗口列表。"
AMBIGUOUS = "目标窗口已变化，或存在同名同位置的窗口。请先移动或重命名窗口以便区分，再重新获取窗口列表。"
STATE_CHANGED = "目标窗口位置、标题或状态已变化，请重新获取窗口列表。"

STATUSES = {"available", "unavailable", "denied", "focused"}
RECORD_KEYS = {"bounds", "enabled", "focused", "hasValue", "hittable", "id", "identifier", "name",
               "protected", "role", "value"}
ENTRY_KEYS = {"appName", "bounds", "id", "isFrontmost", "isMinimized", "pid", "title"}
BOUNDS_KEYS = {"height", "width", "x", "y"}

# No run may take longer than this, whatever the command: past it the tool hangs.
HANG_SECONDS = 30.0

SCHEMA_DIRECTORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                                "schema")


def _validator(name):
    with open(os.path.join(SCHEMA_DIRECTORY, name + ".schema.json"), encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(schema)


# The reply schema of each argument list: the three commands, and anything else.
VALIDATORS = {(): _validator("observation"), ("--windows",): _validator("windows"),
              ("--focus",): _validator("focus")}
UNSUPPORTED_VALIDATOR = _validator("unsupported")


class Run:
    """One run of the tool: what it was given, what it wrote, how long it took."""

    def __init__(self, arguments, stdin, completed, seconds):
        self.arguments = arguments
        self.stdin = stdin
        self.stdout = completed.stdout
        self.stderr = completed.stderr
        self.status = completed.returncode
        self.seconds = seconds
        self.line = self.stdout.decode("utf-8", errors="replace")
        self.reply = None

    def describe(self):
        return (f"nevo-desktop-accessibility {' '.join(self.arguments)} "
                f"(stdin {self.stdin!r}) exited {self.status} after {self.seconds:.2f} s\n"
                f"stdout: {self.line!r}\nstderr: {self.stderr.decode(errors='replace')!r}")


class Tool:
    """The binary, run on one desktop's environment (or any other) like the host runs it:
    standard input closed after the entry, or empty; one line expected back."""

    def __init__(self, test, env):
        self.test = test
        self.env = env
        self.runs = []
        self.alive_after = []  # (name, process) alive when the last command ended

    def run(self, *arguments, stdin=None, env=None, during=None):
        """Runs the tool to its end; `during`, if given, is called once it has started.
        Every process of the desktop that was alive before the command (each application,
        stopped ones included) must be alive after it."""
        desktop = getattr(self.test, "desktop", None)
        processes = list(getattr(desktop, "_processes", []))
        # An application may also die just after a command, as the tool's connection closes:
        # what was alive when the last command ended must still be, unless a test ended it.
        ended = ENDED_ON_PURPOSE
        gone = [f"{name} (pid {p.pid}, status {p.returncode})"
                for name, p in self.alive_after if p.poll() is not None and p.pid not in ended]
        self.test.assertEqual(gone, [], "died after the command before: " +
                              (self.runs[-1].describe() if self.runs else "none"))
        alive_before = [(name, p) for name, p in processes if p.poll() is None]
        started = time.monotonic()
        read_end, write_end = os.pipe()
        try:
            process = subprocess.Popen([BINARY, *arguments], stdin=read_end,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       env=env if env is not None else self.env)
        except BaseException:
            os.close(write_end)
            raise
        finally:
            os.close(read_end)
        # Standard input is written and closed before `during`, so that what `during` does
        # (stopping a peer) meets the tool at work rather than waiting for its input. An
        # entry is far smaller than a pipe holds: the write does not wait for the tool.
        try:
            with open(write_end, "wb") as pipe:
                pipe.write(stdin.encode() if stdin is not None else b"")
        except BrokenPipeError:
            pass  # the tool ended without reading its input; its reply is checked below
        if during is not None:
            during()
        try:
            stdout, stderr = process.communicate(timeout=HANG_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.test.fail(f"nevo-desktop-accessibility {' '.join(arguments)} did not answer "
                           f"within {HANG_SECONDS:.0f} s")
        completed = subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)
        run = Run(list(arguments), stdin, completed, time.monotonic() - started)
        self.runs.append(run)
        self.check(run)
        died = [f"{name} (pid {p.pid}, status {p.returncode})"
                for name, p in alive_before if p.poll() is not None]
        self.test.assertEqual(died, [], "died during the command: " + run.describe())
        self.alive_after = [(name, p) for name, p in processes if p.poll() is None]
        return run

    def check(self, run):
        """What holds for every reply: exit status 0, nothing on standard error, exactly one
        line holding one JSON object with a known status, and never the password."""
        t = self.test
        t.assertEqual(run.status, 0, run.describe())
        t.assertEqual(run.stderr, b"", run.describe())
        t.assertTrue(run.stdout.endswith(b"\n") and run.stdout.count(b"\n") == 1,
                     "not exactly one line: " + run.describe())
        t.assertNotIn(PASSWORD_TEXT.encode(), run.stdout, "the password leaked: " + run.describe())
        try:
            run.reply = json.loads(run.stdout)
        except ValueError as error:
            t.fail(f"not JSON ({error}): " + run.describe())
        t.assertIsInstance(run.reply, dict, run.describe())
        t.assertIn(run.reply.get("status"), STATUSES, run.describe())
        validator = VALIDATORS.get(tuple(run.arguments), UNSUPPORTED_VALIDATOR)
        problems = [f"{'/'.join(map(str, error.absolute_path))}: {error.message}"
                    for error in validator.iter_errors(run.reply)]
        t.assertEqual(problems, [], "the reply does not match its schema: " + run.describe())
        if run.reply["status"] in ("unavailable", "denied"):
            t.assertIsInstance(run.reply.get("reason"), str, run.describe())

    def observe(self, **kwargs):
        return self.run(**kwargs).reply

    def windows(self, **kwargs):
        return self.run("--windows", **kwargs).reply

    def focus(self, entry, **kwargs):
        text = entry if isinstance(entry, str) else json.dumps(entry, ensure_ascii=False)
        return self.run("--focus", stdin=text, **kwargs).reply


def toolkit_env(desktop, toolkit):
    """The environment in which an application of `toolkit` ("gtk3", "gtk4", "qt5", "qt6")
    starts on the desktop as it does in a user's X11 session: it finds the accessibility bus
    through the session bus (Qt 6.4 exposes nothing when AT_SPI_BUS_ADDRESS is set), GTK on
    its X11 backend, GTK 4 with its cairo renderer (Xvfb has no GPU for its GL renderer), Qt
    on its xcb platform."""
    env = dict(desktop.env)
    env.pop("AT_SPI_BUS_ADDRESS", None)
    if toolkit in ("gtk3", "gtk4"):
        env["GDK_BACKEND"] = "x11"
    if toolkit == "gtk4":
        env["GSK_RENDERER"] = "cairo"
    if toolkit in ("qt5", "qt6"):
        env["QT_QPA_PLATFORM"] = "xcb"
    return env


def accessibility_switch(desktop):
    """The desktop's accessibility switch (org.a11y.Status IsEnabled): True, False, or None
    when the accessibility bus does not answer."""
    return desktop.accessibility_enabled()


@functools.lru_cache(maxsize=None)
def _xtest():
    """libX11 and libXtst (Debian's libxtst6), loaded once, with the signatures used here."""
    x11, xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    # (display, screen, x, y, delay) and (display, button, pressed, delay)
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                          ctypes.c_ulong]
    return x11, xtst


def click(desktop, x, y):
    """A real click of the first mouse button at (x, y) on the desktop's screen, through the X
    server's XTEST extension: the toolkit gets it as it gets a user's."""
    x11, xtst = _xtest()
    display = x11.XOpenDisplay(desktop.display.encode())
    if not display:
        raise DesktopError(f"cannot open display {desktop.display}")
    try:
        xtst.XTestFakeMotionEvent(display, -1, int(x), int(y), 0)
        xtst.XTestFakeButtonEvent(display, 1, 1, 0)
        xtst.XTestFakeButtonEvent(display, 1, 0, 0)
        x11.XSync(display, 0)
    finally:
        x11.XCloseDisplay(display)


def app_answer(process, seconds):
    """The next line the test application `process` writes, or what kept it from coming."""
    readable, _, _ = select.select([process.stdout], [], [], seconds)
    if not readable:
        return f"no answer within {seconds} s"
    line = process.stdout.readline().decode().strip()
    return line or f"no answer (exit status {process.poll()})"


def app_command(process, line):
    """Sends the test application `process` one of its line commands; the answer after
    "ok"."""
    process.stdin.write(line.encode() + b"\n")
    process.stdin.flush()
    answer = app_answer(process, 10)
    if not answer.startswith("ok"):
        raise AssertionError(f"test application command {line!r}: {answer}")
    return answer[2:].strip()


# The test application's controls that take the keyboard focus when a click reaches them:
# the record's role and name, and the control's name in the test application.
CLICKED = (("button", "Apply", "apply"), ("textbox", "Plain entry", "entry"),
           ("checkbox", "Remember me", "check"), ("slider", "Volume", "slider"),
           ("button", "Covered", "covered"), ("button", "Underneath", "underneath"),
           ("button", "On top", "ontop"), ("button", "After deep", "after"))


def click_focuses(desktop, command, point, widget, seconds=5.0):
    """Whether a real click at `point` gives the test application's control `widget` the
    keyboard focus, as a click does on any control of CLICKED that it reaches. `command`
    sends the application one of its line commands and returns the answer after "ok"; where
    `widget` has the focus already, it is first moved to another control of the main
    window. The answer is no as soon as the click gives the focus to another control, or
    once `seconds` have passed with the focus where it was (the click went to what takes no
    focus)."""
    before = command("focused")
    if before == widget:
        before = "apply" if widget != "apply" else "entry"
        command(f"focus main {before}")
    click(desktop, *point)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        now = command("focused")
        if now != before:
            return now == widget
        time.sleep(0.05)
    return False


class TestApp:
    """The test application (tests/e2e/app) of one toolkit, started on a desktop; `command`
    sends one of its line commands and returns the answer after "ok".

    It is ready when it says so (its windows are in place) and the accessibility registry
    knows it; with `registered` False (a desktop whose accessibility switch is off, where
    Qt never registers) only the first is waited for."""

    def __init__(self, desktop, scene="full", prefix="NEVO E2E", toolkit="gtk3", registered=True):
        self.desktop = desktop
        self.prefix = prefix
        self.toolkit = toolkit
        path = TEST_APPS.get(toolkit) or (TEST_APP if toolkit == "gtk3" else None)
        if path is None:
            raise DesktopError(f"no test application for {toolkit} (e2e_test.py --app-{toolkit})")
        if registered and toolkit.startswith("qt") and accessibility_switch(desktop) is not True:
            raise DesktopError(f"the {toolkit} test application would never register: the "
                               "desktop's accessibility switch (org.a11y.Status IsEnabled) is off")
        self.process = desktop.spawn([path, "--scene", scene, "--prefix", prefix],
                                     name=f"test-app-{toolkit}-{prefix.replace(' ', '-')}",
                                     env=toolkit_env(desktop, toolkit),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.pid = self.process.pid
        ready = self._answer(desktop_module.START_SECONDS)
        if not ready.startswith("ready"):
            raise DesktopError(f"the {toolkit} test application ({prefix}) did not start: {ready}")
        if registered:
            desktop.wait_registered(self.pid, f"the {toolkit} test application ({prefix})")

    def alive(self):
        """Whether the application is still running."""
        return self.process.poll() is None

    def _answer(self, seconds):
        return app_answer(self.process, seconds)

    def command(self, line):
        return app_command(self.process, line)

    def rectangle(self, line):
        x, y, width, height = (float(v) for v in self.command(line).split())
        return {"x": x, "y": y, "width": width, "height": height}

    def frame(self, window):
        """The window's frame on the screen, decorations included."""
        return self.rectangle(f"frame {window}")

    def where(self, widget):
        """A control's frame on the screen."""
        return self.rectangle(f"where {widget}")

    def title(self, window):
        return f"{self.prefix} {window.capitalize()}"

    def click_focuses(self, point, widget):
        return click_focuses(self.desktop, self.command, point, widget)

    def stop(self):
        ENDED_ON_PURPOSE.add(self.pid)
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class DesktopTestCase(unittest.TestCase):
    """A test class whose tests share one desktop, started before the first test; a desktop
    that cannot start fails every test of the class with the reason."""

    desktop = None
    # The desktop's accessibility switch, on as a user who uses NEVO has it.
    accessibility = True

    @classmethod
    def setUpClass(cls):
        cls.desktop = Desktop(accessibility=cls.accessibility)
        try:
            cls.desktop.start()
        except DesktopError as error:
            cls.desktop = None
            raise AssertionError(f"the virtual desktop did not start: {error}") from None
        sys.stderr.write(f"\n[desktop on {cls.desktop.display} ready in "
                         f"{cls.desktop.start_seconds:.2f} s] ")
        try:
            cls.start_applications()
        except BaseException as error:
            cls.desktop.stop()
            cls.desktop = None
            if isinstance(error, DesktopError):
                raise AssertionError(str(error)) from None
            raise

    @classmethod
    def start_applications(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        if cls.desktop is not None:
            cls.desktop.stop()
            cls.desktop = None

    def setUp(self):
        self.tool = Tool(self, self.desktop.env)

    # -- shapes --------------------------------------------------------------------------

    def assertWithin(self, bounds, frame):
        """A window's bounds inside a frame (decorations, or a border the window draws
        itself, around them) and covering most of it."""
        self.assertBounds(bounds, "window")
        self.assertTrue(frame["x"] <= bounds["x"] and frame["y"] <= bounds["y"] and
                        bounds["x"] + bounds["width"] <= frame["x"] + frame["width"] and
                        bounds["y"] + bounds["height"] <= frame["y"] + frame["height"] and
                        bounds["width"] * bounds["height"] > 0.8 * frame["width"] * frame["height"],
                        (bounds, frame))

    def assertBounds(self, bounds, context):
        self.assertIsInstance(bounds, dict, context)
        self.assertEqual(set(bounds), BOUNDS_KEYS, context)
        for key in BOUNDS_KEYS:
            self.assertIsInstance(bounds[key], (int, float), context)
            self.assertNotIsInstance(bounds[key], bool, context)

    def assertRecords(self, elements, pid):
        """Every element record has its 11 keys with their types, an id of its application
        and a unique path, and a frame of positive size; at most one is the focused one and
        it comes first."""
        self.assertIsInstance(elements, list)
        ids = set()
        for index, record in enumerate(elements):
            context = f"record {index}: {record}"
            self.assertEqual(set(record), RECORD_KEYS, context)
            for key in ("enabled", "focused", "hasValue", "hittable", "protected"):
                self.assertIsInstance(record[key], bool, context)
            for key in ("id", "identifier", "name", "role", "value"):
                self.assertIsInstance(record[key], str, context)
            self.assertBounds(record["bounds"], context)
            self.assertGreater(record["bounds"]["width"], 0, context)
            self.assertGreater(record["bounds"]["height"], 0, context)
            prefix, _, path = record["id"].partition(":")
            self.assertEqual(prefix, str(pid), context)
            self.assertTrue(path == "focus" or path == "w" or path.startswith("w."), context)
            self.assertNotIn(record["id"], ids, context)
            ids.add(record["id"])
            if record["protected"]:
                self.assertEqual((record["name"], record["value"], record["hasValue"],
                                  record["hittable"]), ("", "", False, False), context)
            if record["role"] in ("textbox", "combobox"):
                self.assertEqual(record["value"], "", context)
            if not record["enabled"]:
                self.assertFalse(record["hittable"], context)
            self.assertEqual(record["focused"], path == "focus", context)
        focused = [r for r in elements if r["focused"]]
        self.assertLessEqual(len(focused), 1)
        if focused:
            self.assertIs(elements[0], focused[0], "the focused element's record comes first")

    def assertEntries(self, windows):
        """Every window entry has its 7 keys with their types and an id of its pid and index,
        and no id is listed twice."""
        self.assertIsInstance(windows, list)
        ids = set()
        for entry in windows:
            context = f"entry {entry}"
            self.assertEqual(set(entry), ENTRY_KEYS, context)
            self.assertIsInstance(entry["pid"], int, context)
            self.assertNotIsInstance(entry["pid"], bool, context)
            pid, _, index = entry["id"].partition(":")
            self.assertEqual(pid, str(entry["pid"]), context)
            self.assertTrue(index.isdigit() and str(int(index)) == index, context)
            self.assertNotIn(entry["id"], ids, context)
            ids.add(entry["id"])
            for key in ("appName", "title"):
                self.assertIsInstance(entry[key], str, context)
            for key in ("isFrontmost", "isMinimized"):
                self.assertIsInstance(entry[key], bool, context)
            self.assertBounds(entry["bounds"], context)
        self.assertLessEqual(sum(e["isFrontmost"] for e in windows), 1, "one frontmost window at most")

    # -- lookups -------------------------------------------------------------------------

    def named(self, elements, name):
        found = [r for r in elements if r["name"] == name]
        self.assertEqual(len(found), 1, f"one record named {name!r} in {elements}")
        return found[0]

    def entry(self, windows, pid, title):
        found = [w for w in windows if w["pid"] == pid and w["title"] == title]
        self.assertEqual(len(found), 1, f"one entry of {pid} titled {title!r} in {windows}")
        return found[0]

    def observe_once_answering(self, seconds=5.0):
        """An observation of an application that was just continued: it first works through
        the requests it was sent while stopped, so an observation is repeated while it has no
        window, for at most `seconds`."""
        deadline = time.monotonic() + seconds
        reply = self.tool.observe()
        while "window" not in reply and time.monotonic() < deadline:
            time.sleep(0.1)
            reply = self.tool.observe()
        return reply

    def assertActive(self, pid, title):
        """The window manager agrees: a window of `pid` with that title is the active one."""
        window = self.desktop.active_window()
        self.assertIsNotNone(window, "no active window")
        self.assertEqual((self.desktop.window_pid(window), self.desktop.window_title(window)),
                         (pid, title))


def stop_process(pid):
    """Kills a process of the desktop and, when it is this process's child (the desktop's
    owner adopts its orphans), reaps it."""
    ENDED_ON_PURPOSE.add(pid)
    try:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except (ProcessLookupError, ChildProcessError):
        pass


def stop_on_signals():
    """SIGTERM, SIGINT or SIGHUP ends the run at once: every live desktop is stopped and the
    process exits with 128 + the signal's number. (Raised as SystemExit in the middle of a
    test, the signal would count as that test's error and the run would go on.)"""

    def handler(signum, _frame):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)
        try:
            for desktop in list(Desktop._live):
                desktop.stop()
        finally:
            sys.stderr.write(f"e2e: stopped by signal {signum}\n")
            sys.stderr.flush()
            os._exit(128 + signum)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, handler)


def main(module):
    """Runs the tests of `module` (a test script's __name__) with the binary and the test
    applications named on the command line."""
    global BINARY, TEST_APP
    arguments = sys.argv[1:]
    rest = []
    while arguments:
        argument = arguments.pop(0)
        if argument == "--binary":
            BINARY = os.path.abspath(arguments.pop(0))
        elif argument == "--app":
            TEST_APP = os.path.abspath(arguments.pop(0))
            TEST_APPS["gtk3"] = TEST_APP
        elif argument.startswith("--app-") and argument[len("--app-"):] in TOOLKITS:
            TEST_APPS[argument[len("--app-"):]] = os.path.abspath(arguments.pop(0))
        else:
            rest.append(argument)
    if not BINARY or not TEST_APP:
        sys.exit(f"usage: {os.path.basename(sys.argv[0])} --binary PATH --app PATH [--app-gtk4 PATH] "
                 "[--app-qt5 PATH] [--app-qt6 PATH] [unittest arguments]")
    stop_on_signals()
    started = time.monotonic()
    program = unittest.main(module=module, argv=[sys.argv[0], "-v", *rest], exit=False)
    sys.stderr.write(f"e2e: {time.monotonic() - started:.1f} s\n")
    sys.exit(0 if program.result.wasSuccessful() else 1)
