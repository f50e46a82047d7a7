#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""SIGTERM at any moment of the player's life: the player is started and sent SIGTERM a fixed
time after it began (0, 1, 2, 5, 10, 20 and 50 ms), again and again, and must end every time
with exit code 0.

    signal_storm.py --player P --dump D --shim START_SHIM [--repeat N] [BACKEND...]

"Began" is the moment the program's own code starts to run: the preloaded shim writes a byte
to a pipe from its initialiser, once the system's loader has mapped every library (before that
no code of the program exists that could catch a signal).

BACKEND: "terminal" (in a pseudo-terminal of its own, the terminal panel: the terminal's modes
must be the same before and after and the alternate screen must be left), "headless" (no
terminal, no display) or "fltk" (a private X server with openbox). Sound goes to SDL's disk
driver. The delay only sets the moment of the signal; every result is the player's exit code
and the terminal's state once it has ended.
"""
import fcntl
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_support import Case, Failure, X11Session, check, clean_env as bare_env, copy_dump, main  # noqa: E402

DELAYS_MS = (0, 1, 2, 5, 10, 20, 50)
EXIT_LIMIT_S = 10.0   # a player that has not ended by then has ignored the signal
ALTERNATE_ON = b"\x1b[?1049h"
ALTERNATE_OFF = b"\x1b[?1049l"
ROWS, COLUMNS = 24, 80


def clean_env(work):
    return bare_env(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=os.path.join(work, "out.raw"))


def wait_exit(proc, drain=None):
    """The exit code (negative: killed by that signal); None when the player did not end."""
    deadline = time.monotonic() + EXIT_LIMIT_S
    while proc.poll() is None and time.monotonic() < deadline:
        if drain:
            drain(0.01)
        else:
            try:
                proc.wait(timeout=0.05)
            except subprocess.TimeoutExpired:
                pass
    if proc.poll() is None:
        proc.kill()
        proc.wait()
        return None
    return proc.returncode


START_LIMIT_S = 10.0


def start(args, work, env, **kwargs):
    """Starts the player with the start shim; returns it once its code runs."""
    read_end, write_end = os.pipe()
    env = dict(env, LD_PRELOAD=args.shim, TONEWELL_START_FD=str(write_end))
    try:
        proc = subprocess.Popen([args.player], cwd=work, env=env, pass_fds=[write_end], **kwargs)
    finally:
        os.close(write_end)
    try:
        ready = select.select([read_end], [], [], START_LIMIT_S)[0]
        check(ready and os.read(read_end, 1) == b"s", "the player did not report its start")
    except Failure:
        proc.kill()
        proc.wait()
        raise
    finally:
        os.close(read_end)
    return proc


def fire(proc, delay_ms):
    """SIGTERM delay_ms after the player's code began to run."""
    if delay_ms:
        time.sleep(delay_ms / 1000.0)
    proc.send_signal(signal.SIGTERM)


class Terminal:
    """A pseudo-terminal for one run: the player gets the slave side as its controlling
    terminal; the master side is read until the player has ended."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
        self.before = termios.tcgetattr(self.slave)
        self.output = b""

    def child_setup(self):
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    def drain(self, timeout_s):
        while select.select([self.master], [], [], timeout_s)[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            if not chunk:
                return
            self.output += chunk
            timeout_s = 0

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def run_terminal(args, work, delay_ms):
    term = Terminal()
    try:
        proc = start(args, work, dict(clean_env(work), TERM="xterm"), stdin=term.slave, stdout=term.slave,
                     stderr=term.slave, preexec_fn=term.child_setup)
        fire(proc, delay_ms)
        code = wait_exit(proc, term.drain)
        term.drain(0.05)
        after = termios.tcgetattr(term.slave)
        problems = []
        if after != term.before:
            problems.append("terminal modes changed")
        if term.output.rfind(ALTERNATE_ON) > term.output.rfind(ALTERNATE_OFF):
            problems.append("the alternate screen was left on")
        return code, problems
    finally:
        term.close()


def run_headless(args, work, delay_ms):
    proc = start(args, work, clean_env(work), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, start_new_session=True)
    fire(proc, delay_ms)
    return wait_exit(proc), []


def run_fltk(args, work, delay_ms, session):
    env = clean_env(work)
    env["DISPLAY"] = session.display
    proc = start(args, work, env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 start_new_session=True)
    fire(proc, delay_ms)
    return wait_exit(proc), []


def describe(code):
    if code is None:
        return "still running %.0f s after SIGTERM" % EXIT_LIMIT_S
    if code < 0:
        return "killed by %s" % signal.Signals(-code).name
    return "exit code %d" % code


def storm(args, run):
    failures = []
    for delay in DELAYS_MS:
        bad = 0
        for _ in range(args.repeat):
            work = tempfile.mkdtemp(prefix="tonewell-storm-")
            try:
                copy_dump(args.dump, work)
                code, problems = run(args, work, delay)
            finally:
                shutil.rmtree(work, ignore_errors=True)
            if code != 0 or problems:
                bad += 1
                failures.append("%d ms: %s" % (delay, ", ".join([describe(code)] + problems)))
        print("SIGTERM at %2d ms: %d of %d runs ended cleanly" % (delay, args.repeat - bad, args.repeat))
    check(not failures, "%d runs did not end cleanly: %s" % (len(failures), "; ".join(failures[:10])))


class StormCases(Case):
    def test_headless(self):
        storm(self.opt, run_headless)

    def test_terminal(self):
        storm(self.opt, run_terminal)

    def test_fltk(self):
        with X11Session(window_manager=True) as session:
            storm(self.opt, lambda a, w, d: run_fltk(a, w, d, session))


if __name__ == "__main__":
    sys.exit(main(StormCases, ("player", "dump", "shim"),
                  lambda parser: parser.add_argument("--repeat", type=int, default=20)))
