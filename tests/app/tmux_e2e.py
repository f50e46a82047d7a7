#!/usr/bin/env python3
"""The player end to end without a display: in a tmux pane (the terminal panel), with its
output redirected or as a background job (the display-less layer), and with no terminal at
all. Sound goes to SDL's "disk" driver, whose file is compared tick by tick with
tonewell-render's output at the slider's levels.

    tmux_e2e.py CASE --player P --render R --dump D --artifacts DIR

Every wait polls for its condition with a bound; no sleep decides a result. Exit code 0 on
success, 1 on failure, 77 when the case needs the SDL sound backend and the player has none.
"""
import argparse
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
from e2e_support import FRAME_BYTES, TICK_FRAMES, Failure, check, poll_until, render_reference, tick_matches  # noqa: E402

RATE = 44100
WAIT_S = 20.0               # bound on every wait for the player
CLOSE_LIMIT_S = 0.5         # a close signal must end the program within this
LEVEL_LEAD_LIMIT = RATE // 2  # a new level must reach the samples within half a second
REFERENCE_SECONDS = 45      # offline render length; every case ends well before
PROMPT = "TW$ "
NO_SUCH_DRIVER = "tonewell-no-such-audio-driver"

STATUS_RE = re.compile(r"Playing: (-?\d+) / (-?\d+)")
SLIDER_RE = re.compile(r"\[([#.]+)\]\s*(\d+)\|")
LEVEL_RE = re.compile(r"\|\s+([ABC]): (-*)\s*\|")
EXIT_RE = re.compile(r"EXIT=(\d+)$")
STRAY_RE = re.compile(r"\x1b|\^\[|\[\?\d|\d;\d+[Ht]|\[\d+;\d+H")


LAST_SCREEN = None  # the last tmux capture taken, saved when a case fails


def dump_frame_count(path):
    with open(path, "rb") as f:
        return sum(1 for line in f if line.strip())


def has_sound_backend(player):
    out = subprocess.run(["ldd", player], capture_output=True, text=True).stdout
    return "libSDL2" in out


def clean_env():
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "LINES", "COLUMNS", "TMUX", "TMUX_PANE"):
        env.pop(name, None)
    return env


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


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


def process_state(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return None


# --- Sound: the disk file against the offline render ----------------------------------------

class References:
    """tonewell-render's output at each level the test sets, kept as raw bytes."""

    def __init__(self, render, dump, workdir, levels):
        self.levels = list(levels)
        self.data = {}
        frames = REFERENCE_SECONDS * RATE
        for level in self.levels:
            out = os.path.join(workdir, "ref_%d.raw" % level)
            self.data[level] = render_reference(render, dump, frames, level_text(level), out)
        first = self.data[self.levels[0]]
        self.first_sound = first_nonzero_frame(first)
        check(self.first_sound is not None, "the offline render is silent")


def level_text(position):
    """The output level for a slider position as the player stores it: position / 100.0 in
    single precision (85, the start value, is the constant 0.85f), written so that
    tonewell-render reads back exactly that float."""
    if position == 85:
        return "0.85"
    return repr(struct.unpack("f", struct.pack("f", position / 100.0))[0])


def first_nonzero_frame(data):
    for i in range(0, len(data) - FRAME_BYTES + 1, FRAME_BYTES):
        if data[i:i + FRAME_BYTES] != b"\0\0\0\0":
            return i // FRAME_BYTES
    return None


class Playback:
    """The disk file cut into ticks, each matched against the references."""

    def __init__(self, path, refs):
        self.path = path
        self.refs = refs
        self.offset = None   # file frame of render frame 0
        self.ticks = []      # per tick: the level it matches, "any" (all match), or None

    def update(self):
        try:
            with open(self.path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return b""
        if self.offset is None:
            start = first_nonzero_frame(data)
            if start is None:
                return data
            self.offset = start - self.refs.first_sound
            check(self.offset >= 0, "sound in the disk file starts before the offline render's")
        for t, _, matches in tick_matches(data, self.offset, self.refs.data, len(self.ticks)):
            end = (self.offset + (t + 1) * TICK_FRAMES) * FRAME_BYTES
            if end > len(self.refs.data[self.refs.levels[0]]) + self.offset * FRAME_BYTES:
                raise Failure("the run outlasted the offline render")
            several = len(self.refs.levels) > 1 and len(matches) == len(self.refs.levels)
            self.ticks.append("any" if several else matches[0] if len(matches) == 1 else None)
        return data

    def render_frame_of_file_bytes(self, size):
        return size // FRAME_BYTES - (self.offset or 0)

    def first_tick_at(self, level):
        for t, got in enumerate(self.ticks):
            if got == level:
                return t
        return None

    def summary(self):
        counts = {}
        for got in self.ticks:
            counts[got] = counts.get(got, 0) + 1
        return counts

    def check_sequence(self, expected_levels):
        """Matched ticks run through expected_levels in order; few ticks match nothing."""
        order = [got for got in self.ticks if got not in ("any", None)]
        position = 0
        for got in order:
            while position < len(expected_levels) and expected_levels[position] != got:
                position += 1
            check(position < len(expected_levels),
                  "tick levels out of order: %s" % compress(self.ticks))
        unmatched = sum(1 for got in self.ticks if got is None)
        check(len(self.ticks) > 0, "no tick in the disk file")
        check(unmatched <= max(2, len(self.ticks) // 50),
              "%d of %d ticks match no offline render (underruns?): %s" %
              (unmatched, len(self.ticks), compress(self.ticks)))
        return unmatched


def compress(ticks):
    runs = []
    for got in ticks:
        if runs and runs[-1][0] == got:
            runs[-1][1] += 1
        else:
            runs.append([got, 1])
    return " ".join("%sx%d" % (g, n) for g, n in runs)


# --- tmux -----------------------------------------------------------------------------------

class Pane:
    """One tmux server with one pane running an interactive bash, on a private socket."""

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

    def tmux(self, *args):
        result = subprocess.run(["tmux", "-S", self.socket] + list(args), capture_output=True, text=True,
                                env=self.env)
        if result.returncode != 0:
            raise Failure("tmux %s: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def lines(self):
        global LAST_SCREEN
        LAST_SCREEN = self.tmux("capture-pane", "-p", "-t", "e2e")
        return LAST_SCREEN.split("\n")

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

    def shell_pid(self):
        return int(self.flag("pane_pid"))

    def child_pid(self, name="tonewell"):
        shell = self.shell_pid()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % entry) as f:
                    stat = f.read()
            except OSError:
                continue
            comm = stat[stat.index("(") + 1:stat.rindex(")")]
            ppid = int(stat.rsplit(")", 1)[1].split()[1])
            if ppid == shell and comm == name:
                return int(entry)
        return None

    def resize(self, width, height):
        self.tmux("resize-window", "-t", "e2e", "-x", str(width), "-y", str(height))

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)


def save(artifacts, name, text):
    os.makedirs(artifacts, exist_ok=True)
    path = os.path.join(artifacts, name)
    with open(path, "w") as f:
        f.write(text.rstrip("\n") + "\n")
    return path


def panel_state(lines):
    """What the panel shows: status numbers, slider value and fill, the three bars."""
    state = {}
    for line in lines:
        m = STATUS_RE.search(line)
        if m and line.lstrip().startswith("|"):
            state["status"] = (int(m.group(1)), int(m.group(2)))
        m = SLIDER_RE.search(line)
        if m:
            state["slider"] = int(m.group(2))
            state["fill"] = m.group(1).count("#")
            state["slider_row"] = lines.index(line)
            state["track_x"] = line.index("[") + 1
            state["track_cells"] = len(m.group(1))
        m = LEVEL_RE.search(line)
        if m:
            state[m.group(1)] = len(m.group(2))
    return state


RUN_SCRIPT = "tonewell-run.sh"


def player_command(args, workdir, driver="disk", extra=""):
    """The command line typed into the pane (whose shell starts in workdir): a script that
    execs the player, so the line stays short of the pane's width. A line that wraps is
    redrawn by the shell's line editor, and the redrawing could run into the "EXIT=" line."""
    script = os.path.join(workdir, RUN_SCRIPT)
    with open(script, "w") as f:
        f.write("#!/bin/sh\ncd '%s' && SDL_AUDIODRIVER=%s SDL_DISKAUDIOFILE='%s/out.raw' exec '%s'\n"
                % (workdir, driver, workdir, args.player))
    os.chmod(script, 0o755)
    return "./%s%s; echo \"EXIT=$?\"" % (RUN_SCRIPT, extra)


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
    with open(os.path.join(pane.workdir, "stty_before.txt")) as f:
        before = f.read()
    with open(os.path.join(pane.workdir, "stty_after.txt")) as f:
        after = f.read()
    check(before == after, "terminal modes differ after the player: %r vs %r" % (before, after))
    flags = {name: pane.flag(name) for name in
             ("alternate_on", "mouse_any_flag", "mouse_button_flag", "cursor_flag", "keypad_cursor_flag")}
    check(flags == {"alternate_on": "0", "mouse_any_flag": "0", "mouse_button_flag": "0", "cursor_flag": "1",
                    "keypad_cursor_flag": "0"}, "pane modes after the player: %s" % flags)
    check(not STRAY_RE.search(capture), "stray escape codes on the screen:\n" + capture)
    check("Tonewell" not in capture, "the panel is still on the screen:\n" + capture)
    check(any("tonewell" in l for l in capture.split("\n")), "the command line is gone from the screen")
    return capture


def start_in_pane(args, pane, driver="disk", with_dump=True):
    if with_dump:
        os.makedirs(os.path.join(pane.workdir, "music"), exist_ok=True)
        shutil.copy(args.dump, os.path.join(pane.workdir, "music", "dump.txt"))
    pane.type_line("stty -g > stty_before.txt")
    pane.type_line(player_command(args, pane.workdir, driver))


# --- Cases ----------------------------------------------------------------------------------

def case_panel_plays(args, workdir):
    if not has_sound_backend(args.player):
        return 77
    frames = dump_frame_count(args.dump)
    refs = References(args.render, args.dump, workdir, (85, 86, 96))
    pane = Pane(workdir)
    try:
        start_in_pane(args, pane)
        state = poll_until(lambda: (lambda s: s if s.get("status", (0, 0))[0] > 0 else None)(panel_state(pane.lines())),
                           "Playing: N / M with N > 0")
        check(state["status"][1] == frames, "frame count %d, the dump has %d" % (state["status"][1], frames))
        check(state.get("slider") == 85, "slider shows %s, not 85" % state.get("slider"))
        save(args.artifacts, "panel_playing.txt", pane.text())

        # Bars that change: at least four different sets, the position moving on, and a
        # screen with two voices sounding at once (kept as the artefact).
        seen = set()
        first = state["status"][0]
        busy = []

        def bars_change():
            lines = pane.lines()
            s = panel_state(lines)
            if all(k in s for k in "ABC"):
                seen.add((s["A"], s["B"], s["C"]))
                if sum(1 for k in "ABC" if s[k] > 0) >= 2 and not busy:
                    busy.append("\n".join(lines))
            return len(seen) >= 4 and busy and s.get("status", (0, 0))[0] > first
        poll_until(bars_change, "four different sets of level bars, two voices at once")
        save(args.artifacts, "panel_levels.txt", busy[0])
        print("level bars seen (A, B, C): %s" % sorted(seen))

        playback = Playback(os.path.join(workdir, "out.raw"), refs)
        leads = []
        for key, level in (("Right", 86), ("PageDown", 96)):
            playback.update()
            written = playback.render_frame_of_file_bytes(file_size(playback.path))
            pane.keys(key)
            poll_until(lambda: panel_state(pane.lines()).get("slider") == level, "slider %d after %s" % (level, key))
            poll_until(lambda: (playback.update(), playback.first_tick_at(level))[1] is not None,
                       "samples at level %d after %s" % (level, key))
            t = playback.first_tick_at(level)
            start = t * TICK_FRAMES
            # The new level starts at a tick: the tick before it is whole at the old level.
            check(playback.ticks[t - 1] not in (None, level), "tick %d before the change is %s" % (t - 1, playback.ticks[t - 1]))
            check(start >= written - TICK_FRAMES,
                  "level %d in samples written before the key (tick at frame %d, %d written)" % (level, start, written))
            check(start - written <= LEVEL_LEAD_LIMIT,
                  "level %d reached the samples %d frames after the key" % (level, start - written))
            leads.append(start - written)
            print("%s: slider %d; samples at the new level from tick %d, %d frames (%.0f ms) past what the device had "
                  "when the key was sent" % (key, level, t, start - written, 1000.0 * (start - written) / RATE))
        save(args.artifacts, "panel_after_keys.txt", pane.text())

        pane.keys("q")
        expect_exit_and_restored(pane, args.artifacts, "panel_after_quit.txt")
        playback.update()
        unmatched = playback.check_sequence([85, 86, 96])
        print("ticks in the disk file: %s (%d unmatched)" % (compress(playback.ticks), unmatched))
    finally:
        pane.close()
    return 0


def case_panel_no_audio(args, workdir):
    frames = dump_frame_count(args.dump)
    pane = Pane(workdir)
    try:
        start_in_pane(args, pane, driver=NO_SUCH_DRIVER)
        wanted = "Playing: 0 / %d" % frames
        poll_until(lambda: wanted in pane.text(), wanted)
        pane.keys("Right")
        poll_until(lambda: panel_state(pane.lines()).get("slider") == 86, "slider 86")
        state = panel_state(pane.lines())
        check(state.get("status") == (0, frames), "status %s with no audio device" % (state.get("status"),))
        check((state.get("A"), state.get("B"), state.get("C")) == (0, 0, 0), "bars show levels with no audio")
        save(args.artifacts, "panel_no_audio.txt", pane.text())
        check(file_size(os.path.join(workdir, "out.raw")) == 0, "sound was written with no audio device")
        pane.keys("q")
        expect_exit_and_restored(pane, args.artifacts, "panel_no_audio_after_quit.txt")
    finally:
        pane.close()
    return 0


def case_panel_no_dump(args, workdir):
    pane = Pane(workdir)
    try:
        start_in_pane(args, pane, with_dump=False)
        # The refresh writes the status before the bars: wait until the whole refresh is drawn.
        def refreshed():
            if "Playing: 0 / 0" not in pane.text():
                return None
            state = panel_state(pane.lines())
            return state if all(bar in state for bar in "ABC") else None
        state = poll_until(refreshed, "Playing: 0 / 0 with the three bars")
        check((state.get("A"), state.get("B"), state.get("C")) == (0, 0, 0), "bars show levels with no dump")
        save(args.artifacts, "panel_no_dump.txt", pane.text())
        pane.keys("q")
        expect_exit_and_restored(pane, args.artifacts, "panel_no_dump_after_quit.txt")
    finally:
        pane.close()
    return 0


def case_panel_close_requests(args, workdir):
    requests = [("key", "Escape"), ("key", "C-c"), ("key", "C-d"), ("signal", signal.SIGTERM),
                ("signal", signal.SIGHUP)]
    for kind, what in requests:
        run_dir = tempfile.mkdtemp(dir=workdir)
        pane = Pane(run_dir)
        try:
            start_in_pane(args, pane)
            poll_until(lambda: "Playing: " in pane.text(), "the panel")
            pid = poll_until(lambda: pane.child_pid(), "the player's process")
            if kind == "key":
                pane.keys(what)
            else:
                poll_until(lambda: what in caught_signals(pid), "the player's close-signal handlers")
                os.kill(pid, what)
            name = what if kind == "key" else signal.Signals(what).name
            expect_exit_and_restored(pane, args.artifacts, "panel_closed_by_%s.txt" % name)
            print("%s: exit code 0, terminal restored" % name)
        finally:
            pane.close()
    return 0


def case_panel_mouse_and_resize(args, workdir):
    pane = Pane(workdir)
    try:
        start_in_pane(args, pane, driver=NO_SUCH_DRIVER)
        state = poll_until(lambda: (lambda s: s if "Playing: " in pane.text() and "slider" in s else None)(
            panel_state(pane.lines())), "the panel")
        cells = state["track_cells"]

        def mouse(code, cell, row_offset=0):
            x = state["track_x"] + cell
            y = state["slider_row"] + row_offset
            pane.raw(b"\x1b[M" + bytes([32 + code, 33 + x, 33 + y]))

        # Press on track cell 11, drag to cell 19, release there (xterm's X10 reports).
        mouse(0, 11)
        expected = (11 * 100 * 2 + (cells - 1)) // (2 * (cells - 1))
        poll_until(lambda: panel_state(pane.lines()).get("slider") == expected, "slider %d after a click" % expected)
        mouse(32, 19)
        expected = (19 * 100 * 2 + (cells - 1)) // (2 * (cells - 1))
        poll_until(lambda: panel_state(pane.lines()).get("slider") == expected, "slider %d after a drag" % expected)
        mouse(3, 19)
        # A key after each group of mouse reports: once its movement shows, the reports
        # before it have been taken one by one.
        pane.keys("Left")
        poll_until(lambda: panel_state(pane.lines()).get("slider") == expected - 1, "slider %d" % (expected - 1))
        mouse(0, cells + 5)  # press and release past the right bracket, off the bar: nothing
        mouse(3, cells + 5)
        pane.keys("Left")
        poll_until(lambda: panel_state(pane.lines()).get("slider") == expected - 2, "slider %d" % (expected - 2))
        save(args.artifacts, "panel_mouse.txt", pane.text())

        for width, height in ((100, 30), (44, 12)):
            pane.resize(width, height)

            def centred():
                lines = pane.lines()
                if len(lines) < height:
                    return False
                top = next((i for i, l in enumerate(lines) if "Tonewell =)" in l), None)
                if top is None:
                    return False
                title = lines[top]
                left = len(title) - len(title.lstrip())
                panel_width = len(title.strip())
                bottom = top + 8
                return (left == (width - panel_width) // 2 and top == (height - 9) // 2 and bottom < len(lines)
                        and lines[bottom].strip() == "+" + "-" * (panel_width - 2) + "+" and
                        "Playing: 0 / " in "\n".join(lines[top:bottom]))
            poll_until(centred, "the panel redrawn centred in %dx%d" % (width, height))
            save(args.artifacts, "panel_resized_%dx%d.txt" % (width, height), pane.text())
        pane.resize(80, 24)
        pane.keys("q")
        expect_exit_and_restored(pane, args.artifacts, "panel_mouse_after_quit.txt")
    finally:
        pane.close()
    return 0


def case_panel_stdout_redirected(args, workdir):
    """Standard output to a file inside a terminal: the display-less layer, nothing drawn,
    Ctrl-C (SIGINT from the terminal) closes with exit code 0."""
    pane = Pane(workdir)
    try:
        os.makedirs(os.path.join(workdir, "music"), exist_ok=True)
        shutil.copy(args.dump, os.path.join(workdir, "music", "dump.txt"))
        pane.type_line("stty -g > stty_before.txt")
        pane.type_line(player_command(args, workdir, extra=" > stdout.txt"))
        pid = poll_until(lambda: pane.child_pid(), "the player's process")
        poll_until(lambda: signal.SIGINT in caught_signals(pid), "the player's close-signal handlers")
        if has_sound_backend(args.player):
            size = file_size(os.path.join(workdir, "out.raw"))
            poll_until(lambda: file_size(os.path.join(workdir, "out.raw")) > size + RATE * FRAME_BYTES // 2,
                       "the disk file to grow")
        check(pane.flag("alternate_on") == "0" and "Tonewell" not in pane.text(), "a panel was drawn")
        pane.keys("C-c")
        expect_exit_and_restored(pane, args.artifacts, "stdout_redirected_after_ctrl_c.txt")
        check(file_size(os.path.join(workdir, "stdout.txt")) == 0, "the player wrote to standard output")
    finally:
        pane.close()
    return 0


def case_background_job(args, workdir):
    """Started with & from an interactive shell: stdin and stdout are the terminal, but the
    job is not in the foreground; it plays without a panel and is not stopped."""
    pane = Pane(workdir)
    try:
        os.makedirs(os.path.join(workdir, "music"), exist_ok=True)
        shutil.copy(args.dump, os.path.join(workdir, "music", "dump.txt"))
        pane.type_line("stty -g > stty_before.txt")
        pane.type_line("cd %s" % workdir)
        pane.type_line("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=%s/out.raw %s & echo \"JOB=$!\""
                       % (workdir, args.player))
        line = poll_until(lambda: next((l for l in pane.lines() if l.startswith("JOB=")), None), "the job's pid")
        pid = int(line[4:])
        poll_until(lambda: signal.SIGTERM in caught_signals(pid), "the player's close-signal handlers")
        if has_sound_backend(args.player):
            size = file_size(os.path.join(workdir, "out.raw"))
            poll_until(lambda: file_size(os.path.join(workdir, "out.raw")) > size + RATE * FRAME_BYTES // 2,
                       "the background player's disk file to grow")
        check(process_state(pid) not in ("T", "t", None), "the background job was stopped")
        check(pane.flag("alternate_on") == "0" and "Tonewell" not in pane.text(), "a background job drew a panel")
        pane.type_line("kill -TERM %d; wait %d; echo \"EXIT=$?\"" % (pid, pid))
        expect_exit_and_restored(pane, args.artifacts, "background_job_after_sigterm.txt")
    finally:
        pane.close()
    return 0


def start_without_terminal(args, run_dir, driver):
    os.makedirs(os.path.join(run_dir, "music"), exist_ok=True)
    shutil.copy(args.dump, os.path.join(run_dir, "music", "dump.txt"))
    env = clean_env()
    env["SDL_AUDIODRIVER"] = driver
    env["SDL_DISKAUDIOFILE"] = os.path.join(run_dir, "out.raw")
    stdout = open(os.path.join(run_dir, "stdout.txt"), "wb")
    stderr = open(os.path.join(run_dir, "stderr.txt"), "wb")
    process = subprocess.Popen([args.player], cwd=run_dir, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                               stderr=stderr, start_new_session=True)
    stdout.close()
    stderr.close()
    return process


def close_with_signal(process, signum):
    """Sends signum once the handlers are in; returns (exit code, seconds until the exit)."""
    poll_until(lambda: signum in caught_signals(process.pid), "the player's close-signal handlers")
    watchdog = threading.Timer(10.0, lambda: process.kill())
    watchdog.start()
    start = time.monotonic()
    os.kill(process.pid, signum)
    code = process.wait()  # blocking waitpid: the exit is seen when it happens
    elapsed = time.monotonic() - start
    watchdog.cancel()
    return code, elapsed


def case_no_terminal_plays(args, workdir):
    if not has_sound_backend(args.player):
        return 77
    refs = References(args.render, args.dump, workdir, (85,))
    process = start_without_terminal(args, workdir, "disk")
    try:
        playback = Playback(os.path.join(workdir, "out.raw"), refs)
        poll_until(lambda: (playback.update(), len(playback.ticks) >= 100)[1], "two seconds of music in the disk file")
        code, elapsed = close_with_signal(process, signal.SIGTERM)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    playback.update()
    unmatched = playback.check_sequence([85])
    check(code == 0, "exit code %s after SIGTERM" % code)
    check(elapsed < CLOSE_LIMIT_S, "SIGTERM took %.3f s to end the player" % elapsed)
    check(file_size(os.path.join(workdir, "stdout.txt")) == 0, "the player wrote to standard output")
    print("no terminal: %d ticks played (%s), SIGTERM -> exit 0 in %.1f ms" %
          (len(playback.ticks), compress(playback.ticks), elapsed * 1000))
    return 0


def case_no_terminal_signals(args, workdir):
    driver = "disk" if has_sound_backend(args.player) else NO_SUCH_DRIVER
    latencies = []
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP) * 3:
        run_dir = tempfile.mkdtemp(dir=workdir)
        process = start_without_terminal(args, run_dir, driver)
        try:
            if driver == "disk":
                poll_until(lambda: file_size(os.path.join(run_dir, "out.raw")) > 0, "the disk file")
            code, elapsed = close_with_signal(process, signum)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        name = signal.Signals(signum).name
        check(code == 0, "exit code %s after %s" % (code, name))
        check(elapsed < CLOSE_LIMIT_S, "%s took %.3f s to end the player" % (name, elapsed))
        latencies.append((name, elapsed))
    print("close latency without a terminal (%s): %s; longest %.1f ms" %
          (driver, ", ".join("%s %.1f ms" % (n, e * 1000) for n, e in latencies), max(e for _, e in latencies) * 1000))
    return 0


ODD_DUMPS = ("fifo_no_writer", "fifo_silent_writer", "dev_zero", "directory")


def make_odd_dump(run_dir, kind):
    """music/dump.txt as something that is not a regular file; returns what must stay open
    while the player runs (the silent writer's descriptor), or None."""
    music = os.path.join(run_dir, "music")
    os.makedirs(music, exist_ok=True)
    dump = os.path.join(music, "dump.txt")
    if kind == "directory":
        os.mkdir(dump)
    elif kind == "dev_zero":
        os.symlink("/dev/zero", dump)
    else:
        os.mkfifo(dump)
        if kind == "fifo_silent_writer":
            return os.open(dump, os.O_RDWR | os.O_NONBLOCK)  # a writer that never writes
    return None


def case_panel_odd_dumps(args, workdir):
    """A FIFO with and without a writer, /dev/zero and a directory as music/dump.txt: the panel
    comes up with no dump ("Playing: 0 / 0") and q ends the player within a second, exit 0."""
    for kind in ODD_DUMPS:
        run_dir = tempfile.mkdtemp(dir=workdir)
        writer = make_odd_dump(run_dir, kind)
        pane = Pane(run_dir)
        try:
            start_in_pane(args, pane, with_dump=False)
            poll_until(lambda: "Playing: 0 / 0" in pane.text(), "%s: Playing: 0 / 0" % kind, timeout_s=5)
            start = time.monotonic()
            pane.keys("q")
            poll_until(lambda: any(EXIT_RE.search(l) for l in pane.lines()), "%s: the exit after q" % kind,
                       timeout_s=5, interval_s=0.005)
            elapsed = time.monotonic() - start
            expect_exit_and_restored(pane, args.artifacts, "panel_odd_dump_%s.txt" % kind)
            check(elapsed < 1.0, "%s: q took %.3f s to end the player" % (kind, elapsed))
            print("%s: no dump, q -> exit 0 in %.1f ms, terminal restored" % (kind, elapsed * 1000))
        finally:
            pane.close()
            if writer is not None:
                os.close(writer)
    return 0


def case_no_terminal_odd_dumps(args, workdir):
    """The same dumps without a terminal: SIGTERM ends the player within a second, exit 0."""
    for kind in ODD_DUMPS:
        run_dir = tempfile.mkdtemp(dir=workdir)
        writer = make_odd_dump(run_dir, kind)
        env = clean_env()
        env["SDL_AUDIODRIVER"] = NO_SUCH_DRIVER
        process = subprocess.Popen([args.player], cwd=run_dir, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            code, elapsed = close_with_signal(process, signal.SIGTERM)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            if writer is not None:
                os.close(writer)
        check(code == 0, "%s: exit code %s after SIGTERM" % (kind, code))
        check(elapsed < 1.0, "%s: SIGTERM took %.3f s to end the player" % (kind, elapsed))
        print("%s: SIGTERM -> exit 0 in %.1f ms" % (kind, elapsed * 1000))
    return 0


LOSS_FS_BYTES = 1 << 20          # the tmpfs the disk driver writes to
LOSS_FIRST_DEVICE_BYTES = 1 << 18  # room the first device finds: about 1.5 s of sound
LOSS_AFTER_FRAMES = 3 * RATE       # sound the device after the loss must write before the quit
RING_FRAMES = 7072


def mounted_tmpfs(path, size):
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tonewell-loss", path],
                          capture_output=True).returncode == 0


def free_bytes(path):
    st = os.statvfs(path)
    return st.f_bavail * st.f_frsize


def case_panel_device_loss(args, workdir):
    """The disk driver's file system fills up (SDL stops the device: lost) and is then freed:
    the panel keeps running and redrawing, the position shown never goes back, and the sound of
    the device opened after the loss is, after SDL's leading silence, exactly tonewell-render's
    from the point where it resumed. Runs in a private mount namespace (unshare -m) as root."""
    if not has_sound_backend(args.player):
        return 77
    fs = os.path.join(workdir, "fs")
    os.makedirs(fs)
    if not mounted_tmpfs(fs, LOSS_FS_BYTES):
        print("cannot mount a tmpfs (needs root in a private mount namespace)")
        return 77
    try:
        filler = os.path.join(fs, "filler")
        with open(filler, "wb") as f:
            f.write(bytes(LOSS_FS_BYTES - LOSS_FIRST_DEVICE_BYTES))
        device_dir = os.path.join(fs, "device")
        os.makedirs(device_dir)
        out = os.path.join(device_dir, "out.raw")
        frames = dump_frame_count(args.dump)
        pane = Pane(workdir)
        try:
            os.makedirs(os.path.join(workdir, "music"), exist_ok=True)
            shutil.copy(args.dump, os.path.join(workdir, "music", "dump.txt"))
            pane.type_line("stty -g > stty_before.txt")
            command = player_command(args, workdir)
            with open(os.path.join(workdir, RUN_SCRIPT)) as f:
                script = f.read().replace("%s/out.raw" % workdir, out)
            with open(os.path.join(workdir, RUN_SCRIPT), "w") as f:
                f.write(script)
            pane.type_line(command)
            shown = []   # every position read from the panel, in order
            texts = set()

            def watch():
                state = panel_state(pane.lines())
                if "status" in state:
                    index = state["status"][0]
                    if shown and index < shown[-1] and not (index == 0 and shown[-1] >= frames - 3):
                        raise Failure("the position shown went back from %d to %d" % (shown[-1], index))
                    shown.append(index)
                    texts.add((index, state.get("A"), state.get("B"), state.get("C")))
                return state

            poll_until(lambda: watch().get("status", (0, 0))[0] > 0, "Playing: N / M with N > 0")
            poll_until(lambda: (watch(), free_bytes(fs) < 4096)[1], "the file system to fill up")
            seen_at_full = len(texts)
            # The device is lost; the panel keeps running: a resize is redrawn at once.
            pane.resize(100, 30)
            def centred_in_100():
                watch()
                title = next((l for l in pane.lines() if "Tonewell =)" in l), None)
                return title is not None and len(title) - len(title.lstrip()) == (100 - len(title.strip())) // 2
            poll_until(centred_in_100, "the panel redrawn after a resize during the loss")
            # The stream reopens the device: SDL's disk driver starts its file anew (it shrinks),
            # in the space the lost device had. Then the space is freed for good.
            largest = [file_size(out)]

            def started_anew():
                watch()
                size = file_size(out)
                largest[0] = max(largest[0], size)
                return size < largest[0]
            poll_until(started_anew, "the reopened device to start its file anew")
            os.remove(filler)
            poll_until(lambda: (watch(), file_size(out) >= (LOSS_AFTER_FRAMES + RING_FRAMES) * FRAME_BYTES)[1],
                       "%d s of sound after the space was freed" % (LOSS_AFTER_FRAMES // RATE), timeout_s=60)
            check(free_bytes(fs) > 4096, "the file system filled up again")
            poll_until(lambda: len(texts) > seen_at_full + 3, "the panel to show new positions after the loss")
            pane.resize(80, 24)
            pane.keys("q")
            expect_exit_and_restored(pane, args.artifacts, "panel_device_loss_after_quit.txt")
        finally:
            pane.close()
        with open(out, "rb") as f:
            audio = f.read()
    finally:
        subprocess.run(["umount", "-l", fs], capture_output=True)
    audio = audio[:len(audio) - len(audio) % FRAME_BYTES]
    start = first_nonzero_frame(audio)
    check(start is not None, "the device after the loss wrote only silence")
    music = audio[start * FRAME_BYTES:]
    # Where the new device's music sits in the offline render: the position shown at the end
    # bounds how far the render must go (the ring's lead and a margin on top).
    last = max(shown)
    offline = render_reference(args.render, args.dump, (last + 100) * TICK_FRAMES, "0.85",
                               os.path.join(workdir, "offline.raw"))
    probe = music[:2000 * FRAME_BYTES]
    at = offline.find(probe)
    while at >= 0 and at % FRAME_BYTES:
        at = offline.find(probe, at + 1)
    check(at >= 0, "the sound after the loss is nowhere in the offline rendering")
    # The music ends with the quit: the tail after the device's last block may be SDL's silence.
    played = music.rstrip(b"\0")
    played = played + bytes((-len(played)) % FRAME_BYTES)
    check(offline[at:at + len(played)] == played,
          "the sound after the loss differs from the offline rendering from frame %d" % (at // FRAME_BYTES))
    print("after the loss: %d frames of SDL's silence, then %d frames equal to tonewell-render from frame %d "
          "(tick %.2f); positions shown: %d readings, %d distinct panels, never back" %
          (start, len(played) // FRAME_BYTES, at // FRAME_BYTES, at / FRAME_BYTES / TICK_FRAMES, len(shown), len(texts)))
    return 0


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--player", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--dump", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    for name in ("player", "render", "dump", "artifacts"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if args.case.startswith("panel") or args.case == "background_job":
        if not shutil.which("tmux"):
            print("tmux is not installed")
            return 1
    if args.case == "panel_device_loss" and os.environ.get("TONEWELL_PRIVATE_MOUNTS") != "1":
        # Its tmpfs goes into a mount namespace of its own, with the tmux server and the player.
        if os.geteuid() != 0 or not shutil.which("unshare"):
            print("SKIP %s: needs root and unshare for a private mount namespace" % args.case)
            return 77
        os.environ["TONEWELL_PRIVATE_MOUNTS"] = "1"
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv)
    workdir = tempfile.mkdtemp(prefix="tonewell-e2e-")
    try:
        result = CASES[args.case](args, workdir)
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        if LAST_SCREEN is not None:
            print("last screen kept in " + save(args.artifacts, "%s_failure.txt" % args.case, LAST_SCREEN))
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    if result == 77:
        print("SKIP %s: the player has no SDL sound backend" % args.case)
        return 77
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
