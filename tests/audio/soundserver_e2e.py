#!/usr/bin/env python3
"""The player on real sound servers: PulseAudio, and PipeWire with pipewire-pulse and WirePlumber,
each started here in a private runtime folder with a null sink at 44100 Hz s16le stereo whose
monitor is recorded with parec.

    soundserver_e2e.py --player P --render R --dump D [--runs N] [--seconds S] [CASE...]

Cases: one per path from SDL to a server (pulse, pipewire_pulse, pipewire, alsa_pulse), each
played idle and then with stress-ng --cpu 2: the recording equals tonewell-render's output bit
for bit from the first music frame on, with no gap (inserted zeros or skipped frames). kill: the
server SIGKILLed while the player plays and started again 2 s later (kill: PulseAudio;
kill_pipewire_pulse: PipeWire through pipewire-pulse; kill_pipewire: PipeWire through SDL's native
driver); the recording is taken again before the player can reach the server, on PipeWire
through a pipe sink whose FIFO keeps all that was played when the server dies. latency: how long a slider
move in the terminal panel takes to be heard. Exit code 77 (skipped) where a server cannot be
started here, saying why.
"""
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "app"))
from e2e_support import (FRAME_BYTES, SAMPLE_RATE, TICK_FRAMES, Case, Failure, Pane, check, copy_dump, die_with_parent, file_size,  # noqa: E402
                         find_frames, first_sound, main, poll_until, read_file, render_reference, sound_start,
                         tick_matches)
from tmux_e2e import level_text, wait_slider  # noqa: E402

BLOCK_FRAMES = 884
SINK = "tonewell_null"
PIPEWIRE_PULSE_CONF = "/usr/share/pipewire/pipewire-pulse.conf"
RAW = ["--raw", "--format=s16le", "--rate=%d" % SAMPLE_RATE, "--channels=2"]
RESYNC_FRAMES = 256       # frames that must match again after a gap
RETURN_LIMIT_S = 0.5      # sound back within this of the server's return
ABSENT_S = 2.0            # the server is away this long
RECORDER_MS = {"pulseaudio": 5, "pipewire": 0}  # what the kill case's recording may lose when the
#                                                server dies: parec's latency; PipeWire's pipe sink none
# By SDL's driver: the player resumes as if the whole queue it asked of the server (150 ms) were
# still unheard, since SDL does not say what the server holds. PulseAudio holds less: the stream's
# queue is what was asked less the share it asks of the sink (55 ms), and the sink runs at the
# lowest latency any of its clients asks (here the recorder's 5 ms; on a desktop any low-latency
# client), and the queue runs up to a minimum request (20 ms) below its target: up to half of the
# 150 ms repeats, besides a block. Through SDL's PipeWire driver the resume takes both of its
# 4096-frame buffers as unheard, and the server's end is only seen as calls that stop.
AGAIN_LIMIT_FRAMES = {"pulseaudio": BLOCK_FRAMES + 150 * SAMPLE_RATE // 1000 // 2, "pipewire": BLOCK_FRAMES + 2 * 4096}
LEVEL_LIMIT_S = 0.16 + 0.15 + 0.012 + 0.05  # the ring, the server's queue, SDL's buffer, the recorder
PATHS = {  # case: (SDL audio driver, server, what SDL talks to)
    "pulse": ("pulseaudio", "pulseaudio", "PulseAudio"),
    "pipewire_pulse": ("pulseaudio", "pipewire", "pipewire-pulse"),
    "pipewire": ("pipewire", "pipewire", "PipeWire natively"),
    "alsa_pulse": ("alsa", "pulseaudio", "ALSA's pulse plugin to PulseAudio"),
}


def quiet(cmd, env):
    return subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


class Server:
    """PulseAudio or PipeWire in a private runtime folder, the null sink its default."""

    def __init__(self, case, kind, sink_ms=20):
        self.case, self.kind, self.sink_ms, self.daemons, self.helpers = case, kind, sink_ms, [], []
        run, home = os.path.join(case.work, "run"), os.path.join(case.work, "home")
        conf = os.path.join(home, ".config", "pipewire", "pipewire.conf.d")
        os.makedirs(run, mode=0o700)
        os.makedirs(conf)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE_", "PIPEWIRE_", "DBUS_", "SDL_", "XDG_"))}
        env.update(XDG_RUNTIME_DIR=run, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        self.env = env
        # The player reaches PipeWire through a link of its own that stands only while the server
        # takes clients: after a restart, once the recorder runs.
        self.link = os.path.join(case.work, "pipewire-0")
        self.player_env = dict(env, PIPEWIRE_REMOTE=self.link)
        with open(os.path.join(conf, "tonewell.conf"), "w") as f:  # the graph at the sink's rate
            f.write("context.properties = { default.clock.rate = %d default.clock.allowed-rates = [ %d ] }\n"
                    % (SAMPLE_RATE, SAMPLE_RATE))
        with open(os.path.join(home, ".asoundrc"), "w") as f:  # ALSA's default: the pulse plugin
            f.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n")
        needed = ["pactl", "parec", "pacat"] + (["pipewire", "pipewire-pulse", "wireplumber", "dbus-daemon"]
                                                if kind == "pipewire" else ["pulseaudio"])
        missing = [p for p in needed if not shutil.which(p)]
        if missing:
            case.skipTest("not installed: " + " ".join(missing))
        case.addCleanup(self.close)
        if kind == "pipewire":
            bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address",
                              "--address=unix:path=%s/bus" % run], self.helpers, stdout=subprocess.PIPE)
            address = bus.stdout.readline().decode().strip()
            if not address:
                case.skipTest("no D-Bus session bus could be started here")
            env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.start()

    def spawn(self, cmd, group, **kw):
        kw.setdefault("stdout", subprocess.DEVNULL)
        log = open(os.path.join(self.case.work, os.path.basename(cmd[0]) + ".log"), "ab")
        self.case.addCleanup(log.close)
        kw.setdefault("env", self.env)
        p = subprocess.Popen(cmd, stderr=log, start_new_session=True, preexec_fn=die_with_parent, **kw)
        group.append(p)
        return p

    def start(self, record=None):
        """Starts the daemons; returns once the null sink is the default and clients may connect.
        record=(path, latency_ms): a recorder on the sink's monitor that runs before they can."""
        # Clients find the server only once it is ready: it listens on a socket of the test's own
        # first (PipeWire: a pipewire-pulse of the test's own), and the clients' socket opens last.
        self.starts = getattr(self, "starts", 0) + 1
        setup = os.path.join(self.case.work, "setup%d.sock" % self.starts)
        env = self.record_env = dict(self.env, PULSE_SERVER="unix:" + setup)
        if self.kind == "pulseaudio":
            self.spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                        "-L", "module-native-protocol-unix socket=" + setup, "-L", "module-null-sink sink_name=%s "
                        "rate=%d format=s16le channels=2" % (SINK, SAMPLE_RATE)], self.daemons)
        else:
            conf = os.path.join(self.case.work, "setup%d.conf" % self.starts)
            with open(conf, "w") as f:
                f.write(read_file(PIPEWIRE_PULSE_CONF).decode().replace('"unix:native"', '"unix:%s"' % setup))
            # The recorders' pipewire-pulse runs at real-time priority: under load its capture
            # would drop buffers that the player did hand over (seen: 2048 frames missing from
            # one recording, not from another of the same run through a second instance).
            for cmd in (["pipewire"], ["wireplumber"], self.realtime() + ["pipewire", "-c", conf]):
                self.spawn(cmd, self.daemons)
        try:
            poll_until(lambda: self.dead() or quiet(["pactl", "info"], env), "%s to answer" % self.kind, 10)
        except Failure:
            self.case.skipTest("%s did not start here (see its log)" % self.kind)
        if self.dead():
            self.case.skipTest("%s ended at once here (see its log)" % self.kind)
        if self.kind == "pipewire":
            check(quiet(["pactl", "load-module", "module-null-sink", "sink_name=" + SINK, "rate=%d" % SAMPLE_RATE,
                         "format=s16le", "channels=2"], env), "no null sink on pipewire-pulse")
        poll_until(lambda: quiet(["pactl", "set-default-sink", SINK], env), "the null sink as the default")
        if self.kind == "pulseaudio":
            # An idle null sink renders in 2 s blocks and may hold a new stream back that long: a
            # silent stream stays on it, and a suspend and resume shortens its blocks.
            self.spawn(["pacat", "--playback", "-d", SINK, "--latency-msec=%d" % self.sink_ms] + RAW + ["/dev/zero"],
                       self.helpers, env=env)
            for suspend in ("1", "0"):
                quiet(["pactl", "suspend-sink", SINK, suspend], env)
        if record and self.kind == "pipewire":
            self.tap(record[0])
        elif record:
            self.record(*record)
            poll_until(lambda: subprocess.run(["pactl", "list", "short", "source-outputs"], env=env,
                                              capture_output=True).stdout.strip(), "the recorder")
        if self.kind == "pulseaudio":
            check(quiet(["pactl", "load-module", "module-native-protocol-unix"], env), "no socket for clients")
        else:
            os.symlink(os.path.join(self.env["XDG_RUNTIME_DIR"], "pipewire-0"), self.link)
            self.spawn(["pipewire-pulse"], self.daemons)
            poll_until(lambda: self.dead() or quiet(["pactl", "info"], self.env), "pipewire-pulse to answer", 10)

    def dead(self):
        return any(p.poll() is not None for p in self.daemons)

    def kill(self):
        for p in self.daemons:
            p.kill()
            p.wait()
        self.daemons = []
        if os.path.lexists(self.link):
            os.unlink(self.link)

    def realtime(self):
        """The command prefix for real-time priority where it is allowed, else none."""
        return ["chrt", "-f", "30"] if shutil.which("chrt") and quiet(["chrt", "-f", "30", "true"], self.env) else []

    def record(self, path, latency_ms=50):
        """parec on the sink's monitor into path, at real-time priority where allowed, through the
        test's own socket."""
        chrt = self.realtime()
        with open(path, "ab") as out:
            return self.spawn(chrt + ["parec", "-d", SINK + ".monitor", "--latency-msec=%d" % latency_ms] + RAW,
                              self.helpers, stdout=out, env=self.record_env)

    def tap(self, path):
        """PipeWire: a pipe sink, the default from now on, whose FIFO cat copies into path. It
        writes each graph cycle as the cycle plays, and what it wrote stays readable when the
        server dies, where a recorder's buffer would be lost with it."""
        self.taps = getattr(self, "taps", 0) + 1
        fifo = os.path.join(self.case.work, "tap%d.fifo" % self.taps)
        os.mkfifo(fifo)
        with open(path, "ab") as out:
            self.spawn(self.realtime() + ["cat", fifo], self.helpers, stdout=out)
        name = "tonewell_tap%d" % self.taps
        check(quiet(["pactl", "load-module", "module-pipe-sink", "file=" + fifo, "sink_name=" + name, "rate=%d" % SAMPLE_RATE,
                     "format=s16le", "channels=2"], self.record_env), "no pipe sink on pipewire-pulse")
        # The clients' streams go to the default once WirePlumber has taken it, not when it is set.
        poll_until(lambda: quiet(["pactl", "set-default-sink", name], self.record_env) and subprocess.run(
            ["pactl", "get-default-sink"], env=self.record_env, capture_output=True, text=True).stdout.strip() == name,
            "the pipe sink as the default")

    def close(self):
        for p in reversed(self.daemons + self.helpers):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def stop_player(player):
    player.send_signal(signal.SIGTERM)
    try:
        code = player.wait(10)
    except subprocess.TimeoutExpired:
        player.kill()
        player.wait()
        code = "none within 10 s"
    check(code == 0, "exit code %s after SIGTERM" % code)


def equal_frames(a, i, b, j, limit):
    """How many frames, at most limit, from a's frame i and b's frame j on are equal."""
    lo, hi = 0, limit  # the first lo frames are equal
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if a[i * FRAME_BYTES:(i + mid) * FRAME_BYTES] == b[j * FRAME_BYTES:(j + mid) * FRAME_BYTES]:
            lo = mid
        else:
            hi = mid - 1
    return lo


def gaps(rec, i, ref, j, frames):
    """Compares `frames` frames of the recording rec from frame i with ref from frame j; returns
    the gaps as (ref frame, zero frames inserted, ref frames skipped: negative when repeated,
    None when the recording does not go on as ref within 2 s)."""
    found, end = [], j + frames
    while True:
        n = equal_frames(rec, i, ref, j, end - j)
        i, j = i + n, j + n
        if j >= end:
            return found
        zeros = 0
        while rec[(i + zeros) * FRAME_BYTES:(i + zeros + 1) * FRAME_BYTES] == bytes(FRAME_BYTES):
            zeros += 1
        i += zeros
        lo = max(0, j - 2 * SAMPLE_RATE)
        k = find_frames(ref[lo * FRAME_BYTES:(j + 2 * SAMPLE_RATE) * FRAME_BYTES],
                        rec[i * FRAME_BYTES:(i + RESYNC_FRAMES) * FRAME_BYTES])
        found.append((j, zeros, None if k is None else lo + k - j))
        if k is None or len(rec) < (i + RESYNC_FRAMES) * FRAME_BYTES:
            return found
        j = lo + k


def describe(found):
    return "".join(" at %.3f s: %d zeros, %s skipped;" % (j / SAMPLE_RATE, z, d) for j, z, d in found[:8])


class SoundServerCases(Case):

    def setUp(self):
        super().setUp()
        if "libSDL2" not in subprocess.run(["ldd", self.opt.player], capture_output=True, text=True).stdout:
            self.skipTest("the player has no SDL sound backend")

    def describe_failure(self):
        logs = [name for name in sorted(os.listdir(self.work)) if name.endswith(".log")]
        return "".join("--- %s:\n%s\n" % (name, read_file(os.path.join(self.work, name))[-1500:].decode(errors="replace"))
                       for name in logs)

    def start_player(self, server, driver):
        copy_dump(self.opt.dump, self.work)
        player = subprocess.Popen([self.opt.player], cwd=self.work, env=dict(server.player_env, SDL_AUDIODRIVER=driver),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=open(os.path.join(self.work, "player.log"), "ab"), start_new_session=True,
                                  preexec_fn=die_with_parent)
        self.addCleanup(lambda: player.poll() is not None or (player.kill(), player.wait()))
        return player

    def recording_of(self, player, path, reference, frames):
        """Polls until path holds `frames` frames of music; returns (recording, its music start)."""
        def enough():
            check(player.poll() is None, "the player ended (exit code %s)" % player.poll())
            rec = read_file(path)
            start = sound_start(rec, reference)
            return start is not None and len(rec) >= (start + frames) * FRAME_BYTES and (rec, start)
        return poll_until(enough, "%d frames of music in the recording" % frames, frames / SAMPLE_RATE + 30, 0.25)

    def play_path(self, name):
        driver, kind, label = PATHS[name]
        frames = self.opt.seconds * SAMPLE_RATE
        reference = render_reference(self.opt.render, self.opt.dump, frames + 10 * SAMPLE_RATE)
        server, failures = Server(self, kind), []
        for load in ("idle", "stress-ng --cpu 2"):
            stress = None
            if load != "idle":
                stress = subprocess.Popen(["stress-ng", "--cpu", "2", "--quiet"], stdout=subprocess.DEVNULL,
                                          start_new_session=True)
            try:
                for run in range(self.opt.runs):
                    path = os.path.join(self.work, "rec_%s_%d.raw" % (load[:4], run))
                    recorder = server.record(path)
                    player = self.start_player(server, driver)
                    began, cpu0 = time.monotonic(), cpu_seconds(player.pid)
                    rec, start = self.recording_of(player, path, reference, frames)
                    cpu = (cpu_seconds(player.pid) - cpu0) / (time.monotonic() - began)
                    stop_player(player)
                    recorder.terminate()
                    found = gaps(rec, start, reference, 0, frames)
                    print("SDL (%s) to %s, %s, run %d: %d s compared from recording frame %d, %d gap(s)%s; "
                          "player CPU %.2f %%" % (driver, label, load, run + 1, self.opt.seconds, start, len(found),
                                                 describe(found), 100 * cpu))
                    if found:
                        failures.append("%s run %d: %d gap(s)" % (load, run + 1, len(found)))
            finally:
                if stress:
                    os.killpg(stress.pid, signal.SIGTERM)
                    stress.wait()
        check(not failures, "; ".join(failures))

    def test_pulse(self):
        self.play_path("pulse")

    def test_pipewire_pulse(self):
        self.play_path("pipewire_pulse")

    def test_pipewire(self):
        self.play_path("pipewire")

    def test_alsa_pulse(self):
        self.play_path("alsa_pulse")

    def test_kill(self):
        self.kill_path("pulseaudio", "pulseaudio")

    def test_kill_pipewire_pulse(self):
        self.kill_path("pipewire", "pulseaudio")

    def test_kill_pipewire(self):  # the native driver
        self.kill_path("pipewire", "pipewire")

    def kill_path(self, kind, driver):
        """The server SIGKILLed while the player plays and started again 2 s later: the player
        lives on, its sound is back within RETURN_LIMIT_S of the server and resumes at the block
        that was being heard at a device (nothing skipped; again at most a block and the sink's share of
        the queue), SIGTERM ends it with 0."""
        reference = render_reference(self.opt.render, self.opt.dump, 30 * SAMPLE_RATE)
        recorder_ms = RECORDER_MS[kind]
        server = Server(self, kind, recorder_ms)  # the sink consumes in steps of this
        before, after = os.path.join(self.work, "before.raw"), os.path.join(self.work, "after.raw")
        server.tap(before) if kind == "pipewire" else server.record(before, recorder_ms)
        player = self.start_player(server, driver)
        rec, start = self.recording_of(player, before, reference, 3 * SAMPLE_RATE)
        server.kill()
        time.sleep(ABSENT_S)  # the outage itself
        check(player.poll() is None, "the player ended with the server (exit code %s)" % player.poll())
        server.start((after, recorder_ms))  # recording before the player can connect
        back = time.monotonic()
        sizes = []  # (time, frames recorded): when each frame came

        def sound_back():
            check(player.poll() is None, "the player ended after the server's return")
            data = read_file(after)
            sizes.append((time.monotonic(), len(data) // FRAME_BYTES))
            at = first_sound(data)
            return at is not None and (at,)
        at, = poll_until(sound_back, "sound after the server's return", 10, 0.01)
        when = next(t - (n - at) / SAMPLE_RATE for t, n in sizes if n > at)
        heard = read_file(before)
        tail = (len(heard) // FRAME_BYTES - RESYNC_FRAMES) * FRAME_BYTES
        last = find_frames(reference, heard[tail:])
        check(last is not None, "the end of the recording before the kill is not in the render")
        last += RESYNC_FRAMES
        time.sleep(0.3)  # more than RESYNC_FRAMES after the return
        rec = read_file(after)
        resumed = find_frames(reference, rec[at * FRAME_BYTES:(at + RESYNC_FRAMES) * FRAME_BYTES])
        check(resumed is not None, "the sound after the return is not in the render")
        rec, _ = self.recording_of(player, after, reference[resumed * FRAME_BYTES:], 3 * SAMPLE_RATE)
        found = gaps(rec, at, reference, resumed, 3 * SAMPLE_RATE)
        stop_player(player)
        print("kill: heard up to frame %d, resumed at %d (%d frames again), %.3f s after the server's return; "
              "then 3 s with %d gap(s)%s" % (last, resumed, last - resumed, when - back, len(found), describe(found)))
        check(when - back <= RETURN_LIMIT_S, "sound back %.3f s after the server" % (when - back))
        check(resumed <= last + recorder_ms * SAMPLE_RATE // 1000, "%d frames skipped" % (resumed - last))
        check(last - resumed <= AGAIN_LIMIT_FRAMES[driver], "%d frames again" % (last - resumed))
        check(not found, "gaps after the return")

    def test_latency(self):
        """Right in the terminal panel (slider 85 to 86 and on): the time from the key to the first
        recorded frame at the new level, within the ring, the server's queue and the recorder."""
        levels = (85, 86, 87, 88)
        refs = {lv: render_reference(self.opt.render, self.opt.dump, 40 * SAMPLE_RATE, level_text(lv)) for lv in levels}
        server = Server(self, "pulseaudio")
        path = os.path.join(self.work, "rec.raw")
        server.record(path, RECORDER_MS["pulseaudio"])
        copy_dump(self.opt.dump, self.work)
        with open(os.path.join(self.work, "run.sh"), "w") as f:
            f.write("#!/bin/sh\nexec env %s SDL_AUDIODRIVER=pulseaudio '%s'\n"
                    % (" ".join("%s='%s'" % (k, server.env[k]) for k in ("XDG_RUNTIME_DIR", "HOME")), self.opt.player))
        os.chmod(os.path.join(self.work, "run.sh"), 0o755)
        with Pane(self.work) as pane:
            pane.type_line("./run.sh")
            start = poll_until(lambda: sound_start(read_file(path), refs[85]), "the music in the recording")
            delays = []
            for level in levels[1:]:
                time.sleep(0.5)
                sent = file_size(path) // FRAME_BYTES - start
                pane.keys("Right")
                wait_slider(pane, level, "after Right")

                def heard():
                    return next((t for t, _, keys in tick_matches(read_file(path), start, refs, sent // TICK_FRAMES)
                                 if keys == [level]), None)
                tick = poll_until(heard, "level %d in the recording" % level)
                delays.append((tick * TICK_FRAMES - sent) / SAMPLE_RATE)
            pane.keys("q")
        print("latency from Right to the new level in the recording: %s ms"
              % ", ".join("%.0f" % (1000 * d) for d in delays))
        check(all(0 < d <= LEVEL_LIMIT_S for d in delays), "a level heard outside (0, %.2f] s" % LEVEL_LIMIT_S)


def add_options(parser):
    parser.add_argument("--runs", type=int, default=1, help="runs per path and load")
    parser.add_argument("--seconds", type=int, default=30, help="music compared per run")


if __name__ == "__main__":
    sys.exit(main(SoundServerCases, ("player", "render", "dump"), add_options))
