#!/usr/bin/env python3
"""A private virtual desktop: an X server, a session bus, the accessibility bus and its
registry, and a window manager, each waited for until it really answers, all torn down
together.

As a command, it runs one command on a fresh desktop and returns that command's status:

    python3 scripts/desktop.py [--test-app PATH] [--widget-factory] -- COMMAND [ARG...]

--widget-factory starts gtk3-widget-factory and --test-app the end-to-end test application
(its full scene) before COMMAND; the test application comes last and so is in front.
COMMAND inherits standard input and output; what the desktop itself has to say goes to
standard error.

As a module (the end-to-end tests):

    with Desktop() as desktop:
        app = desktop.spawn([...])
        desktop.wait_registered(app.pid)
        subprocess.run([...], env=desktop.env)

Nothing outlives the desktop: every process it starts is sent SIGKILL if the process that
owns the desktop dies (SIGKILL also ends a process a test has stopped; the socket file an X
server leaves behind is replaced by the next server on that display), and the owner becomes
a subreaper, so that daemons the desktop's processes start (the accessibility bus, its
registry) are found and ended as well.
"""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36

# Bounds of the waits for each part of the desktop. Each part is usually ready in well under
# a tenth of a second; the bounds are for a loaded machine, and a part that misses its bound
# fails the start with the reason and its log.
START_SECONDS = 20.0
# Bound of an application's start (its windows up, registered, active): the first start of
# GTK on a fresh machine builds its font and icon caches first, which can take a minute.
APP_START_SECONDS = 120.0
POLL_SECONDS = 0.01
# Bound of one dbus-send or xprop run (beyond dbus-send's own reply timeout): one that has
# no answer by then counts as no answer.
COMMAND_SECONDS = 3.0

# Display numbers tried, from the first one that has no lock file.
FIRST_DISPLAY = 81
DISPLAYS_TRIED = 40

SCREEN = "1600x1000x24"
REGISTRY = "org.a11y.atspi.Registry"
REGISTRY_ROOT = "/org/a11y/atspi/accessible/root"

_libc = ctypes.CDLL(None, use_errno=True)


class DesktopError(Exception):
    """The desktop could not be started; the message says which part and why."""


def _die_with_parent(parent_pid, sig):
    """Runs in each child before exec: end with the desktop's owner."""

    def setup():
        _libc.prctl(PR_SET_PDEATHSIG, sig, 0, 0, 0)
        if os.getppid() != parent_pid:  # the owner died before prctl took effect
            os._exit(1)

    return setup


def _descendants(roots):
    """The pids of every living process below the given ones, deepest last."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name is in parentheses and may hold spaces; the parent pid is the
        # second field after it.
        fields = stat[stat.rfind(b")") + 2 :].split()
        children.setdefault(int(fields[1]), []).append(int(entry))
    found, queue = [], list(roots)
    while queue:
        pid = queue.pop(0)
        for child in children.get(pid, []):
            if child not in found:
                found.append(child)
                queue.append(child)
    return found


def _remove_abandoned_directories():
    """Removes the directories of desktops whose owner was killed before it could."""
    base = tempfile.gettempdir()
    for entry in os.listdir(base):
        parts = entry.split("-")
        if entry.startswith("nevo-desktop-") and len(parts) == 4 and parts[2].isdigit():
            try:
                os.kill(int(parts[2]), 0)
            except ProcessLookupError:
                shutil.rmtree(os.path.join(base, entry), ignore_errors=True)
            except PermissionError:
                pass


def _display_taken(number):
    """Whether an X server holds the display. A lock file whose server is gone does not
    count: an Xvfb given -displayfd, as here, starts past it and writes no lock of its own
    (of two started on one display at once, the second cannot listen and exits)."""
    try:
        with open(f"/tmp/.X{number}-lock") as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except FileNotFoundError:
        return False
    except ProcessLookupError:
        return False
    except (OSError, ValueError):
        return True


def _missing(program):
    return shutil.which(program) is None and not os.access(program, os.X_OK)


class Desktop:
    """One private desktop."""

    _live = set()  # the desktops of this process that have started and not stopped

    def __init__(self, accessibility=True):
        # The desktop's accessibility switch (org.a11y.Status IsEnabled), switched on as a
        # user does before starting applications (toolkits such as Qt's read it at start);
        # False leaves it off, as many desktops are until a screen reader has run.
        self.accessibility = accessibility
        self.display = None
        self.bus_address = None
        self.a11y_address = None
        self.env = None
        self.dir = None
        self._processes = []  # (name, Popen), in start order
        self._log_files = []
        self._started_at = None
        self.start_seconds = None

    # -- lifecycle ---------------------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def _pids(self):
        return {p.pid for _, p in self._processes}

    def start(self):
        Desktop._live.add(self)
        self._started_at = time.monotonic()
        _libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        for program in ("Xvfb", "xprop", "dbus-daemon", "dbus-send", "/usr/libexec/at-spi-bus-launcher",
                        "openbox"):
            if _missing(program):
                raise DesktopError(f"{program} is not installed (scripts/setup.sh installs it)")
        _remove_abandoned_directories()
        self.dir = tempfile.mkdtemp(prefix=f"nevo-desktop-{os.getpid()}-")
        try:
            self._start_parts()
        except BaseException:
            self.stop()
            raise
        self.start_seconds = time.monotonic() - self._started_at

    def _start_parts(self):
        runtime = os.path.join(self.dir, "runtime")
        for sub in ("runtime", "config", "cache", "data"):
            os.mkdir(os.path.join(self.dir, sub), 0o700)
        env = {
            k: v
            for k, v in os.environ.items()
            if k
            not in (
                "DISPLAY",
                "WAYLAND_DISPLAY",
                "XAUTHORITY",
                "DBUS_SESSION_BUS_ADDRESS",
                "AT_SPI_BUS_ADDRESS",
                "NO_AT_BRIDGE",
                "GTK_MODULES",
                "GTK_THEME",
                "SESSION_MANAGER",
                "XDG_SESSION_TYPE",
                "XDG_CURRENT_DESKTOP",
            )
        }
        env.update(
            XDG_RUNTIME_DIR=runtime,
            XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
            XDG_CACHE_HOME=os.path.join(self.dir, "cache"),
            XDG_DATA_HOME=os.path.join(self.dir, "data"),
            GDK_BACKEND="x11",
            GDK_SCALE="1",
            GDK_DPI_SCALE="1",
            GSETTINGS_BACKEND="memory",
            GIO_USE_VFS="local",
            LANG="C.UTF-8",
        )
        env.pop("LC_ALL", None)
        self.env = env

        self._start_x_server()
        env["DISPLAY"] = self.display
        self._start_session_bus()
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self._start_accessibility_bus()
        self._start_window_manager()

    def stop(self):
        """Ends everything the desktop started, its daemons included. Safe to call twice."""
        mine = [p for _, p in self._processes if p.poll() is None]
        everyone = _descendants([p.pid for _, p in self._processes]) + [p.pid for p in mine]
        # Every process a test stopped (the X server, the registry, an application) is
        # continued first, so that none is left stopped while the others end and talk to it.
        for pid in everyone:
            self._signal(pid, signal.SIGCONT)
        for _, process in reversed(self._processes):
            if process.poll() is None:
                self._signal(process.pid, signal.SIGTERM)
                self._signal(process.pid, signal.SIGCONT)  # in case it was stopped since
        deadline = time.monotonic() + 3.0
        for _, process in self._processes:
            try:
                process.wait(timeout=max(0.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                self._signal(process.pid, signal.SIGKILL)
                process.wait()
        # Daemons the desktop's processes started: still below one of them, or orphaned and
        # handed to this process (a subreaper), which starts nothing else that outlives a
        # call besides the processes of other desktops.
        others = set().union(*(d._pids() for d in Desktop._live if d is not self))
        adopted = _descendants([os.getpid()])
        survivors = (set(everyone) | set(adopted)) - others - set(_descendants(others))
        survivors -= {p.pid for _, p in self._processes} | {os.getpid()}
        for pid in survivors:
            self._signal(pid, signal.SIGTERM)
            self._signal(pid, signal.SIGCONT)
        deadline = time.monotonic() + 2.0
        while survivors and time.monotonic() < deadline:
            survivors = {pid for pid in survivors if self._alive_or_reap(pid)}
            if survivors:
                time.sleep(POLL_SECONDS)
        for pid in survivors:
            self._signal(pid, signal.SIGKILL)
            self._alive_or_reap(pid)
        for _, process in self._processes:
            for pipe in (process.stdin, process.stdout, process.stderr):
                if pipe is not None:
                    try:
                        pipe.close()
                    except OSError:
                        pass
        self._processes.clear()
        Desktop._live.discard(self)
        for f in self._log_files:
            f.close()
        self._log_files.clear()
        if self.dir is not None:
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None

    @staticmethod
    def _signal(pid, sig):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            pass

    @staticmethod
    def _alive_or_reap(pid):
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
            return done == 0
        except ChildProcessError:  # not our child: alive while it exists
            try:
                os.kill(pid, 0)
                return True
            except ProcessLookupError:
                return False

    # -- processes on the desktop ------------------------------------------------------

    def spawn(self, argv, *, name=None, env=None, **popen_args):
        """Starts a process on the desktop; it ends with the desktop. Standard error goes to
        the desktop's log unless redirected."""
        name = name or os.path.basename(argv[0])
        if "stderr" not in popen_args:
            popen_args["stderr"] = self._log(name)
        process = subprocess.Popen(
            argv,
            env=env if env is not None else self.env,
            # SIGKILL, which also ends a process a test has stopped. The X server gets it too:
            # started with -displayfd it writes no lock file, and the socket file it leaves
            # behind is unlinked and bound anew by the next server on its display.
            preexec_fn=_die_with_parent(os.getpid(), signal.SIGKILL),
            **popen_args,
        )
        self._processes.append((name, process))
        return process

    def process(self, name):
        for n, p in self._processes:
            if n == name:
                return p
        return None

    def daemon(self, command):
        """The pid of a process below the desktop's own whose command name is `command` (as
        the kernel keeps it, at most 15 characters), or None."""
        for pid in _descendants([os.getpid()]):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == command[:15]:
                        return pid
            except OSError:
                pass
        return None

    def _log(self, name):
        f = open(os.path.join(self.dir, f"{name}.log"), "ab")
        self._log_files.append(f)
        return f

    def log_tail(self, name, lines=10):
        try:
            with open(os.path.join(self.dir, f"{name}.log"), errors="replace") as f:
                return "".join(f.readlines()[-lines:]).strip()
        except (OSError, TypeError):
            return ""

    def _fail(self, name, what):
        tail = self.log_tail(name)
        raise DesktopError(f"{what}" + (f"; its log ends with:\n{tail}" if tail else ""))

    def _wait_until(self, name, what, ready, process=None, seconds=START_SECONDS):
        deadline = time.monotonic() + seconds
        while True:
            result = ready()
            if result:
                return result
            if process is not None and process.poll() is not None:
                self._fail(name, f"{what}: {name} exited with status {process.returncode}")
            if time.monotonic() > deadline:
                self._fail(name, f"{what}: not within {seconds:.0f} s")
            time.sleep(POLL_SECONDS)

    # -- the parts ---------------------------------------------------------------------

    def _start_x_server(self):
        """Xvfb on the first free display from FIRST_DISPLAY on; -displayfd says when it
        accepts connections."""
        tried = []
        for number in range(FIRST_DISPLAY, FIRST_DISPLAY + DISPLAYS_TRIED):
            if _display_taken(number):
                continue
            read_end, write_end = os.pipe()
            process = self.spawn(
                ["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                 "-nolisten", "tcp", "-noreset"],
                name="Xvfb",
                stdout=subprocess.DEVNULL,
                pass_fds=(write_end,),
            )
            os.close(write_end)
            answer = b""
            deadline = time.monotonic() + START_SECONDS
            with os.fdopen(read_end, "rb", buffering=0) as pipe:
                while not answer.endswith(b"\n") and time.monotonic() < deadline:
                    readable, _, _ = select.select([pipe], [], [], 0.1)
                    if readable:
                        chunk = pipe.read(64)
                        if not chunk:
                            break  # the server exited
                        answer += chunk
            if answer.strip() == str(number).encode():
                self.display = f":{number}"
                return
            tried.append(number)
            # Another server took the display first (it exits), or this one hangs.
            try:
                process.wait(timeout=START_SECONDS)
            except subprocess.TimeoutExpired:
                self._fail("Xvfb", f"Xvfb on :{number} did not become ready")
            self._processes.remove(("Xvfb", process))
        self._fail("Xvfb", f"Xvfb could not start on any of the displays {tried or 'tried'}")

    def _start_session_bus(self):
        """A session bus that activates nothing, so that no service starts behind a test's
        back (and a bus without the accessibility bus stays without it)."""
        runtime = self.env["XDG_RUNTIME_DIR"]
        config = os.path.join(self.dir, "session.conf")
        with open(config, "w") as f:
            f.write(
                '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"\n'
                ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                "<busconfig>\n"
                "  <type>session</type>\n"
                f"  <listen>unix:path={runtime}/bus</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                '  <policy context="default">\n'
                '    <allow send_destination="*" eavesdrop="true"/>\n'
                '    <allow eavesdrop="true"/>\n'
                '    <allow own="*"/>\n'
                "  </policy>\n"
                "</busconfig>\n"
            )
        read_end, write_end = os.pipe()
        process = self.spawn(
            ["dbus-daemon", f"--config-file={config}", "--nofork", "--nopidfile", "--nosyslog",
             f"--print-address={write_end}"],
            name="session-bus",
            stdout=subprocess.DEVNULL,
            pass_fds=(write_end,),
        )
        os.close(write_end)
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            readable, _, _ = select.select([pipe], [], [], START_SECONDS)
            line = pipe.readline().decode().strip() if readable else ""
        if not line:
            self._fail("session-bus", "the session bus did not start" +
                       ("" if process.poll() is None else f" (status {process.returncode})"))
        self.bus_address = line

    def _dbus_send(self, bus, destination, path, method, *arguments, timeout_ms=2000):
        """The reply as dbus-send prints it, or None when there is none in time (a bus that
        does not answer at all may keep dbus-send waiting past its reply timeout)."""
        try:
            result = subprocess.run(
                ["dbus-send", f"--bus={bus}", f"--reply-timeout={timeout_ms}",
                 "--print-reply=literal", f"--dest={destination}", path, method, *arguments],
                env=self.env,
                capture_output=True,
                text=True,
                timeout=timeout_ms / 1000 + COMMAND_SECONDS,
            )
        except subprocess.TimeoutExpired:
            return None
        return result.stdout.strip() if result.returncode == 0 else None

    def _start_accessibility_bus(self):
        """The bus launcher, then the registry on the bus it launched (started there on first
        use)."""
        process = self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                             name="a11y-bus", stdout=subprocess.DEVNULL)
        self.a11y_address = self._wait_until(
            "a11y-bus",
            "the accessibility bus did not start",
            lambda: self._dbus_send(self.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                                    "org.a11y.Bus.GetAddress"),
            process,
        )
        self._wait_until(
            "a11y-bus",
            "the accessibility registry did not answer",
            lambda: self.registered_pids() is not None,
            process,
        )
        if self.accessibility:
            self.set_accessibility(True)

    def accessibility_enabled(self):
        """The desktop's accessibility switch as the launcher tells it, or None."""
        reply = self._dbus_send(self.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                                "org.freedesktop.DBus.Properties.Get", "string:org.a11y.Status",
                                "string:IsEnabled")
        return None if reply is None else reply.split()[-1] == "true"

    def set_accessibility(self, enabled):
        """Switches the desktop's accessibility on or off, the way a desktop's settings do
        (GNOME's toolkit-accessibility key sets this same property)."""
        value = "true" if enabled else "false"
        self._dbus_send(self.bus_address, "org.a11y.Bus", "/org/a11y/bus",
                        "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                        "string:IsEnabled", f"variant:boolean:{value}")
        self._wait_until("a11y-bus", f"the accessibility switch did not turn {value}",
                         lambda: self.accessibility_enabled() is enabled,
                         self.process("a11y-bus"))

    def _start_window_manager(self):
        process = self.spawn(["openbox", "--sm-disable"], name="openbox", stdout=subprocess.DEVNULL)
        self._wait_until(
            "openbox",
            "openbox did not take over the screen",
            lambda: self.root_property("_NET_SUPPORTING_WM_CHECK") is not None,
            process,
        )

    # -- looking at the desktop --------------------------------------------------------

    def registered_pids(self):
        """The process ids of the applications the accessibility registry knows, or None
        when the registry does not answer."""
        children = self._dbus_send(self.a11y_address, REGISTRY, REGISTRY_ROOT,
                                   "org.a11y.atspi.Accessible.GetChildren")
        if children is None:
            return None
        pids = []
        for token in children.split():
            if token.startswith(":"):
                pid = self._dbus_send(self.a11y_address, "org.freedesktop.DBus",
                                      "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                      f"string:{token}")
                if pid is not None:
                    pids.append(int(pid.split()[-1]))
        return pids

    def wait_registered(self, pid, name="application"):
        """Waits until the application of `pid` has registered with the accessibility
        registry and has a window managed by the window manager."""
        process = next((p for _, p in self._processes if p.pid == pid), None)
        self._wait_until(name, f"{name} did not register with the accessibility registry",
                         lambda: pid in (self.registered_pids() or []), process,
                         APP_START_SECONDS)
        self._wait_until(name, f"{name} did not map a window",
                         lambda: any(self.window_pid(w) == pid for w in self.client_windows()),
                         process, APP_START_SECONDS)

    def xprop(self, *arguments):
        """What xprop prints, or None when it fails or the X server does not answer in time."""
        try:
            result = subprocess.run(["xprop", "-display", self.display, *arguments],
                                    capture_output=True, text=True, env=self.env,
                                    timeout=COMMAND_SECONDS)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 else None

    def root_property(self, name):
        """The value of a root window property as xprop prints it, or None when unset."""
        out = self.xprop("-root", "-notype", name)
        if out is None or "not found" in out or "no such atom" in out:
            return None
        return out.split("=", 1)[-1].strip() if "=" in out else out.split(":", 1)[-1].strip()

    def client_windows(self):
        value = self.root_property("_NET_CLIENT_LIST")
        if not value or "#" not in value:
            return []
        return [int(w, 16) for w in value.split("#", 1)[1].replace(",", " ").split()]

    def window_property(self, window, name):
        out = self.xprop("-id", hex(window), "-notype", name)
        if out is None or "not found" in out or "=" not in out:
            return None
        return out.split("=", 1)[1].strip()

    def window_pid(self, window):
        value = self.window_property(window, "_NET_WM_PID")
        return int(value) if value and value.isdigit() else None

    def window_title(self, window):
        value = self.window_property(window, "_NET_WM_NAME")
        return value[1:-1] if value and value.startswith('"') else value

    def window_rectangle(self, window):
        """A client window's rectangle on the screen, as X11 has it (xwininfo), or None."""
        try:
            out = subprocess.run(["xwininfo", "-display", self.display, "-id", str(window)],
                                 env=self.env, capture_output=True, text=True,
                                 timeout=COMMAND_SECONDS).stdout
        except subprocess.TimeoutExpired:
            return None
        fields = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            fields[key] = value.strip()
        try:
            return {"x": float(fields["Absolute upper-left X"]),
                    "y": float(fields["Absolute upper-left Y"]),
                    "width": float(fields["Width"]), "height": float(fields["Height"])}
        except (KeyError, ValueError):
            return None

    def active_window(self):
        """The window the window manager has activated, or None."""
        value = self.root_property("_NET_ACTIVE_WINDOW")
        if not value or "#" not in value:
            return None
        window = int(value.split("#", 1)[1].split(",")[0], 16)
        return window or None

    def wait_active(self, pid, name="application"):
        """Waits until a window of `pid` is the active window."""
        self._wait_until(name, f"no window of {name} became active",
                         lambda: (w := self.active_window()) is not None and self.window_pid(w) == pid,
                         seconds=APP_START_SECONDS)


def teardown_on_signals():
    """Turns SIGTERM, SIGINT and SIGHUP into SystemExit, so that `with Desktop()` blocks end
    and tear the desktop down when the test or the demo is stopped."""

    def handler(signum, _frame):
        # Once: a second signal must not cut the teardown that the first one started.
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)
        raise SystemExit(128 + signum)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, handler)


def _test_app_ready(app, seconds=APP_START_SECONDS):
    """The test application writes "ready <pid>" once its windows are in place (it gives up
    itself, a little before `seconds`, saying what it waited for)."""
    readable, _, _ = select.select([app.stdout], [], [], seconds + COMMAND_SECONDS)
    line = app.stdout.readline().decode().strip() if readable else ""
    if not line.startswith("ready"):
        raise DesktopError("the test application did not become ready (its windows shown, "
                           "placed and the first one active) within "
                           f"{seconds:.0f} s: {line or 'no answer'}")


def main(argv):
    arguments = argv[1:]
    if "--" not in arguments:
        print(__doc__, file=sys.stderr)
        return 2
    split = arguments.index("--")
    options, command = arguments[:split], arguments[split + 1:]
    test_app, widget_factory = None, False
    while options:
        option = options.pop(0)
        if option == "--test-app" and options:
            test_app = options.pop(0)
        elif option == "--widget-factory":
            widget_factory = True
        else:
            print(f"desktop.py: unknown option {option}", file=sys.stderr)
            return 2
    if not command:
        print("desktop.py: no command given", file=sys.stderr)
        return 2
    teardown_on_signals()
    try:
        with Desktop() as desktop:
            print(f"desktop.py: virtual desktop on {desktop.display} ready in "
                  f"{desktop.start_seconds:.2f} s", file=sys.stderr)
            if widget_factory:
                factory = desktop.spawn(["gtk3-widget-factory"], name="widget-factory",
                                        stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
                desktop.wait_registered(factory.pid, "gtk3-widget-factory")
                desktop.wait_active(factory.pid, "gtk3-widget-factory")
            if test_app:
                # The application ends when its standard input closes: this pipe stays open
                # for as long as the desktop runs.
                app = desktop.spawn([test_app, "--scene", "full",
                                     "--startup-seconds", str(APP_START_SECONDS)], name="test-app",
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                _test_app_ready(app)
                desktop.wait_registered(app.pid, "the test application")
                desktop.wait_active(app.pid, "the test application")
            # The command ends with the desktop too, should this process be killed.
            return desktop.spawn(command, name="command", stderr=None).wait()
    except DesktopError as error:
        print(f"desktop.py: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
