#!/usr/bin/env python3
"""A private X server for tests: Xvfb on a free display, optionally with a window manager
(openbox, icewm, or xfwm4 in a D-Bus session of its own for its settings daemon). Used as a module by
the end-to-end tests, and as a command that runs one program inside such a server:

    x11_session.py [--wm] -- PROGRAM ARGS...

exits with the program's exit code.
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_support import poll_until  # noqa: E402

SCREEN = "1024x768x24"
START_TIMEOUT_S = 20.0
COMMAND_TIMEOUT_S = 20.0  # any single X client the tests run (xdotool, xprop, ...)
WM_CHECK_TITLE = "tonewell-wm-check"
WM_NUDGE = "_TONEWELL_WM_NUDGE"
# How each window manager is started: with its defaults, no session manager, no compositor.
MANAGERS = {
    "openbox": ["openbox", "--sm-disable"],
    "xfwm4": ["dbus-run-session", "--", "xfwm4", "--compositor=off", "--sm-client-disable"],
    "icewm": ["icewm", "--no-taskbar"],
}


def die_with_parent():
    """For preexec_fn: the child gets SIGTERM when the test process dies, however it dies."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def wait_for(condition, timeout_s, what):
    """Polls condition() until it returns a true value, which is returned; fails after timeout_s."""
    return poll_until(condition, what, timeout_s)


class X11Session:
    def __init__(self, window_manager=True, manager="openbox"):
        self.window_manager = window_manager
        self.manager = manager
        self.xvfb = None
        self.wm = None
        self.display = None
        self.env = None
        self.home = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + START_TIMEOUT_S
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            # Xvfb writes the display number followed by a newline once it accepts clients.
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.xvfb.poll() is not None:
                    raise RuntimeError("Xvfb did not start")
                if not select.select([pipe], [], [], min(left, 0.5))[0]:
                    continue
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not report its display")
                number += chunk
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ)
        self.env["DISPLAY"] = self.display
        self.env.pop("XAUTHORITY", None)
        if self.window_manager:
            # A fresh home: the manager runs with its system-wide defaults (Alt+F4 closes).
            self.home = tempfile.mkdtemp(prefix="tonewell-%s-" % self.manager)
            env = dict(self.env, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"))
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
            self.wm = subprocess.Popen(MANAGERS[self.manager], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       preexec_fn=die_with_parent, start_new_session=True)
            wait_for(self.wm_running, START_TIMEOUT_S, "%s to claim the screen" % self.manager)
            self.wait_until_wm_manages_windows()

    def wm_running(self):
        if self.wm.poll() is not None:
            raise RuntimeError("%s ended during its start-up (exit code %d)" % (self.manager, self.wm.returncode))
        out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
        return "window id" in out

    def wait_until_wm_manages_windows(self):
        """Returns once openbox frames a newly mapped window. openbox names its check window on
        the root early in its start-up, well before its event loop runs; a window mapped in
        between can stay unmapped and unmanaged until some later event wakes openbox (under load
        this left the player's window unshown for good). So a throw-away window is mapped, and a
        property of the root window changes on every poll to wake openbox, until the window is
        managed; then it goes again."""
        check_window = subprocess.Popen(["xev", "-name", WM_CHECK_TITLE, "-geometry", "10x10+0+0"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        preexec_fn=die_with_parent)
        nudges = [0]

        def managed():
            if check_window.poll() is not None:
                raise RuntimeError("the window manager check window ended (exit code %d)" % check_window.returncode)
            nudges[0] += 1
            self.run(["xprop", "-root", "-f", WM_NUDGE, "32c", "-set", WM_NUDGE, str(nudges[0])])
            ids = self.run(["xdotool", "search", "--name", "^%s$" % WM_CHECK_TITLE], check=False).split()
            return len(ids) == 1 and "window state: Normal" in self.run(["xprop", "-id", ids[0], "WM_STATE"], check=False)

        try:
            wait_for(managed, START_TIMEOUT_S, "%s to manage a window" % self.manager)
        finally:
            check_window.terminate()
            check_window.wait()
        wait_for(lambda: not self.run(["xdotool", "search", "--name", "^%s$" % WM_CHECK_TITLE], check=False).split(),
                 START_TIMEOUT_S, "the window manager check window to go")
        self.run(["xprop", "-root", "-remove", WM_NUDGE])

    def run(self, args, check=True, timeout=COMMAND_TIMEOUT_S, **kwargs):
        """Runs a client of this display; returns its standard output as text. A client still
        running after timeout seconds is killed and TimeoutError raised."""
        try:
            done = subprocess.run(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=timeout, **kwargs)
        except subprocess.TimeoutExpired:
            raise TimeoutError("%s did not end within %.1f s" % (" ".join(args), timeout))
        if check and done.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(args), done.returncode, done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def stop(self):
        if self.wm and self.wm.poll() is None:
            # The whole group: dbus-run-session's bus and the manager with it.
            try:
                os.killpg(self.wm.pid, signal.SIGTERM)
            except OSError:
                pass
        for proc in (self.wm, self.xvfb):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        if self.home:
            shutil.rmtree(self.home, ignore_errors=True)


def main(argv):
    # A terminated test still takes its X server down (the with-block's exit runs).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    wm = False
    if argv and argv[0] == "--wm":
        wm = True
        argv = argv[1:]
    if argv and argv[0] == "--no-wm":
        argv = argv[1:]
    if not argv or argv[0] != "--" or len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with X11Session(window_manager=wm) as session:
        return subprocess.run(argv[1:], env=session.env, preexec_fn=die_with_parent).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
