#!/usr/bin/env python3
"""Two builds of the tool, side by side on the same desktops: every reply must be the same.

    python3 bench/linux/compare_replies.py BEFORE AFTER TEST_APP

On one desktop (displays :71 to :79) with gtk3-widget-factory and then the end-to-end test
application in front, each build observes and lists the windows, alternately, a few times.
Then, on a fresh desktop, every listed window is focused in turn, first by one build, then by
the other; after each focus both builds observe and list the windows, and the focus replies
of the two passes are compared; last, stale entries and input that is not an entry.
Prints the differences and exits 1 when there are any.
"""

import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))

import desktop as desktop_module  # noqa: E402  (scripts/desktop.py)

desktop_module.FIRST_DISPLAY = 71
desktop_module.DISPLAYS_TRIED = 9

ROUNDS = 3
SETTLE_TRIES = 40
SETTLE_SECONDS = 0.1


def run(binary, env, *arguments, stdin=b""):
    done = subprocess.run([binary, *arguments], input=stdin, capture_output=True, env=env,
                          timeout=30)
    if done.stderr or done.returncode != 0:
        return f"status {done.returncode} stderr {done.stderr!r} stdout {done.stdout!r}"
    return done.stdout.decode()


def start_scene(desktop, test_app):
    factory = desktop.spawn(["gtk3-widget-factory"], name="widget-factory",
                            stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    desktop.wait_registered(factory.pid, "gtk3-widget-factory")
    desktop.wait_active(factory.pid, "gtk3-widget-factory")
    return factory


def start_test_app(desktop, test_app):
    app = desktop.spawn([test_app, "--scene", "full"], name="test-app", stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE)
    desktop_module._test_app_ready(app)
    desktop.wait_registered(app.pid, "the test application")
    desktop.wait_active(app.pid, "the test application")
    return app


def side_by_side(before, after, test_app):
    """Observation and window list, alternately, on one desktop."""
    differences = []
    with desktop_module.Desktop() as desktop:
        start_scene(desktop, test_app)
        for scene in ("widget factory", "test application"):
            if scene == "test application":
                start_test_app(desktop, test_app)
            for arguments in ((), ("--windows",)):
                seen = {before: set(), after: set()}
                for _ in range(ROUNDS):
                    for binary in (before, after):
                        seen[binary].add(run(binary, desktop.env, *arguments))
                label = f"{scene}: {' '.join(arguments) or 'observation'}"
                if seen[before] != seen[after]:
                    differences.append((label, seen[before], seen[after]))
                print(f"{label}: {'same' if seen[before] == seen[after] else 'DIFFERENT'} "
                      f"({len(seen[before])} distinct replies before, {len(seen[after])} after)")
    return differences


def settle(binary, env):
    """Waits until the window manager has finished moving windows (a restored window slides
    into place): two window lists in a row the same."""
    last = None
    for _ in range(SETTLE_TRIES):
        time.sleep(SETTLE_SECONDS)
        now = run(binary, env, "--windows")
        if now == last:
            return
        last = now


def both(before, after, env, *arguments, stdin=b""):
    """One command run by each build on the same state: the two replies, and whether they are
    the same."""
    a = run(before, env, *arguments, stdin=stdin)
    b = run(after, env, *arguments, stdin=stdin)
    return a, a == b


def focus_sequence(before, after, test_app):
    """Every listed window focused in turn, first by one build, then by the other, on one
    desktop. After each focus both builds observe and list the windows (the same state, so
    the same replies); the focus replies of the two passes must be the same."""
    differences = []
    replies = {before: [], after: []}
    with desktop_module.Desktop() as desktop:
        start_scene(desktop, test_app)
        app = start_test_app(desktop, test_app)
        # The password field holds the focus: its record must stay protected.
        app.stdin.write(b"focus main password\n")
        app.stdin.flush()
        app.stdout.readline()
        first, same = both(before, after, desktop.env, "--windows")
        if not same:
            differences.append("first window list")
        titles = [w["title"] for w in json.loads(first).get("windows", [])]
        for binary in (before, after):
            # Each pass starts from the same state: one window minimized, the main window
            # in front.
            for command in (b"minimize mini\n", b"raise main\n"):
                app.stdin.write(command)
                app.stdin.flush()
                app.stdout.readline()
            settle(before, desktop.env)
            for title in titles:
                listed, same = both(before, after, desktop.env, "--windows")
                if not same:
                    differences.append(f"window list before focusing {title}")
                entry = next(w for w in json.loads(listed)["windows"] if w["title"] == title)
                reply = run(binary, desktop.env, "--focus", stdin=json.dumps(entry).encode())
                replies[binary].append(f"{title}: {reply.strip()}")
                settle(before, desktop.env)
                for arguments in ((), ("--windows",)):
                    _, same = both(before, after, desktop.env, *arguments)
                    if not same:
                        differences.append(f"{' '.join(arguments) or 'observation'} after "
                                           f"focusing {title}")
        # Entries whose window has gone or changed, and input that is not an entry.
        app.stdin.write(b"close second\n")
        app.stdin.flush()
        app.stdout.readline()
        for entry in json.loads(first).get("windows", []):
            _, same = both(before, after, desktop.env, "--focus", stdin=json.dumps(entry).encode())
            if not same:
                differences.append(f"stale entry {entry['title']}")
        _, same = both(before, after, desktop.env, "--focus", stdin=b"{}")
        if not same:
            differences.append("input that is not an entry")
    if replies[before] != replies[after]:
        differences.append(f"focus replies: {replies[before]} against {replies[after]}")
    print(f"focus sequence ({len(titles)} windows, each focused by both builds): "
          f"{'same' if not differences else 'DIFFERENT'}")
    return differences


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    before, after, test_app = (os.path.abspath(a) for a in argv[1:])
    desktop_module.teardown_on_signals()
    differences = side_by_side(before, after, test_app)
    focus_differences = focus_sequence(before, after, test_app)
    for label, a, b in differences:
        print(f"--- {label}\nbefore: {sorted(a)}\nafter:  {sorted(b)}")
    for what in focus_differences:
        print(f"--- {what}")
    return 0 if not differences and not focus_differences else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
