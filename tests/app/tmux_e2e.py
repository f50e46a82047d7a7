#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The player end to end without a display: in a tmux pane (the terminal panel), with its
output redirected or as a background job (the display-less layer), and with no terminal at
all. Sound goes to SDL's "disk" driver, whose file is compared tick by tick with
tonewell-render's output at the slider's levels.

    tmux_e2e.py --player P --render R --dump D --artifacts DIR [CASE...]

Every wait polls for its condition with a bound; no sleep decides a result. Exit code 0 on
success, 1 on failure, 77 when the case needs the SDL sound backend and the player has none.
"""
import contextlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_support import (FRAME_BYTES, PROMPT, RING_FRAMES, SAMPLE_RATE, START_PROBE_FRAMES, TICK_FRAMES,  # noqa: E402
                         Case, Failure, Pane, caught_signals, check, clean_env, copy_dump, dump_frames, file_size,
                         find_frames, first_sound, main, poll_until, read_file, render_reference, runs, tick_matches)

CLOSE_LIMIT_S = 0.5                  # a close signal must end the program within this
LEVEL_LEAD_LIMIT = SAMPLE_RATE // 2  # a new level must reach the samples within half a second
REFERENCE_SECONDS = 45               # offline render length; every case ends well before
NO_SUCH_DRIVER = "tonewell-no-such-audio-driver"
RUN_SCRIPT = "tonewell-run.sh"
ODD_DUMPS = ("fifo_no_writer", "fifo_silent_writer", "dev_zero", "directory")
LOSS_FS_BYTES = 1 << 20                # the tmpfs the disk driver writes to
LOSS_FIRST_DEVICE_BYTES = 1 << 18      # room the first device finds: about 1.5 s of sound
LOSS_AFTER_FRAMES = 3 * SAMPLE_RATE    # sound the device after the loss must write before the quit

STATUS_RE = re.compile(r"Playing: (-?\d+) / (-?\d+)")
SLIDER_RE = re.compile(r"\[([#.]+)\]\s*(\d+)\|")
LEVEL_RE = re.compile(r"\|\s+([ABC]): (-*)\s*\|")
EXIT_RE = re.compile(r"EXIT=(\d+)$")
STRAY_RE = re.compile(r"\x1b|\^\[|\[\?\d|\d;\d+[Ht]|\[\d+;\d+H")


def has_sound_backend(player):
    return "libSDL2" in subprocess.run(["ldd", player], capture_output=True, text=True).stdout


def process_state(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return None


def save(artifacts, name, text):
    os.makedirs(artifacts, exist_ok=True)
    path = os.path.join(artifacts, name)
    with open(path, "w") as f:
        f.write(text.rstrip("\n") + "\n")
    return path


# --- Sound: the disk file against the offline render ----------------------------------------

def level_text(position):
    """The output level for a slider position as the player stores it: position / 100.0 in
    single precision (85, the start value, is the constant 0.85f), written so that
    tonewell-render reads back exactly that float."""
    if position == 85:
        return "0.85"
    return repr(struct.unpack("f", struct.pack("f", position / 100.0))[0])


class Playback:
    """The disk file cut into ticks, each matched against tonewell-render's output at each
    level the test sets."""

    def __init__(self, opt, workdir, levels):
        self.path = os.path.join(workdir, "out.raw")
        self.levels = list(levels)
        self.refs = {level: render_reference(opt.render, opt.dump, REFERENCE_SECONDS * SAMPLE_RATE, level_text(level),
                                             os.path.join(workdir, "ref_%d.raw" % level)) for level in self.levels}
        self.first_sound = first_sound(self.refs[self.levels[0]])
        check(self.first_sound is not None, "the offline render is silent")
        self.offset = None   # file frame of render frame 0
        self.ticks = []      # per tick: the level it matches, "any" (all match), or None

    def update(self):
        data = read_file(self.path)
        if self.offset is None:
            start = first_sound(data)
            if start is None:
                return data
            self.offset = start - self.first_sound
            check(self.offset >= 0, "sound in the disk file starts before the offline render's")
        for t, _, matches in tick_matches(data, self.offset, self.refs, len(self.ticks)):
            if (t + 1) * TICK_FRAMES > len(self.refs[self.levels[0]]) // FRAME_BYTES:
                raise Failure("the run outlasted the offline render")
            several = len(self.levels) > 1 and len(matches) == len(self.levels)
            self.ticks.append("any" if several else matches[0] if len(matches) == 1 else None)
        return data

    def tick_count(self):
        self.update()
        return len(self.ticks)

    def first_tick_at(self, level):
        self.update()
        return next((t for t, got in enumerate(self.ticks) if got == level), None)

    def check_sequence(self, expected_levels):
        """Matched ticks run through expected_levels in order; few ticks match nothing."""
        self.update()
        position = 0
        for got in (got for got in self.ticks if got not in ("any", None)):
            while position < len(expected_levels) and expected_levels[position] != got:
                position += 1
            check(position < len(expected_levels), "tick levels out of order: %s" % runs(self.ticks))
        unmatched = self.ticks.count(None)
        check(len(self.ticks) > 0, "no tick in the disk file")
        check(unmatched <= max(2, len(self.ticks) // 50), "%d of %d ticks match no offline render (underruns?): %s" %
              (unmatched, len(self.ticks), runs(self.ticks)))
        return unmatched


# --- The panel in the pane ------------------------------------------------------------------

def panel_state(lines):
    """What the panel shows: status numbers, slider value and fill, the three bars."""
    state = {}
    for row, line in enumerate(lines):
        m = STATUS_RE.search(line)
        if m and line.lstrip().startswith("|"):
            state["status"] = (int(m.group(1)), int(m.group(2)))
        m = SLIDER_RE.search(line)
        if m:
            state.update(slider=int(m.group(2)), fill=m.group(1).count("#"), slider_row=row,
                         track_x=line.index("[") + 1, track_cells=len(m.group(1)))
        m = LEVEL_RE.search(line)
        if m:
            state[m.group(1)] = len(m.group(2))
    return state


def panel_if(pane, condition):
    """The panel's state when condition(state) holds, else None."""
    state = panel_state(pane.lines())
    return state if condition(state) else None


def bars(state):
    return tuple(state.get(k) for k in "ABC")


def wait_slider(pane, value, what):
    poll_until(lambda: panel_state(pane.lines()).get("slider") == value, "slider %d %s" % (value, what))


def title_line(lines):
    return next((i for i, l in enumerate(lines) if "Tonewell =)" in l), None)


def centred_panel(pane, width, height):
    """The panel is drawn whole and centred in a pane of width x height."""
    lines = pane.lines()
    top = title_line(lines)
    if len(lines) < height or top is None:
        return False
    title = lines[top]
    left, panel_width, bottom = len(title) - len(title.lstrip()), len(title.strip()), top + 8
    return (left == (width - panel_width) // 2 and top == (height - 9) // 2 and bottom < len(lines)
            and lines[bottom].strip() == "+" + "-" * (panel_width - 2) + "+"
            and "Playing: 0 / " in "\n".join(lines[top:bottom]))


def start_in_pane(opt, pane, driver="disk", with_dump=True, extra="", out=None):
    """Types the command that runs the player into the pane (whose shell starts in its
    folder), after noting the terminal's modes. The command runs a script that execs the
    player, so the line stays short of the pane's width: a line that wraps is redrawn by the
    shell's line editor, and the redrawing could run into the "EXIT=" line."""
    workdir = pane.workdir
    if with_dump:
        copy_dump(opt.dump, workdir)
    script = os.path.join(workdir, RUN_SCRIPT)
    with open(script, "w") as f:
        f.write("#!/bin/sh\ncd '%s' && SDL_AUDIODRIVER=%s SDL_DISKAUDIOFILE='%s' exec '%s'\n"
                % (workdir, driver, out or "%s/out.raw" % workdir, opt.player))
    os.chmod(script, 0o755)
    pane.type_line("stty -g > stty_before.txt")
    pane.type_line("./%s%s; echo \"EXIT=$?\"" % (RUN_SCRIPT, extra))


def expect_exit_and_restored(pane, artifacts, name):
    """The program has ended with code 0, and the pane shows the shell again as it was."""
    # The line may start with the terminal's echo of a control key ("^C").
    code = poll_until(lambda: next((m.group(1) for m in map(EXIT_RE.search, pane.lines()) if m), None), "EXIT=")
    check(code == "0", "the player ended with exit code " + code)

    def prompt_after_exit():
        lines = pane.lines()
        at = next((i for i, l in enumerate(lines) if EXIT_RE.search(l)), None)
        return at is not None and at + 1 < len(lines) and lines[at + 1].startswith(PROMPT.strip())
    poll_until(prompt_after_exit, "the prompt after the player")
    capture = pane.text()
    pane.type_line("stty -g > stty_after.tmp && mv stty_after.tmp stty_after.txt")
    poll_until(lambda: os.path.exists(os.path.join(pane.workdir, "stty_after.txt")), "stty -g after the player")
    save(artifacts, name, capture)
    before, after = (read_file(os.path.join(pane.workdir, "stty_%s.txt" % w)) for w in ("before", "after"))
    check(before == after, "terminal modes differ after the player: %r vs %r" % (before, after))
    flags = {name: pane.flag(name) for name in
             ("alternate_on", "mouse_any_flag", "mouse_button_flag", "cursor_flag", "keypad_cursor_flag")}
    check(flags == {"alternate_on": "0", "mouse_any_flag": "0", "mouse_button_flag": "0", "cursor_flag": "1",
                    "keypad_cursor_flag": "0"}, "pane modes after the player: %s" % flags)
    check(not STRAY_RE.search(capture), "stray escape codes on the screen:\n" + capture)
    check("Tonewell" not in capture, "the panel is still on the screen:\n" + capture)
    check(any("tonewell" in l for l in capture.split("\n")), "the command line is gone from the screen")


def quit_with(pane, key, artifacts, name):
    pane.keys(key)
    expect_exit_and_restored(pane, artifacts, name)


def wait_for_sound_growth(opt, path, what):
    """Half a second more in the disk file, when the player has the SDL backend."""
    if has_sound_backend(opt.player):
        size = file_size(path)
        poll_until(lambda: file_size(path) > size + SAMPLE_RATE * FRAME_BYTES // 2, what)


# --- The player without a terminal ----------------------------------------------------------

def start_without_terminal(opt, run_dir, driver, with_dump=True):
    if with_dump:
        copy_dump(opt.dump, run_dir)
    env = clean_env(SDL_AUDIODRIVER=driver, SDL_DISKAUDIOFILE=os.path.join(run_dir, "out.raw"))
    with open(os.path.join(run_dir, "stdout.txt"), "wb") as out, open(os.path.join(run_dir, "stderr.txt"), "wb") as err:
        return subprocess.Popen([opt.player], cwd=run_dir, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True)


@contextlib.contextmanager
def reaped(process):
    """The process, killed at the end of the block if it still runs."""
    try:
        yield process
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def close_with_signal(process, signum):
    """Sends signum once the handlers are in; returns (exit code, seconds until the exit)."""
    poll_until(lambda: signum in caught_signals(process.pid), "the player's close-signal handlers")
    watchdog = threading.Timer(10.0, process.kill)
    watchdog.start()
    start = time.monotonic()
    os.kill(process.pid, signum)
    code = process.wait()  # blocking waitpid: the exit is seen when it happens
    elapsed = time.monotonic() - start
    watchdog.cancel()
    return code, elapsed


def make_odd_dump(run_dir, kind):
    """music/dump.txt as something that is not a regular file; returns what must stay open
    while the player runs (the silent writer's descriptor), or None."""
    dump = os.path.join(run_dir, "music", "dump.txt")
    os.makedirs(os.path.dirname(dump), exist_ok=True)
    if kind == "directory":
        os.mkdir(dump)
    elif kind == "dev_zero":
        os.symlink("/dev/zero", dump)
    else:
        os.mkfifo(dump)
        if kind == "fifo_silent_writer":
            return os.open(dump, os.O_RDWR | os.O_NONBLOCK)  # a writer that never writes
    return None


# --- Device loss ----------------------------------------------------------------------------

class PositionWatch:
    """Every position the panel shows, in order: it never goes back (but for the wrap to 0 at
    the dump's end), and the distinct panels seen."""

    def __init__(self, pane, frames):
        self.pane, self.frames, self.shown, self.texts = pane, frames, [], set()

    def read(self):
        state = panel_state(self.pane.lines())
        if "status" in state:
            index = state["status"][0]
            if self.shown and index < self.shown[-1] and not (index == 0 and self.shown[-1] >= self.frames - 3):
                raise Failure("the position shown went back from %d to %d" % (self.shown[-1], index))
            self.shown.append(index)
            self.texts.add((index,) + bars(state))

    def until(self, condition, what, **kwargs):
        """Polls condition(), reading the panel before each try."""
        def probe():
            self.read()
            return condition()
        return poll_until(probe, what, **kwargs)


def mounted_tmpfs(path, size):
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tonewell-loss", path],
                          capture_output=True).returncode == 0


def free_bytes(path):
    st = os.statvfs(path)
    return st.f_bavail * st.f_frsize


def live_through_the_loss(pane, watch, fs, filler, out):
    """The file system fills up and the device is lost; the panel still redraws a resize; the
    reopened device starts its file anew; then the space is freed and sound follows."""
    watch.until(lambda: watch.shown and watch.shown[-1] > 0, "Playing: N / M with N > 0")
    watch.until(lambda: free_bytes(fs) < 4096, "the file system to fill up")
    seen_at_full = len(watch.texts)
    pane.resize(100, 30)

    def centred_in_100():
        lines = pane.lines()
        top = title_line(lines)
        title = lines[top] if top is not None else None
        return title is not None and len(title) - len(title.lstrip()) == (100 - len(title.strip())) // 2
    watch.until(centred_in_100, "the panel redrawn after a resize during the loss")
    # SDL's disk driver starts its file anew (it shrinks) in the space the lost device had.
    largest = [file_size(out)]

    def started_anew():
        size = file_size(out)
        largest[0] = max(largest[0], size)
        return size < largest[0]
    watch.until(started_anew, "the reopened device to start its file anew")
    os.remove(filler)
    watch.until(lambda: file_size(out) >= (LOSS_AFTER_FRAMES + RING_FRAMES) * FRAME_BYTES,
                "%d s of sound after the space was freed" % (LOSS_AFTER_FRAMES // SAMPLE_RATE), timeout_s=60)
    check(free_bytes(fs) > 4096, "the file system filled up again")
    watch.until(lambda: len(watch.texts) > seen_at_full + 3, "the panel to show new positions after the loss")


def check_sound_after_loss(opt, audio, last_shown, workdir):
    """After SDL's leading silence, the recording is tonewell-render's sound from some point
    on; returns (silent frames, equal frames, render frame where they start)."""
    audio = audio[:len(audio) - len(audio) % FRAME_BYTES]
    start = first_sound(audio)
    check(start is not None, "the device after the loss wrote only silence")
    music = audio[start * FRAME_BYTES:]
    # The last position shown bounds how far the render must go (the ring's lead and a margin).
    offline = render_reference(opt.render, opt.dump, (last_shown + 100) * TICK_FRAMES, "0.85",
                               os.path.join(workdir, "offline.raw"))
    at = find_frames(offline, music[:START_PROBE_FRAMES * FRAME_BYTES])
    check(at is not None, "the sound after the loss is nowhere in the offline rendering")
    # The music ends with the quit: the tail after the device's last block may be SDL's silence.
    played = music.rstrip(b"\0")
    played += bytes((-len(played)) % FRAME_BYTES)
    check(offline[at * FRAME_BYTES:at * FRAME_BYTES + len(played)] == played,
          "the sound after the loss differs from the offline rendering from frame %d" % at)
    return start, len(played) // FRAME_BYTES, at


# --- Cases ----------------------------------------------------------------------------------

class TmuxCases(Case):
    def setUp(self):
        super().setUp()
        Pane.last_screen = None

    def describe_failure(self):
        if Pane.last_screen is None:
            return ""
        return "last screen kept in " + save(self.opt.artifacts, "%s_failure.txt" % self._testMethodName[5:],
                                             Pane.last_screen)

    def pane(self, workdir=None):
        check(shutil.which("tmux"), "tmux is not installed")
        return Pane(workdir or self.work)

    def run_dir(self):
        return tempfile.mkdtemp(dir=self.work)

    def needs_sound(self):
        if not has_sound_backend(self.opt.player):
            self.skipTest("the player has no SDL sound backend")

    def test_panel_plays(self):
        """The panel: status, slider at 85, changing bars; Right and PageDown change the level
        from the next tick; q quits and the terminal is as it was."""
        self.needs_sound()
        opt, frames = self.opt, dump_frames(self.opt.dump)
        playback = Playback(opt, self.work, (85, 86, 96))
        with self.pane() as pane:
            start_in_pane(opt, pane)
            state = poll_until(lambda: panel_if(pane, lambda s: s.get("status", (0, 0))[0] > 0),
                               "Playing: N / M with N > 0")
            check(state["status"][1] == frames, "frame count %d, the dump has %d" % (state["status"][1], frames))
            check(state.get("slider") == 85, "slider shows %s, not 85" % state.get("slider"))
            save(opt.artifacts, "panel_playing.txt", pane.text())
            seen, busy = wait_for_changing_bars(pane, state["status"][0])
            save(opt.artifacts, "panel_levels.txt", busy)
            print("level bars seen (A, B, C): %s" % sorted(seen))
            for key, level in (("Right", 86), ("PageDown", 96)):
                level_follows_key(pane, playback, key, level)
            save(opt.artifacts, "panel_after_keys.txt", pane.text())
            quit_with(pane, "q", opt.artifacts, "panel_after_quit.txt")
            unmatched = playback.check_sequence([85, 86, 96])
            print("ticks in the disk file: %s (%d unmatched)" % (runs(playback.ticks), unmatched))

    def test_panel_no_audio(self):
        frames = dump_frames(self.opt.dump)
        with self.pane() as pane:
            start_in_pane(self.opt, pane, driver=NO_SUCH_DRIVER)
            wanted = "Playing: 0 / %d" % frames
            poll_until(lambda: wanted in pane.text(), wanted)
            pane.keys("Right")
            wait_slider(pane, 86, "after Right")
            state = panel_state(pane.lines())
            check(state.get("status") == (0, frames), "status %s with no audio device" % (state.get("status"),))
            check(bars(state) == (0, 0, 0), "bars show levels with no audio")
            save(self.opt.artifacts, "panel_no_audio.txt", pane.text())
            check(file_size(os.path.join(self.work, "out.raw")) == 0, "sound was written with no audio device")
            quit_with(pane, "q", self.opt.artifacts, "panel_no_audio_after_quit.txt")

    def test_panel_no_dump(self):
        with self.pane() as pane:
            start_in_pane(self.opt, pane, with_dump=False)

            def refreshed():  # the refresh writes the status before the bars: all of it drawn
                state = panel_state(pane.lines())
                return state if "Playing: 0 / 0" in Pane.last_screen and None not in bars(state) else None
            state = poll_until(refreshed, "Playing: 0 / 0 with the three bars")
            check(bars(state) == (0, 0, 0), "bars show levels with no dump")
            save(self.opt.artifacts, "panel_no_dump.txt", pane.text())
            quit_with(pane, "q", self.opt.artifacts, "panel_no_dump_after_quit.txt")

    def test_panel_close_requests(self):
        for request in ("Escape", "C-c", "C-d", signal.SIGTERM, signal.SIGHUP):
            with self.pane(self.run_dir()) as pane:
                start_in_pane(self.opt, pane)
                poll_until(lambda: "Playing: " in pane.text(), "the panel")
                pid = poll_until(pane.child_pid, "the player's process")
                if isinstance(request, str):
                    pane.keys(request)
                else:
                    poll_until(lambda: request in caught_signals(pid), "the player's close-signal handlers")
                    os.kill(pid, request)
                name = request if isinstance(request, str) else request.name
                expect_exit_and_restored(pane, self.opt.artifacts, "panel_closed_by_%s.txt" % name)
                print("%s: exit code 0, terminal restored" % name)

    def test_panel_mouse_and_resize(self):
        with self.pane() as pane:
            start_in_pane(self.opt, pane, driver=NO_SUCH_DRIVER)
            state = poll_until(lambda: panel_if(pane, lambda s: "Playing: " in Pane.last_screen and "slider" in s),
                               "the panel")
            cells = state["track_cells"]

            def mouse(code, cell):  # an xterm X10 report on the slider's row
                pane.raw(b"\x1b[M" + bytes([32 + code, 33 + state["track_x"] + cell, 33 + state["slider_row"]]))

            def value_at(cell):
                return (cell * 100 * 2 + (cells - 1)) // (2 * (cells - 1))
            # Press on track cell 11, drag to cell 19, release there.
            mouse(0, 11)
            wait_slider(pane, value_at(11), "after a click")
            mouse(32, 19)
            wait_slider(pane, value_at(19), "after a drag")
            mouse(3, 19)
            # A key after each group of mouse reports: once its movement shows, the reports
            # before it have been taken one by one.
            pane.keys("Left")
            wait_slider(pane, value_at(19) - 1, "after Left")
            mouse(0, cells + 5)  # press and release past the right bracket, off the bar: nothing
            mouse(3, cells + 5)
            pane.keys("Left")
            wait_slider(pane, value_at(19) - 2, "after a click off the bar and Left")
            save(self.opt.artifacts, "panel_mouse.txt", pane.text())
            for width, height in ((100, 30), (44, 12)):
                pane.resize(width, height)
                poll_until(lambda: centred_panel(pane, width, height),
                           "the panel redrawn centred in %dx%d" % (width, height))
                save(self.opt.artifacts, "panel_resized_%dx%d.txt" % (width, height), pane.text())
            pane.resize(80, 24)
            quit_with(pane, "q", self.opt.artifacts, "panel_mouse_after_quit.txt")

    def test_panel_stdout_redirected(self):
        """Standard output to a file inside a terminal: the display-less layer, nothing drawn,
        Ctrl-C (SIGINT from the terminal) closes with exit code 0."""
        with self.pane() as pane:
            start_in_pane(self.opt, pane, extra=" > stdout.txt")
            pid = poll_until(pane.child_pid, "the player's process")
            poll_until(lambda: signal.SIGINT in caught_signals(pid), "the player's close-signal handlers")
            wait_for_sound_growth(self.opt, os.path.join(self.work, "out.raw"), "the disk file to grow")
            check(pane.flag("alternate_on") == "0" and "Tonewell" not in pane.text(), "a panel was drawn")
            quit_with(pane, "C-c", self.opt.artifacts, "stdout_redirected_after_ctrl_c.txt")
            check(file_size(os.path.join(self.work, "stdout.txt")) == 0, "the player wrote to standard output")

    def test_background_job(self):
        """Started with & from an interactive shell: stdin and stdout are the terminal, but the
        job is not in the foreground; it plays without a panel and is not stopped."""
        work = self.work
        with self.pane() as pane:
            copy_dump(self.opt.dump, work)
            pane.type_line("stty -g > stty_before.txt")
            pane.type_line("cd %s" % work)
            pane.type_line("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=%s/out.raw %s & echo \"JOB=$!\""
                           % (work, self.opt.player))
            line = poll_until(lambda: next((l for l in pane.lines() if l.startswith("JOB=")), None), "the job's pid")
            pid = int(line[4:])
            poll_until(lambda: signal.SIGTERM in caught_signals(pid), "the player's close-signal handlers")
            wait_for_sound_growth(self.opt, os.path.join(work, "out.raw"), "the background player's disk file to grow")
            check(process_state(pid) not in ("T", "t", None), "the background job was stopped")
            check(pane.flag("alternate_on") == "0" and "Tonewell" not in pane.text(), "a background job drew a panel")
            pane.type_line("kill -TERM %d; wait %d; echo \"EXIT=$?\"" % (pid, pid))
            expect_exit_and_restored(pane, self.opt.artifacts, "background_job_after_sigterm.txt")

    def test_no_terminal_plays(self):
        self.needs_sound()
        playback = Playback(self.opt, self.work, (85,))
        with reaped(start_without_terminal(self.opt, self.work, "disk")) as process:
            poll_until(lambda: playback.tick_count() >= 100, "two seconds of music in the disk file")
            code, elapsed = close_with_signal(process, signal.SIGTERM)
        playback.check_sequence([85])
        check(code == 0, "exit code %s after SIGTERM" % code)
        check(elapsed < CLOSE_LIMIT_S, "SIGTERM took %.3f s to end the player" % elapsed)
        check(file_size(os.path.join(self.work, "stdout.txt")) == 0, "the player wrote to standard output")
        print("no terminal: %d ticks played (%s), SIGTERM -> exit 0 in %.1f ms" %
              (len(playback.ticks), runs(playback.ticks), elapsed * 1000))

    def test_no_terminal_signals(self):
        driver = "disk" if has_sound_backend(self.opt.player) else NO_SUCH_DRIVER
        latencies = []
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP) * 3:
            run_dir = self.run_dir()
            with reaped(start_without_terminal(self.opt, run_dir, driver)) as process:
                if driver == "disk":
                    poll_until(lambda: file_size(os.path.join(run_dir, "out.raw")) > 0, "the disk file")
                code, elapsed = close_with_signal(process, signum)
            check(code == 0, "exit code %s after %s" % (code, signum.name))
            check(elapsed < CLOSE_LIMIT_S, "%s took %.3f s to end the player" % (signum.name, elapsed))
            latencies.append((signum.name, elapsed))
        print("close latency without a terminal (%s): %s; longest %.1f ms" %
              (driver, ", ".join("%s %.1f ms" % (n, e * 1000) for n, e in latencies),
               max(e for _, e in latencies) * 1000))

    def test_panel_odd_dumps(self):
        """A FIFO with and without a writer, /dev/zero and a directory as music/dump.txt: the panel
        comes up with no dump ("Playing: 0 / 0") and q ends the player within a second, exit 0."""
        for kind in ODD_DUMPS:
            run_dir = self.run_dir()
            writer = make_odd_dump(run_dir, kind)
            try:
                with self.pane(run_dir) as pane:
                    start_in_pane(self.opt, pane, with_dump=False)
                    poll_until(lambda: "Playing: 0 / 0" in pane.text(), "%s: Playing: 0 / 0" % kind, timeout_s=5)
                    start = time.monotonic()
                    pane.keys("q")
                    poll_until(lambda: any(EXIT_RE.search(l) for l in pane.lines()), "%s: the exit after q" % kind,
                               timeout_s=5, interval_s=0.005)
                    elapsed = time.monotonic() - start
                    expect_exit_and_restored(pane, self.opt.artifacts, "panel_odd_dump_%s.txt" % kind)
                    check(elapsed < 1.0, "%s: q took %.3f s to end the player" % (kind, elapsed))
                    print("%s: no dump, q -> exit 0 in %.1f ms, terminal restored" % (kind, elapsed * 1000))
            finally:
                if writer is not None:
                    os.close(writer)

    def test_no_terminal_odd_dumps(self):
        """The same dumps without a terminal: SIGTERM ends the player within a second, exit 0."""
        for kind in ODD_DUMPS:
            run_dir = self.run_dir()
            writer = make_odd_dump(run_dir, kind)
            try:
                with reaped(start_without_terminal(self.opt, run_dir, NO_SUCH_DRIVER, with_dump=False)) as process:
                    code, elapsed = close_with_signal(process, signal.SIGTERM)
            finally:
                if writer is not None:
                    os.close(writer)
            check(code == 0, "%s: exit code %s after SIGTERM" % (kind, code))
            check(elapsed < 1.0, "%s: SIGTERM took %.3f s to end the player" % (kind, elapsed))
            print("%s: SIGTERM -> exit 0 in %.1f ms" % (kind, elapsed * 1000))

    def test_panel_device_loss(self):
        """The disk driver's file system fills up (SDL stops the device: lost) and is then freed:
        the panel keeps running and redrawing, the position shown never goes back, and the sound
        of the device opened after the loss is, after SDL's leading silence, exactly
        tonewell-render's from the point where it resumed. Runs in a private mount namespace
        (unshare -m) as root."""
        if os.environ.get("TONEWELL_PRIVATE_MOUNTS") != "1":
            self.skipTest("needs root and unshare for a private mount namespace")
        self.needs_sound()
        fs = os.path.join(self.work, "fs")
        os.makedirs(fs)
        if not mounted_tmpfs(fs, LOSS_FS_BYTES):
            self.skipTest("cannot mount a tmpfs (needs root in a private mount namespace)")
        self.addCleanup(subprocess.run, ["umount", "-l", fs], capture_output=True)
        filler = os.path.join(fs, "filler")
        with open(filler, "wb") as f:
            f.write(bytes(LOSS_FS_BYTES - LOSS_FIRST_DEVICE_BYTES))
        out = os.path.join(fs, "device", "out.raw")
        os.makedirs(os.path.dirname(out))
        with self.pane() as pane:
            watch = PositionWatch(pane, dump_frames(self.opt.dump))
            start_in_pane(self.opt, pane, out=out)
            live_through_the_loss(pane, watch, fs, filler, out)
            pane.resize(80, 24)
            quit_with(pane, "q", self.opt.artifacts, "panel_device_loss_after_quit.txt")
        silent, equal, at = check_sound_after_loss(self.opt, read_file(out), max(watch.shown), self.work)
        print("after the loss: %d frames of SDL's silence, then %d frames equal to tonewell-render from frame %d "
              "(tick %.2f); positions shown: %d readings, %d distinct panels, never back" %
              (silent, equal, at, at / TICK_FRAMES, len(watch.shown), len(watch.texts)))


def wait_for_changing_bars(pane, first):
    """Waits for bars that change: four different sets, the position moving on past first,
    and a screen with two voices sounding at once; returns (sets seen, that screen)."""
    seen, busy = set(), []

    def bars_change():
        lines = pane.lines()
        s = panel_state(lines)
        if None not in bars(s):
            seen.add(bars(s))
            if sum(1 for k in "ABC" if s[k] > 0) >= 2 and not busy:
                busy.append("\n".join(lines))
        return len(seen) >= 4 and busy and s.get("status", (0, 0))[0] > first
    poll_until(bars_change, "four different sets of level bars, two voices at once")
    return seen, busy[0]


def level_follows_key(pane, playback, key, level):
    """key moves the slider to level; the samples follow from a tick boundary, not before the
    key and within LEVEL_LEAD_LIMIT frames of what the device had when it was sent."""
    playback.update()
    written = file_size(playback.path) // FRAME_BYTES - (playback.offset or 0)
    pane.keys(key)
    wait_slider(pane, level, "after %s" % key)
    poll_until(lambda: playback.first_tick_at(level) is not None, "samples at level %d after %s" % (level, key))
    t = playback.first_tick_at(level)
    start = t * TICK_FRAMES
    # The new level starts at a tick: the tick before it is whole at the old level.
    check(playback.ticks[t - 1] not in (None, level),
          "tick %d before the change is %s" % (t - 1, playback.ticks[t - 1]))
    check(start >= written - TICK_FRAMES,
          "level %d in samples written before the key (tick at frame %d, %d written)" % (level, start, written))
    check(start - written <= LEVEL_LEAD_LIMIT,
          "level %d reached the samples %d frames after the key" % (level, start - written))
    print("%s: slider %d; samples at the new level from tick %d, %d frames (%.0f ms) past what the device had "
          "when the key was sent" % (key, level, t, start - written, 1000.0 * (start - written) / SAMPLE_RATE))


if __name__ == "__main__":
    if "panel_device_loss" in sys.argv and os.environ.get("TONEWELL_PRIVATE_MOUNTS") != "1" \
            and os.geteuid() == 0 and shutil.which("unshare"):
        # Its tmpfs goes into a mount namespace of its own, with the tmux server and the player.
        os.environ["TONEWELL_PRIVATE_MOUNTS"] = "1"
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv)
    sys.exit(main(TmuxCases, ("player", "render", "dump", "artifacts")))
