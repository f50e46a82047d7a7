#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The player end to end, in a private X server with openbox as the window manager.

    x11_e2e.py --player TONEWELL --probe LABEL_PROBE --render TONEWELL_RENDER
               --close-log CLOSE_LOG_SHIM --music DUMP --artifacts DIR [--wm WM] [CASE...]

Each CASE starts its own X server and runs the player from a fresh directory holding the
case's music/dump.txt. Sound goes through SDL's disk driver into a file that the case reads:
the device plays its ring of 8 blocks once silent, then exactly what tonewell-render makes of
the same dump, so every tick's worth of sound can be compared sample for sample.

Label texts are read by comparing the window's pixels with the same texts drawn by the label
probe on the same server. A preloaded shim notes when the player closes its sound device and
destroys its window. Every wait is a bounded poll for a condition.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_support import (FRAME_BYTES, MANAGERS, MAX_DUMP_FRAMES, RING_FRAMES, SAMPLE_RATE, TICK_FRAMES,  # noqa: E402
                         Case, Failure, X11Session, check, die_with_parent, dump_frames, main, read_file,
                         render_reference, runs, sound_start, tick_matches, wait_for)

TITLE = "Tonewell =)"
TITLE_PATTERN = r"^Tonewell =\)$"
CLIENT_W, CLIENT_H = 140, 100
STATUS_RECT = (10, 10, 110, 20)
LEVEL_RECTS = [(10, 30, 110, 14), (10, 43, 110, 14), (10, 56, 110, 14)]
SLIDER_RECT = (6, 75, 130, 18)
CLOSE_LIMIT_S = 0.5
WAIT_S = 15.0
# A steady tone on channel A at full volume: every tick's worth of sound is loud and unlike
# silence at any level above 0.
TONE_LINE = "00 01 00 00 00 00 00 3E 0F 00 00 00 00 FF"

log = print


# ---------------------------------------------------------------------------------------------
# Pictures: PPM images of windows, cropped into label rectangles.

class Image:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def crop(self, x, y, w, h):
        """The rectangle as a tuple of rows, each row the bytes of w RGB pixels."""
        rows = []
        for j in range(y, y + h):
            start = (j * self.width + x) * 3
            rows.append(self.pixels[start:start + w * 3])
        return tuple(rows)


def parse_ppm(data):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError("not an 8-bit PPM image")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    return Image(width, height, pixels)


def capture(session, window):
    """A picture of the window ("root": the whole screen), or None."""
    out = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"], env=session.env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if out.returncode != 0 or not out.stdout:
        return None
    image = parse_ppm(out.stdout)
    image.ppm = out.stdout
    return image


def save_png(session, image, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["convert", "ppm:-", path], input=image.ppm, check=True)


def column(crop, c):
    return tuple(row[3 * c:3 * c + 3] for row in crop)


def ink_columns(crop):
    """Columns that hold anything but the label's background (its top-left pixel)."""
    background = crop[0][0:3]
    return [c for c in range(len(crop[0]) // 3) if any(px != background for px in column(crop, c))]


def columns(crop, first, last):
    return tuple(row[3 * first:3 * (last + 1)] for row in crop)


class Probe:
    """Reference pictures of label texts, drawn by the label probe on the session's server."""

    def __init__(self, session, probe_path, texts):
        """texts: (height, text) pairs."""
        args = [probe_path] + ["%d:%s" % (h, t) for h, t in texts]
        errors = tempfile.TemporaryFile()
        proc = subprocess.Popen(args, env=session.env, stdout=subprocess.PIPE, stderr=errors,
                                preexec_fn=die_with_parent)
        try:
            lines = read_lines_until(proc, b"ready", WAIT_S)
            if lines is None:
                errors.seek(0)
                raise Failure("the label probe did not report its labels within %.1f s (%s; stderr: %r)%s" %
                                  (WAIT_S, "running" if proc.poll() is None else "exit code %d" % proc.returncode,
                                   errors.read()[-2000:].decode(errors="replace"),
                                   describe_windows(session, r"^Tonewell probe$")))
            rects = [tuple(int(v) for v in line.split()) for line in lines]
            check(len(rects) == len(texts), "the label probe did not draw its labels")
            window = wait_for(lambda: find_window(session, r"^Tonewell probe$"), WAIT_S, "the probe window")
            image = wait_for(lambda: capture(session, window), WAIT_S, "a picture of the probe window")
            self.pictures = {}
            for (h, text), (x, y, w, hh) in zip(texts, rects):
                self.pictures[(h, text)] = image.crop(x, y, w, hh)
        finally:
            proc.send_signal(signal.SIGTERM)
            try:
                code = proc.wait(timeout=WAIT_S)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                code = None
            errors.close()
        check(code == 0, "the label probe did not end cleanly (%s)" %
              ("still running %.1f s after SIGTERM" % WAIT_S if code is None else "exit code %d" % code))

    def __getitem__(self, key):
        return self.pictures[key]


def read_lines_until(proc, last, timeout_s):
    """The lines proc writes to its standard output before the line last, or None when that
    line does not come within timeout_s (or the output ends first)."""
    deadline = time.monotonic() + timeout_s
    fd = proc.stdout.fileno()
    data = b""
    while True:
        lines = data.split(b"\n")
        if last in lines[:-1]:
            return [line.decode().strip() for line in lines[:lines.index(last)]]
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        chunk = os.read(fd, 65536)
        if not chunk:
            return None
        data += chunk


def probe_texts(frame_counts):
    status = [(20, "Loading..."), (20, ""), (20, "Playing: ")]
    for m in frame_counts:
        status += [(20, "Playing: 0 / %d" % m), (20, " / %d" % m)]
    levels = [(14, "")]
    for letter in "ABC":
        levels += [(14, "%s: %s" % (letter, "-" * n)) for n in range(16)]
    return status + levels


def read_status(probe, crop, frame_count):
    """'loading', 'zero' (Playing: 0 / M), 'playing' (Playing: N / M with other digits
    between the prefix and the suffix), or None when the label shows anything else."""
    if crop == probe[(20, "Loading...")]:
        return "loading"
    if crop == probe[(20, "Playing: 0 / %d" % frame_count)]:
        return "zero"
    prefix = probe[(20, "Playing: ")]
    prefix_end = ink_columns(prefix)[-1]
    if columns(crop, 0, prefix_end) != columns(prefix, 0, prefix_end):
        return None
    suffix = probe[(20, " / %d" % frame_count)]
    ink = ink_columns(suffix)
    s0, s1 = ink[0], ink[-1]
    want = columns(suffix, s0, s1)
    width = len(crop[0]) // 3
    crop_ink = ink_columns(crop)
    for dx in range(prefix_end + 2, width - (s1 - s0)):
        if columns(crop, dx, dx + s1 - s0) != want:
            continue
        digits = [c for c in crop_ink if prefix_end < c < dx]
        after = [c for c in crop_ink if c > dx + s1 - s0]
        if digits and not after:
            return "playing"
    return None


def read_level(probe, crop, letter):
    """The number of hyphens the level label shows, or None."""
    for n in range(16):
        if crop == probe[(14, "%s: %s" % (letter, "-" * n))]:
            return n
    return None


def read_labels(probe, image, frame_count, origin=(0, 0)):
    """(status, levels) of the client area whose top-left corner is at origin in image."""
    ox, oy = origin
    if image is None or image.width < ox + CLIENT_W or image.height < oy + CLIENT_H:
        return None
    status = read_status(probe, image.crop(ox + STATUS_RECT[0], oy + STATUS_RECT[1], *STATUS_RECT[2:]), frame_count)
    levels = []
    for letter, (x, y, w, h) in zip("ABC", LEVEL_RECTS):
        crop = image.crop(ox + x, oy + y, w, h)
        levels.append("" if crop == probe[(14, "")] else read_level(probe, crop, letter))
    return status, levels


# ---------------------------------------------------------------------------------------------
# The window, as the X server and the window manager see it.

def find_window(session, pattern=TITLE_PATTERN):
    out = session.run(["xdotool", "search", "--onlyvisible", "--name", pattern], check=False).split()
    return int(out[0]) if len(out) == 1 else None


def window_state(session, window):
    """(map state, WM_STATE) of the window: ("IsViewable", "Normal") while it is shown."""
    info = session.run(["xwininfo", "-id", str(window)], check=False)
    state = re.search(r"Map State:\s*(\w+)", info)
    managed = re.search(r"window state:\s*(\w+)", session.run(["xprop", "-id", str(window), "WM_STATE"], check=False))
    return (state.group(1) if state else None, managed.group(1) if managed else None)


def describe_windows(session, pattern=TITLE_PATTERN):
    """What the X server and the window manager know of the windows whose title matches, shown
    or not: for a failure message."""
    try:
        out = []
        for window in session.run(["xdotool", "search", "--name", pattern], check=False).split():
            mapped, managed = window_state(session, window)
            at = re.findall(r"Absolute upper-left [XY]:\s+(-?\d+)", session.run(["xwininfo", "-id", window], check=False))
            out.append("window %s: %s, %s, at %s" % (window, mapped or "?",
                       "WM_STATE " + managed if managed else "not managed by the window manager", ",".join(at)))
        clients = session.run(["xprop", "-root", "_NET_CLIENT_LIST"], check=False).strip()
        return "; X: %s; %s" % ("; ".join(out) if out else "no window titled so", clients)
    except (RuntimeError, TimeoutError) as error:
        return "; X: unknown (%s)" % error


def geometry(session, window):
    out = session.run(["xwininfo", "-id", str(window)])
    def value(name):
        return int(re.search(r"%s:\s+(-?\d+)" % re.escape(name), out).group(1))
    return value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")


def frame_extents(session, window):
    out = session.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"])
    m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
    return tuple(int(v) for v in m.groups()) if m else None


def screen_size(session):
    w, h = session.run(["xdotool", "getdisplaygeometry"]).split()
    return int(w), int(h)


def centred_geometry(session, window):
    """(client x, y, w, h, frame extents) once the window manager has framed the window and
    the player has centred the frame on the screen. The player places its window twice: by
    the client size when it maps the window, then, once the frame's size is known, by the
    frame's; the window manager carries the second move out a little later, so geometry read
    straight after the window appears may still be the first placement's."""
    sw, sh = screen_size(session)
    seen = []

    def centred():
        x, y, w, h = geometry(session, window)
        extents = frame_extents(session, window)
        seen[:] = [(x, y, w, h, extents)]
        if not extents:
            return None
        left, right, top, bottom = extents
        outer_w, outer_h = w + left + right, h + top + bottom
        if (x - left, y - top) != ((sw - outer_w) // 2, (sh - outer_h) // 2):
            return None
        return x, y, w, h, extents

    try:
        return wait_for(centred, WAIT_S, "the centred frame")
    except TimeoutError:
        x, y, w, h, extents = seen[0] if seen else (None,) * 5
        raise Failure("the frame is not centred on the %dx%d screen: client %sx%s at %s,%s, frame extents %s" %
                          ((sw, sh, w, h, x, y, extents)))


def wait_for_focus(session, window):
    """Waits until the window has the keyboard focus, where key presses go."""
    wait_for(lambda: session.run(["xdotool", "getwindowfocus"], check=False).strip() == str(window), WAIT_S,
             "the keyboard focus on the player's window")


# ---------------------------------------------------------------------------------------------
# The player and its sound.

class Player:
    started = []  # every player of the case, ended at the case's end whatever happened

    def __init__(self, session, args, workdir, audio_file=None, driver="disk", load_gate=None):
        env = dict(session.env)
        if load_gate:
            env["TONEWELL_LOAD_GATE"] = load_gate
        env["SDL_AUDIODRIVER"] = driver
        if audio_file:
            env["SDL_DISKAUDIOFILE"] = audio_file
        self.audio_file = audio_file
        self.device_expected = driver == "disk"
        self.number = len(Player.started)
        self.close_log = os.path.join(workdir, "close-%d.log" % self.number)
        self.errors_path = os.path.join(workdir, "stderr-%d.txt" % self.number)
        env["LD_PRELOAD"] = args.close_log
        env["TONEWELL_CLOSE_LOG"] = self.close_log
        with open(self.errors_path, "wb") as errors:
            self.proc = subprocess.Popen([args.player], cwd=workdir, env=env, stdout=subprocess.DEVNULL,
                                         stderr=errors, preexec_fn=die_with_parent)
        Player.started.append(self)

    def window(self, session):
        """The player's window once it is shown. A failure names what the X server knows of
        the window (the player's own state follows in the case's failure report)."""
        def shown():
            check(self.running(), "the player ended before its window was shown")
            return find_window(session)
        try:
            return wait_for(shown, WAIT_S, "the player's window")
        except (Failure, TimeoutError) as failure:
            raise Failure("%s%s" % (failure, describe_windows(session)))

    def report(self):
        """The player's state and standard error, for a failure message."""
        state = "running" if self.running() else "ended with exit code %d" % self.proc.returncode
        try:
            with open(self.errors_path, "rb") as f:
                errors = f.read()[-2000:].decode(errors="replace")
        except FileNotFoundError:
            errors = ""
        return "player %d %s, stderr: %r" % (self.number, state, errors)

    def running(self):
        return self.proc.poll() is None

    def audio(self):
        return read_file(self.audio_file) if self.audio_file else b""

    def frames(self):
        return len(self.audio()) // FRAME_BYTES

    def close_and_time(self, request):
        """Makes the close request, returns (exit code, seconds from the request to the exit)."""
        check(self.running(), "the player ended before the close request")
        start = time.monotonic()
        request()
        code = wait_for(lambda: self.proc.poll() is not None, WAIT_S, "the player to end") and self.proc.returncode
        return code, time.monotonic() - start

    def close_events(self):
        try:
            with open(self.close_log) as f:
                return f.read().split()
        except FileNotFoundError:
            return []

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait()


def render(args, dump, frames, level):
    return render_reference(args.render, dump, frames, level)


def expect_rendered(audio, reference, what):
    """The sound file holds silence, then exactly the reference from its first frame on."""
    start = sound_start(audio, reference)
    check(start is not None, "%s: the rendered sound is not in the file" % what)
    check(audio[:start * FRAME_BYTES].count(0) == start * FRAME_BYTES, "%s: sound before the rendering" % what)
    frames = len(audio) // FRAME_BYTES - start
    check(audio[start * FRAME_BYTES:] == reference[:frames * FRAME_BYTES], "%s: differs from the offline rendering" % what)
    log("%s: silence for %d frames (%.2f passes of the ring), then %d frames equal to the offline rendering" %
        (what, start, start / RING_FRAMES, frames))
    return start, frames


def tick_blocks(audio, references, first="H"):
    """Classifies each complete tick's worth of sound from the start of the rendering (found
    with references[first]): the key of the reference it equals sample for sample, 'Z' for
    silence, '?' for anything else. Returns (start frame, classes)."""
    start = sound_start(audio, references[first])
    if start is None:
        return None, ""
    out = []
    for _, block, keys in tick_matches(audio, start, references):
        out.append(keys[0] if keys else "Z" if block.count(0) == len(block) else "?")
    return start, "".join(out)


def close_with_alt_f4(session, window):
    session.run(["xdotool", "windowactivate", "--sync", str(window)])
    return lambda: session.run(["xdotool", "key", "--clearmodifiers", "alt+F4"])


def close_with_wm(session):
    return lambda: session.run(["wmctrl", "-c", TITLE])


def expect_clean_close(player, request, how):
    code, seconds = player.close_and_time(request)
    log("close by %s: exit code %d after %.3f s" % (how, code, seconds))
    check(code == 0, "exit code %d after the close by %s" % (code, how))
    check(seconds < CLOSE_LIMIT_S, "the close by %s took %.3f s" % (how, seconds))
    if player.audio_file and os.path.exists(player.audio_file):
        check(os.path.getsize(player.audio_file) % FRAME_BYTES == 0, "the sound file ends inside a frame")
    events = player.close_events()
    check("window-destroy" in events, "the window was not destroyed")
    if player.device_expected:
        check("audio-close" in events, "the sound device was not closed")
        check(events.index("audio-close") < events.index("window-destroy"),
              "the window went before the sound device was closed: %s" % events)
        log("the sound device was closed, then the window destroyed")
    else:
        check("audio-close" not in events, "a device was closed that never opened")


def wait_for_labels(session, probe, window, frame_count, want, what, screen=False):
    """Polls pictures of the window (or of the whole screen) until its labels satisfy want;
    returns (status, levels, picture)."""
    def good():
        if screen:
            x, y, _, _ = geometry(session, window)
            image = capture(session, "root")
            labels = read_labels(probe, image, frame_count, (x, y))
        else:
            image = capture(session, window)
            labels = read_labels(probe, image, frame_count)
        return labels + (image,) if labels and want(*labels) else None
    return wait_for(good, WAIT_S, what)


def hold_the_load(work):
    """A FIFO that holds the player's load (in the preloaded shim) until release_the_load."""
    gate = os.path.join(work, "load-gate")
    os.mkfifo(gate)
    return gate


def wait_at_the_gate(gate, player):
    """Returns once the player waits at the gate (its load has begun): the FIFO then has a
    reader, and a writer's open succeeds. The write end is returned, held open so that the
    player stays at the gate until release_the_load. None when the player ends first (it may,
    when a close request came before its load began)."""
    def reader_waits():
        if not player.running():
            return "ended"
        try:
            return os.open(gate, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:  # ENXIO: nobody has the FIFO open for reading yet
            return None
    fd = wait_for(reader_waits, WAIT_S, "the player's load to reach the gate")
    return None if fd == "ended" else fd

def release_the_load(fd):
    if fd is not None:
        os.write(fd, b"x")
        os.close(fd)

# ---------------------------------------------------------------------------------------------
# The cases.

class X11Cases(Case):
    """Each case starts its own X server (with the window manager of --wm) and runs the player
    from a fresh folder holding the case's music/dump.txt."""

    def setUp(self):
        super().setUp()
        os.makedirs(os.path.join(self.work, "music"))
        shutil.copy(self.opt.music, os.path.join(self.work, "music", "dump.txt"))
        for tool in ("Xvfb", self.opt.wm, "xdotool", "xwininfo", "xprop", "xev", "import", "wmctrl"):
            check(shutil.which(tool), "missing tool: %s" % tool)
        Player.started = []
        self.reports = None
        self.session = X11Session(window_manager=True, manager=self.opt.wm)
        self.addCleanup(self.session.stop)
        self.addCleanup(self.end_players)  # cleanups run last first: the players before the server
        self.session.start()

    def end_players(self):
        if self.reports is None:
            self.reports = [player.report() for player in Player.started]
        for player in Player.started:
            player.kill()

    def describe_failure(self):
        """The players' state when the case failed, before they are ended."""
        if self.reports is None:
            self.reports = [player.report() for player in Player.started]
        return "\n".join("  " + report for report in self.reports)

    def test_window(self):
        """The window, its status with level bars, the sound of the bundled dump, Alt+F4."""
        args, session, work = self.opt, self.session, self.work
        dump = os.path.join(work, "music", "dump.txt")
        frame_count = dump_frames(dump)
        probe = Probe(session, args.probe, probe_texts([frame_count]))
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        window = player.window(session)

        x, y, w, h, (left, right, top, bottom) = centred_geometry(session, window)
        check((w, h) == (CLIENT_W, CLIENT_H), "client area %dx%d" % (w, h))
        sw, sh = screen_size(session)
        outer = (x - left, y - top, w + left + right, h + top + bottom)
        log("client %dx%d at %d,%d; frame %dx%d at %d,%d on a %dx%d screen" %
            (w, h, x, y, outer[2], outer[3], outer[0], outer[1], sw, sh))
        check(outer[0] == (sw - outer[2]) // 2 and outer[1] == (sh - outer[3]) // 2, "the frame is not centred")

        hints = session.run(["xprop", "-id", str(window), "WM_NORMAL_HINTS"])
        check("minimum size: 140 by 100" in hints and "maximum size: 140 by 100" in hints, "size hints: " + hints)
        actions = session.run(["xprop", "-id", str(window), "_NET_WM_ALLOWED_ACTIONS"])
        check("_NET_WM_ACTION_CLOSE" in actions, "the window manager offers no close")
        for forbidden in ("_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"):
            check(forbidden not in actions, "the window manager offers " + forbidden)

        # The screenshot kept is the very picture whose labels were read.
        status, levels, screen = wait_for_labels(
            session, probe, window, frame_count,
            lambda status, levels: status == "playing" and None not in levels and sum(map(bool, levels)) >= 2,
            "'Playing: N / %d' with two level bars" % frame_count, screen=True)
        log("status: Playing: N / %d; level bars A, B, C: %s" % (frame_count, levels))
        save_png(session, screen, os.path.join(args.artifacts, "player.png"))

        # Attempts to resize and maximise; a later move is the sign that the window manager has
        # dealt with them, since it takes requests in order.
        session.run(["xdotool", "windowsize", str(window), "300", "200"])
        session.run(["wmctrl", "-r", TITLE, "-b", "add,maximized_vert,maximized_horz"])
        session.run(["xdotool", "windowmove", str(window), "20", "30"])
        wait_for(lambda: geometry(session, window)[:2] != (x, y), WAIT_S, "the window to move")
        check(geometry(session, window)[2:] == (CLIENT_W, CLIENT_H), "the window was resized")

        # The sound: the silent ring, then exactly the offline rendering.
        wait_for(lambda: player.frames() >= RING_FRAMES + SAMPLE_RATE, WAIT_S, "a second of sound")
        audio = player.audio()
        expect_rendered(audio, render(args, dump, len(audio) // FRAME_BYTES, "0.85"), "sound")

        expect_clean_close(player, close_with_alt_f4(session, window), "Alt+F4")

    def test_volume(self):
        """Slider to 0 with the mouse, then Right and Left: the sound follows at the next tick."""
        args, session, work = self.opt, self.session, self.work
        dump = os.path.join(work, "music", "dump.txt")
        with open(dump, "w") as f:
            f.write((TONE_LINE + "\n") * 50)
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        window = player.window(session)
        frames = 30 * SAMPLE_RATE
        refs = {"H": render(args, dump, frames, "0.85"), "L": render(args, dump, frames, "0.01")}

        def blocks():
            return tick_blocks(player.audio(), refs)[1]

        def wait_for_ticks(pattern, what):
            try:
                wait_for(lambda: re.fullmatch(pattern, blocks()), WAIT_S, what)
            except TimeoutError as timeout:
                raise Failure("%s; ticks so far: %s" % (timeout, blocks()))

        wait_for_ticks(r"H{5,}", "five ticks of sound at 85")
        # The drag in one stroke: press on the knob, one motion far past the slider's left end and
        # the release right after it, so the player may well read the motion and the release
        # together; steps in between would let ticks at levels between 85 and 0 into the sound.
        x, y, _, _, _ = centred_geometry(session, window)
        sx, sy, sw, sh = SLIDER_RECT
        knob_x, knob_y = x + sx + (sw * 85) // 100, y + sy + sh // 2
        session.run(["xdotool", "mousemove", "--sync", str(knob_x), str(knob_y), "mousedown", "1"])
        session.run(["xdotool", "mousemove", "--sync", str(x - 40), str(knob_y), "mouseup", "1"])
        released_at = player.frames()
        wait_for_ticks(r"H+Z{3,}", "silence after the slider went to 0")
        start, classes = tick_blocks(player.audio(), refs)
        first_silent = start + classes.index("Z") * TICK_FRAMES
        log("slider to 0: silent from frame %d, %d frames after the file held %d at the release" %
            (first_silent, first_silent - released_at, released_at))
        check(first_silent - released_at < SAMPLE_RATE // 2, "the silence came late")

        wait_for_focus(session, window)
        session.run(["xdotool", "key", "Right"])
        wait_for_ticks(r"H+Z+L{3,}", "sound at level 1 after Right")
        session.run(["xdotool", "key", "Left"])
        wait_for_ticks(r"H+Z+L+Z{3,}", "silence again after Left")
        final = blocks()
        log("ticks: %s" % runs(final))
        expect_clean_close(player, close_with_wm(session), "the window manager (wmctrl -c)")
        check(re.fullmatch(r"H+Z+L+Z+", tick_blocks(player.audio(), refs)[1]), "the sound changed inside a tick")

    def test_loading(self):
        """A dump of the most lines the player takes, its load held: "Loading..." until it is in,
        then it plays."""
        args, session, work = self.opt, self.session, self.work
        dump = os.path.join(work, "music", "dump.txt")
        with open(args.music) as f:
            lines = [line for line in f.read().splitlines() if line.strip(" ")]
        with open(dump, "w") as f:
            f.write("".join(lines[i % len(lines)] + "\n" for i in range(MAX_DUMP_FRAMES)))
        content = os.path.join(work, "content.txt")
        shutil.copyfile(dump, content)
        gate = hold_the_load(work)
        probe = Probe(session, args.probe, probe_texts([MAX_DUMP_FRAMES]))
        player = Player(session, args, work, os.path.join(work, "sound.raw"), load_gate=gate)
        window = player.window(session)
        # The load is held: the window must already show its first state.
        loading = wait_for_labels(session, probe, window, MAX_DUMP_FRAMES,
                        lambda status, levels: status == "loading" and levels == ["", "", ""],
                        "'Loading...' and empty level labels during the load")
        log("during the load: 'Loading...', empty level labels")
        save_png(session, loading[2], os.path.join(args.artifacts, "player-loading.png"))
        check(player.running(), "the player ended during the load")
        release_the_load(wait_at_the_gate(gate, player))
        wait_for_labels(session, probe, window, MAX_DUMP_FRAMES,
                        lambda status, levels: status == "playing",
                        "'Playing: N / %d' after the load" % MAX_DUMP_FRAMES)
        log("after the load: 'Playing: N / %d'" % MAX_DUMP_FRAMES)
        wait_for(lambda: player.frames() >= RING_FRAMES + SAMPLE_RATE, WAIT_S, "a second of sound")
        audio = player.audio()
        expect_rendered(audio, render(args, content, len(audio) // FRAME_BYTES, "0.85"), "sound of the long dump")
        expect_clean_close(player, lambda: player.proc.send_signal(signal.SIGTERM), "SIGTERM")

    def test_loadclose(self):
        """A close request made during the load is acted on once the load is done."""
        args, session, work = self.opt, self.session, self.work
        with open(os.path.join(work, "music", "dump.txt"), "w") as f:
            f.write((TONE_LINE + "\n") * 100)
        gate = hold_the_load(work)
        player = Player(session, args, work, os.path.join(work, "sound.raw"), load_gate=gate)
        player.window(session)
        held = wait_at_the_gate(gate, player)
        check(held is not None, "the player ended before its load began")
        session.run(["wmctrl", "-c", TITLE])
        check(player.running(), "the player ended before its load was done")
        start = time.monotonic()
        release_the_load(held)
        wait_for(lambda: not player.running(), WAIT_S, "the player to end after the load")
        log("closed during the load: ended %.3f s after the load, exit code %d" %
            (time.monotonic() - start, player.proc.returncode))
        check(player.proc.returncode == 0, "exit code %d" % player.proc.returncode)

    def test_nodevice(self):
        """No sound device at all: the window runs, stays at frame 0, and closes cleanly."""
        args, session, work = self.opt, self.session, self.work
        frame_count = dump_frames(os.path.join(work, "music", "dump.txt"))
        probe = Probe(session, args.probe, probe_texts([frame_count]))
        player = Player(session, args, work, driver="tonewell-no-such-driver")
        window = player.window(session)
        for _ in range(2):  # the first refresh and a later one
            wait_for_labels(session, probe, window, frame_count,
                            lambda status, levels: status == "zero" and levels == [0, 0, 0],
                            "'Playing: 0 / %d' with empty bars" % frame_count)
            first = time.monotonic()
            wait_for(lambda: time.monotonic() - first > 0.3, WAIT_S, "a few refreshes")
        log("no device: 'Playing: 0 / %d', empty bars" % frame_count)
        expect_clean_close(player, close_with_alt_f4(session, window), "Alt+F4")

    def test_nodump(self):
        """No dump file: 'Playing: 0 / 0', the sound of no frames, clean close."""
        args, session, work = self.opt, self.session, self.work
        shutil.rmtree(os.path.join(work, "music"))
        probe = Probe(session, args.probe, probe_texts([0]))
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        window = player.window(session)
        wait_for_labels(session, probe, window, 0, lambda status, levels: status == "zero" and levels == [0, 0, 0],
                        "'Playing: 0 / 0' with empty bars")
        # With no frames every tick writes the all-zero frame: the chip's faint idle output, the
        # same as rendered from a dump without any frame.
        wait_for(lambda: player.frames() >= RING_FRAMES + SAMPLE_RATE // 2, WAIT_S, "half a second of sound")
        empty = os.path.join(work, "empty.txt")
        open(empty, "w").close()
        audio = player.audio()
        expect_rendered(audio, render(args, empty, len(audio) // FRAME_BYTES, "0.85"), "sound without a dump")
        log("no dump: 'Playing: 0 / 0'")
        expect_clean_close(player, close_with_wm(session), "the window manager (wmctrl -c)")

    def test_signals(self):
        """SIGINT, SIGTERM and SIGHUP (the terminal that started it went) close the player like a
        close request."""
        args, session, work = self.opt, self.session, self.work
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            player = Player(session, args, work, os.path.join(work, "sound-%d.raw" % sig))
            player.window(session)
            wait_for(lambda: player.frames() > RING_FRAMES, WAIT_S, "sound")
            expect_clean_close(player, lambda: player.proc.send_signal(sig), signal.Signals(sig).name)
            wait_for(lambda: find_window(session) is None, WAIT_S, "the window to go")

    def test_displaylost(self):
        """The X server goes away under the playing player: it stops its sound, closes the device
        and ends with exit code 0."""
        args, session, work = self.opt, self.session, self.work
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        player.window(session)
        wait_for(lambda: player.frames() > RING_FRAMES, WAIT_S, "sound")
        start = time.monotonic()
        session.xvfb.kill()
        session.xvfb.wait()
        wait_for(lambda: not player.running(), WAIT_S, "the player to end after the X server")
        code = player.proc.returncode
        log("X server killed: the player ended %.3f s later with exit code %d" % (time.monotonic() - start, code))
        check(code == 0, "exit code %d after the display was lost" % code)
        events = player.close_events()
        check("audio-close" in events, "the sound device was not closed: %s" % events)
        check(os.path.getsize(player.audio_file) % FRAME_BYTES == 0, "the sound file ends inside a frame")
        log("the sound device was closed")

    def test_nominimize(self):
        """The frame offers no maximise and, where the window manager honours the hints, no
        minimise; a window minimised all the same (xdotool) is shown again."""
        args, session, work = self.opt, self.session, self.work
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        window = player.window(session)
        centred_geometry(session, window)
        actions = session.run(["xprop", "-id", str(window), "_NET_WM_ALLOWED_ACTIONS"])
        log("%s: %s" % (session.manager, actions.strip()))
        check("_NET_WM_ACTION_CLOSE" in actions, "the window manager offers no close")
        forbidden = ["_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"]
        # openbox keeps minimising for every normal window whatever its Motif hints say (it drops
        # it only for menus and toolbars); the others take the hint.
        if session.manager != "openbox":
            forbidden.append("_NET_WM_ACTION_MINIMIZE")
        for action in forbidden:
            check(action not in actions, "%s offers %s" % (session.manager, action))
        image = capture(session, "root")
        if image:
            save_png(session, image, os.path.join(args.artifacts, "frame-%s.png" % session.manager))
        check(window_state(session, window) == ("IsViewable", "Normal"), "the window is not shown")
        session.run(["xdotool", "windowminimize", str(window)])
        # The window manager takes requests in order: once the later move is done, the minimise
        # has been carried out (or refused), and the window must come back if it went.
        session.run(["xdotool", "windowmove", "--sync", str(window), "20", "30"])
        wait_for(lambda: window_state(session, window) == ("IsViewable", "Normal"), WAIT_S,
                 "the window to be shown again after windowminimize")
        log("after xdotool windowminimize: %s, %s" % window_state(session, window))
        expect_clean_close(player, close_with_wm(session), "the window manager (wmctrl -c)")

    def test_closebox(self):
        """The close box of the frame: a click on it ends the player."""
        args, session, work = self.opt, self.session, self.work
        player = Player(session, args, work, os.path.join(work, "sound.raw"))
        window = player.window(session)
        x, y, w, _, (left, right, top, _) = centred_geometry(session, window)
        # openbox's close button is the last one in the title bar, at its right end.
        bx, by = x + w + right - 11, y - top + top // 2
        session.run(["xdotool", "mousemove", "--sync", str(bx), str(by)])
        expect_clean_close(player, lambda: session.run(["xdotool", "click", "1"]), "the close box")


if __name__ == "__main__":
    sys.exit(main(X11Cases, ("player", "probe", "render", "close-log", "music", "artifacts"),
                  lambda parser: parser.add_argument("--wm", choices=sorted(MANAGERS), default="openbox")))
