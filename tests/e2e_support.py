# SPDX-License-Identifier: GPL-2.0-or-later
"""What the player's and the tools' end-to-end tests share: the failure type and the one polling
helper, running a tool with its outputs caught, the runner (one unittest case per named case,
exit 77 when skipped), the private X server with its window manager, tonewell-play played and
closed in it, the tmux session, the reference render through tonewell-render, the search for
where the rendered sound starts in a recording, the tick-by-tick comparison and the one dump
frame counter. Each test module keeps only what drives its own interface.
"""
import argparse
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tonewell_constants import FRAME_BYTES, MAX_DUMP_FRAMES, RING_FRAMES, SAMPLE_RATE, TICK_FRAMES  # noqa: E402,F401

POLL_S = 0.02
WAIT_S = 20.0             # default bound on a wait for the player
START_PROBE_FRAMES = 2000  # frames of a rendering looked for to find where it starts
SKIP = 77                 # CTest's SKIP_RETURN_CODE


class Failure(Exception):
    """A check of a case failed; the message says which."""


class WaitTimeout(Failure, TimeoutError):
    """A poll_until that ran out of time."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll_until(probe, what, timeout_s=WAIT_S, interval_s=POLL_S):
    """Calls probe() until it returns something true, which is returned; raises WaitTimeout
    after timeout_s."""
    deadline = time.monotonic() + timeout_s
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise WaitTimeout("timed out after %.1f s waiting for %s" % (timeout_s, what))
        time.sleep(interval_s)


def wait_for(condition, timeout_s, what):
    return poll_until(condition, what, timeout_s)


def die_with_parent():
    """For preexec_fn: the child gets SIGTERM when the test process dies, however it dies."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def clean_env(**extra):
    """The environment without a display or terminal size, plus extra."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "LINES", "COLUMNS", "TMUX", "TMUX_PANE"):
        env.pop(name, None)
    env.update(extra)
    return env


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def copy_dump(dump, folder):
    """folder/music/dump.txt as a copy of dump, where the player looks for it."""
    os.makedirs(os.path.join(folder, "music"), exist_ok=True)
    shutil.copy(dump, os.path.join(folder, "music", "dump.txt"))


def dump_frames(path):
    """Frames the loader takes from a dump: lines not blank after trimming spaces, at most
    MAX_DUMP_FRAMES."""
    lines = re.split(rb"\r\n|\r|\n|\x00", read_file(path))
    return min(sum(1 for line in lines if line.strip(b" ")), MAX_DUMP_FRAMES)


def caught_signals(pid):
    """The set of signal numbers the process has handlers for (from /proc)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("SigCgt:"):
                    mask = int(line.split()[1], 16)
                    return {n for n in range(1, 65) if mask & (1 << (n - 1))}
    except OSError:
        pass
    return set()


def default_signals():
    """For preexec_fn: die_with_parent, and SIGINT ends the child as from a terminal."""
    die_with_parent()
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def write_file(path, data):
    """Writes data (bytes, or text) to path; returns path."""
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    return path


# --- Running a tool -------------------------------------------------------------------------

def run_tool(args, timeout=120, **kwargs):
    """Runs a program with its standard output and error caught (bytes)."""
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, **kwargs)


def tool_result(args, timeout=20):
    """(exit status, standard output, standard error) of a program, its outputs as text."""
    done = run_tool(args, timeout)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def run_ok(args, what=None, **kwargs):
    """run_tool; a Failure naming what (the program by default) and saying its standard error
    when it does not exit with 0."""
    done = run_tool(args, **kwargs)
    check(done.returncode == 0, "%s failed (%d): %s" % (what or args[0], done.returncode,
                                                        done.stderr.decode(errors="replace")))
    return done


# --- Sound ----------------------------------------------------------------------------------

def render_reference(render, dump, frames, level="0.85", out="-"):
    """tonewell-render's raw frames of dump (frames frames at output level `level`, a string as
    the renderer reads it), through standard output or the raw file out."""
    result = subprocess.run([render, "--frames", str(frames), "--level", level, dump, out],
                            stdout=subprocess.PIPE, check=True)
    if out == "-":
        return result.stdout
    with open(out, "rb") as f:
        return f.read()


def find_frames(data, piece):
    """The first frame of data at which piece (raw frames) stands whole, or None."""
    at = data.find(piece)
    while at >= 0 and at % FRAME_BYTES:
        at = data.find(piece, at + 1)
    return None if at < 0 else at // FRAME_BYTES


def first_sound(data):
    """The first frame of data that is not silence, or None."""
    for i in range(0, len(data) - FRAME_BYTES + 1, FRAME_BYTES):
        if data[i:i + FRAME_BYTES] != b"\0" * FRAME_BYTES:
            return i // FRAME_BYTES
    return None


def sound_start(audio, reference):
    """The frame of the recording audio at which the reference rendering begins, or None.
    Before it the device plays its silent ring: once, or more often when the pump starts
    late. Found by the reference's first START_PROBE_FRAMES frames after its leading silence."""
    lead = first_sound(reference) or 0
    at = find_frames(audio, reference[lead * FRAME_BYTES:(lead + START_PROBE_FRAMES) * FRAME_BYTES])
    return None if at is None or at < lead else at - lead


def tick_matches(audio, start, references, first_tick=0):
    """Cuts audio (raw frames) from frame `start` into complete ticks, from tick first_tick on,
    and yields (tick, piece, keys): the keys of the references (a dict of raw frames, in its
    order) whose same tick equals the piece sample for sample."""
    size = TICK_FRAMES * FRAME_BYTES
    tick = first_tick
    while True:
        at = (start + tick * TICK_FRAMES) * FRAME_BYTES
        piece = audio[at:at + size]
        if len(piece) < size:
            return
        r0 = tick * size
        yield tick, piece, [key for key, ref in references.items() if ref[r0:r0 + size] == piece]
        tick += 1


def runs(items):
    """'x*3 y*2' for x x x y y: a sequence told by its runs."""
    out = []
    for item in items:
        if out and out[-1][0] == item:
            out[-1][1] += 1
        else:
            out.append([item, 1])
    return " ".join("%s*%d" % (item, n) for item, n in out)


# --- The runner -----------------------------------------------------------------------------

class Case(unittest.TestCase):
    """Base of the end-to-end cases: the command line's options in self.opt, a fresh work
    folder per case. describe_failure() may add what the case knew when it failed."""
    failureException = Failure
    opt = None

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tonewell-e2e-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def describe_failure(self):
        return ""


class _Result(unittest.TextTestResult):
    def _explain(self, test):
        text = test.describe_failure() if isinstance(test, Case) else ""
        if text:
            self.stream.writeln(text)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._explain(test)

    def addError(self, test, err):
        super().addError(test, err)
        self._explain(test)


def main(cases, paths, add_options=None, argv=None):
    """Runs the named cases of the Case class `cases` (every test_* method when none is named;
    a case named with hyphens is the method with underscores): paths are the options, required,
    that name files (made absolute); add_options(parser) adds others. Exit code 0, 1 on a
    failure, 77 when every case run was skipped."""
    names = sorted(n[5:] for n in unittest.getTestCaseNames(cases, "test_"))
    parser = argparse.ArgumentParser()
    for name in paths:
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    if add_options:
        add_options(parser)
    parser.add_argument("case", nargs="*", help="the cases to run (every one when none): " + ", ".join(names))
    cases.opt = parser.parse_args(argv)
    cases.opt.case = [name.replace("-", "_") for name in cases.opt.case]
    for name in cases.opt.case:
        if name not in names:
            parser.error("no case %r" % name)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    sys.stdout.reconfigure(line_buffering=True)  # the log so far survives a test killed on timeout
    suite = unittest.TestSuite(cases("test_" + n) for n in (cases.opt.case or names))
    result = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=_Result).run(suite)
    if not result.wasSuccessful():
        return 1
    return SKIP if result.skipped and len(result.skipped) == result.testsRun else 0


# --- A private X server ---------------------------------------------------------------------

SCREEN = "1024x768x24"
X_START_S = 20.0
X_COMMAND_S = 20.0  # any single X client the tests run (xdotool, xprop, ...)
WM_CHECK_TITLE = "tonewell-wm-check"
WM_NUDGE = "_TONEWELL_WM_NUDGE"
# How each window manager is started: with its defaults, no session manager, no compositor.
MANAGERS = {
    "openbox": ["openbox", "--sm-disable"],
    "xfwm4": ["dbus-run-session", "--", "xfwm4", "--compositor=off", "--sm-client-disable"],
    "icewm": ["icewm", "--no-taskbar"],
}


class X11Session:
    """Xvfb on a free display, optionally with a window manager (openbox, icewm, or xfwm4 in a
    D-Bus session of its own for its settings daemon); a context manager."""

    def __init__(self, window_manager=True, manager="openbox"):
        self.window_manager, self.manager = window_manager, manager
        self.xvfb = self.wm = self.display = self.env = self.home = None

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
        deadline = time.monotonic() + X_START_S
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
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("XAUTHORITY", None)
        if self.window_manager:
            # A fresh home: the manager runs with its system-wide defaults (Alt+F4 closes).
            self.home = tempfile.mkdtemp(prefix="tonewell-%s-" % self.manager)
            env = dict(self.env, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"))
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
            self.wm = subprocess.Popen(MANAGERS[self.manager], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       preexec_fn=die_with_parent, start_new_session=True)
            wait_for(self.wm_running, X_START_S, "%s to claim the screen" % self.manager)
            self.wait_until_wm_manages_windows()

    def wm_running(self):
        if self.wm.poll() is not None:
            raise RuntimeError("%s ended during its start-up (exit code %d)" % (self.manager, self.wm.returncode))
        return "window id" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)

    def wait_until_wm_manages_windows(self):
        """Returns once the manager frames a newly mapped window. openbox names its check window
        on the root early in its start-up, well before its event loop runs; a window mapped in
        between can stay unmapped and unmanaged until some later event wakes openbox (under load
        this left the player's window unshown for good). So a throw-away window is mapped, and a
        property of the root window changes on every poll to wake the manager, until the window
        is managed; then it goes again."""
        check_window = subprocess.Popen(["xev", "-name", WM_CHECK_TITLE, "-geometry", "10x10+0+0"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        preexec_fn=die_with_parent)
        nudges = [0]

        def check_ids():
            return self.run(["xdotool", "search", "--name", "^%s$" % WM_CHECK_TITLE], check=False).split()

        def managed():
            if check_window.poll() is not None:
                raise RuntimeError("the window manager check window ended (exit code %d)" % check_window.returncode)
            nudges[0] += 1
            self.run(["xprop", "-root", "-f", WM_NUDGE, "32c", "-set", WM_NUDGE, str(nudges[0])])
            ids = check_ids()
            return len(ids) == 1 and "window state: Normal" in self.run(["xprop", "-id", ids[0], "WM_STATE"], check=False)

        try:
            wait_for(managed, X_START_S, "%s to manage a window" % self.manager)
        finally:
            check_window.terminate()
            check_window.wait()
        wait_for(lambda: not check_ids(), X_START_S, "the window manager check window to go")
        self.run(["xprop", "-root", "-remove", WM_NUDGE])

    def run(self, args, check=True, timeout=X_COMMAND_S, **kwargs):
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
            try:  # the whole group: dbus-run-session's bus and the manager with it
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


PLAYER_TITLE = "^Tonewell =\\)$"


def play_and_close(session, command, reference, how):
    """Runs tonewell-play (command: its path and arguments) in the X11Session session with SDL's
    disk driver, in a fresh folder that is its working directory, HOME and TMPDIR's parent. Waits
    for its window, its one private folder holding music/dump.txt and two seconds of reference
    (tonewell-render's raw frames) after the silent lap, then ends it by how: "alt+f4" on the
    window, "sigterm" or "sigint" to tonewell-play. Checks the exit status 0, that no folder is
    left, and that the sound is silence up to the lap and then the reference (two seconds of it
    at least, or the whole when it is shorter)."""
    work = tempfile.mkdtemp(prefix="tonewell-play-run-")
    tmp, sound, errors = (os.path.join(work, name) for name in ("tmp", "sound.raw", "stderr.txt"))
    os.mkdir(tmp)
    env = dict(session.env, TMPDIR=tmp, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=sound, HOME=work,
               XDG_RUNTIME_DIR=work)

    def said():
        return read_file(errors).decode(errors="replace")

    def window():
        check(proc.poll() is None, "tonewell-play ended early (%s): %s" % (proc.returncode, said()))
        return session.run(["xdotool", "search", "--name", PLAYER_TITLE], check=False).split()

    def two_seconds():
        data = read_file(sound)
        start = sound_start(data, reference)
        return start is not None and len(data) >= (start + 2 * SAMPLE_RATE) * FRAME_BYTES

    try:
        with open(errors, "wb") as err:
            proc = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=err, preexec_fn=default_signals)
        try:
            win = poll_until(window, "the player's window", 30.0)[0]
            folders = os.listdir(tmp)
            check(len(folders) == 1 and folders[0].startswith("tonewell-play-")
                  and os.path.isfile(os.path.join(tmp, folders[0], "music", "dump.txt")),
                  "no one private folder holding music/dump.txt while it plays: %r" % folders)
            poll_until(two_seconds, "two seconds of the rendered sound", 60.0)
            if how == "alt+f4":
                session.run(["xdotool", "windowactivate", "--sync", win, "key", "--clearmodifiers", "alt+F4"])
            else:
                proc.send_signal(signal.SIGTERM if how == "sigterm" else signal.SIGINT)
            code = proc.wait(timeout=WAIT_S)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        check(code == 0, "tonewell-play ended with %d, not 0, after %s: %s" % (code, how, said()))
        check(os.listdir(tmp) == [], "the temporary folder is left: %r" % os.listdir(tmp))
        data = read_file(sound)
        start = sound_start(data, reference)
        check(start is not None and start >= RING_FRAMES,
              "the music starts at frame %s, not after the silent lap" % start)
        check(data[:start * FRAME_BYTES].count(0) == start * FRAME_BYTES, "sound before the rendering")
        played = data[start * FRAME_BYTES:]
        n = min(len(played), len(reference)) // FRAME_BYTES * FRAME_BYTES
        check(n >= min(2 * SAMPLE_RATE * FRAME_BYTES, len(reference) // FRAME_BYTES * FRAME_BYTES),
              "only %d bytes of sound to compare" % n)
        if played[:n] != reference[:n]:
            first = next(i for i in range(n) if played[i] != reference[i])
            raise Failure("the sound differs from tonewell-render at frame %d" % (first // FRAME_BYTES))
        print("%s: %d frames equal tonewell-render; exit 0 after %s; no folder left" %
              (" ".join(command[1:]) or "the demo tune", n // FRAME_BYTES, how))
    finally:
        shutil.rmtree(work, ignore_errors=True)


# --- A tmux session -------------------------------------------------------------------------

PROMPT = "TW$ "


class Pane:
    """One tmux server with one pane running an interactive bash, on a private socket.
    last_screen is the last capture taken (kept when a case fails)."""
    last_screen = None

    def __init__(self, workdir, width=80, height=24):
        self.socket = os.path.join(workdir, "tmux.sock")
        self.workdir = workdir
        self.env = clean_env()
        self.tmux("-f", "/dev/null", "new-session", "-d", "-s", "e2e", "-x", str(width), "-y", str(height),
                  "-c", workdir,
                  "env -u DISPLAY -u WAYLAND_DISPLAY PS1='%s' HISTFILE=/dev/null bash --norc --noprofile -i" % PROMPT)
        try:
            self.tmux("set-option", "-g", "status", "off")
            poll_until(lambda: any(l.startswith(PROMPT.strip()) for l in self.lines()), "the shell's prompt")
        except Failure:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def tmux(self, *args):
        result = subprocess.run(["tmux", "-S", self.socket] + list(args), capture_output=True, text=True,
                                env=self.env)
        if result.returncode != 0:
            raise Failure("tmux %s: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def lines(self):
        Pane.last_screen = self.tmux("capture-pane", "-p", "-t", "e2e")
        return Pane.last_screen.split("\n")

    def text(self):
        return "\n".join(self.lines())

    def flag(self, name):
        return self.tmux("display-message", "-p", "-t", "e2e", "#{%s}" % name).strip()

    def type_line(self, text):
        self.tmux("send-keys", "-t", "e2e", "-l", text)
        self.tmux("send-keys", "-t", "e2e", "Enter")

    def keys(self, *names):
        self.tmux("send-keys", "-t", "e2e", *names)

    def raw(self, data):
        self.tmux("send-keys", "-t", "e2e", "-H", *["%02x" % b for b in data])

    def child_pid(self, name="tonewell"):
        """The process called name whose parent is the pane's shell, or None."""
        shell = int(self.flag("pane_pid"))
        for entry in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/stat" % entry) as f:
                    stat = f.read()
            except OSError:
                continue
            comm = stat[stat.index("(") + 1:stat.rindex(")")]
            if int(stat.rsplit(")", 1)[1].split()[1]) == shell and comm == name:
                return int(entry)
        return None

    def resize(self, width, height):
        self.tmux("resize-window", "-t", "e2e", "-x", str(width), "-y", str(height))

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)
