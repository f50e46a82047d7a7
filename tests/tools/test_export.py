#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-render's containers, loops and fade, stereo layouts and batch rendering, checked with
real decoders (flac, sox, opusdec, mpg123, ffprobe) on generated tunes and the demo tune.

    test_export.py --render R --convert C --dump music/dump.txt [unittest args]
"""
import argparse
import array
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_tunes  # noqa: E402
from e2e_support import read_file, run_ok, run_tool, write_file  # noqa: E402
from tonewell_constants import PLAYER_CHIP_CLOCK_HZ, SAMPLE_RATE, TICK_FRAMES as TICK  # noqa: E402

RENDER = CONVERT = DEMO = None


def run(*args, check=True):
    return run_ok(list(args)) if check else run_tool(list(args))


def steady(n, regs=(0x40, 0, 0x60, 0, 0x90, 0, 0, 0x38, 15, 12, 9, 0, 0, 0)):
    """n frames of one chord: three tones with distinct periods and volumes."""
    return [(list(regs), i == 0) for i in range(n)]


def ym6(frames, title=b"Test Title", author=b"Test Author"):
    return make_tunes.ym_new(b"YM6!", [r[:13] + [r[13] if s else 0xFF, 0, 0] for r, s in frames],
                             clock=PLAYER_CHIP_CLOCK_HZ, strings=(title, author, b""))


def channels(raw):
    s = array.array("h", raw)
    return s[0::2], s[1::2]


def rms(samples):
    return math.sqrt(sum(x * x for x in samples) / len(samples))


class Export(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="tonewell-export-")
        cls.addClassCleanup(cls.tmp.cleanup)
        rng = make_tunes.random.Random(18)
        cls.tunes = {"ym": ym6(make_tunes.random_frames(rng, 300)),
                     "psg": make_tunes.psg_bytes(make_tunes.random_frames(rng, 300)),
                     "steady": ym6(steady(400))}
        for name, data in cls.tunes.items():
            write_file(cls.path(name), data)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    def source(self, name):
        return DEMO if name == "demo" else self.path(name)

    def test_flac_decodes_to_the_raw_render_bit_for_bit(self):
        for name in ("ym", "psg", "demo"):
            with self.subTest(tune=name):
                run(RENDER, self.source(name), self.path(name + ".flac"))
                decoded = run("flac", "-s", "-d", "-c", "--force-raw-format", "--endian=little", "--sign=signed",
                              self.path(name + ".flac")).stdout
                self.assertEqual(decoded, run(RENDER, self.source(name), "-").stdout)

    def test_lossy_containers_length_channels_rate_and_tags(self):
        # (extension, decoder to raw s16 stereo, rate, one codec frame in samples)
        cases = [("ogg", ["sox", "{}", "-t", "raw", "-"], SAMPLE_RATE, 2048),
                 ("opus", ["opusdec", "--quiet", "--rate", "48000", "{}", "-"], 48000, 960),
                 ("mp3", ["mpg123", "-q", "-s", "{}"], SAMPLE_RATE, 1152)]
        for ext, decoder, rate, frame in cases:
            for name, tags in (("ym", ("Test Title", "Test Author")), ("psg", ("psg", None))):
                with self.subTest(ext=ext, tune=name):
                    out = self.path("%s.%s" % (name, ext))
                    run(RENDER, self.path(name), out)
                    frames = len(run(RENDER, self.path(name), "-").stdout) // 4
                    decoded = len(run(*[out if a == "{}" else a for a in decoder]).stdout) // 4
                    self.assertLessEqual(abs(decoded - frames * rate / SAMPLE_RATE), frame)
                    probe = run("ffprobe", "-v", "error", "-show_entries",
                                "stream=channels,sample_rate:stream_tags:format_tags", "-of", "flat", out).stdout.decode()
                    self.assertIn('channels=2', probe)
                    self.assertIn('sample_rate="%d"' % rate, probe)
                    found = {k.lower(): v for k, v in re.findall(r'tags\.(\w+)="([^"]*)"', probe)}
                    self.assertEqual((found.get("title"), found.get("artist")), tags)

    def test_loops_and_fade(self):
        today = run(RENDER, self.path("steady"), "-").stdout
        frames = len(today) // 4 // TICK - 1
        both = run(RENDER, "--loops", "2", "--fade", "5", self.path("steady"), "-").stdout
        self.assertEqual(len(both), 4 * TICK * (2 * frames + 1))
        self.assertEqual(both[:len(today)], today)  # the fade lies in the second pass
        left, _ = channels(both[-4 * SAMPLE_RATE * 5:])
        levels = [rms(left[i:i + 4410]) for i in range(0, len(left), 4410)]
        self.assertTrue(all(a > b for a, b in zip(levels, levels[1:])), levels)
        self.assertGreater(levels[0], 1000)
        self.assertLess(levels[-1], levels[0] / 15)
        self.assertEqual(abs(left[-1]), 0)
        for args in (["--loops", "1"], ["--fade", "0"], ["--layout", "acb"]):
            self.assertEqual(run(RENDER, *args, self.path("steady"), "-").stdout, today, args)

    def test_layout_abc_swaps_b_and_c_only(self):
        def fields(*args):
            text = run(CONVERT, *args, self.path("ym"), "-").stdout.decode()
            return [[int(v, 16) for v in line.split()] for line in text.splitlines()]
        today, abc = fields(), fields("--layout", "abc")
        self.assertEqual(fields("--layout", "ACB"), today)
        bit = lambda v, b: (v >> b) & 1  # noqa: E731
        for t, a in zip(today, abc):
            swapped = t[:2] + t[4:6] + t[2:4] + t[6:7] + [
                t[7] & 0xC9 | bit(t[7], 2) << 1 | bit(t[7], 1) << 2 | bit(t[7], 5) << 4 | bit(t[7], 4) << 5,
                t[8], t[10], t[9]] + t[11:]
            self.assertEqual(a, swapped)
        self.assertTrue(any(t[2:4] != t[4:6] and t[9] != t[10] and bit(t[7], 1) != bit(t[7], 2) for t in today))
        # The renderer moves the voices of a music file and of a loaded dump text alike.
        for name, args in (("today.txt", []), ("abc.txt", ["--layout", "abc"])):
            run(CONVERT, *args, self.path("ym"), self.path(name))
        abc = run(RENDER, "--layout", "abc", self.path("ym"), "-").stdout
        self.assertEqual(run(RENDER, self.path("abc.txt"), "-").stdout, abc)
        self.assertEqual(run(RENDER, "--layout", "abc", self.path("today.txt"), "-").stdout, abc)
        self.assertNotEqual(run(RENDER, self.path("today.txt"), "-").stdout, abc)

    def test_each_layout_puts_each_voice_where_its_name_says(self):
        for voice in range(3):
            regs = [0x40, 0, 0x60, 0, 0x90, 0, 0, 0x3F & ~(1 << voice), 0, 0, 0, 0, 0, 0]
            regs[8 + voice] = 15
            write_file(self.path("alone"), ym6(steady(20, regs)))
            for layout in ("abc", "acb", "bac", "bca", "cab", "cba"):
                with self.subTest(voice="ABC"[voice], layout=layout):
                    left, right = map(rms, channels(run(RENDER, "--layout", layout, self.path("alone"), "-").stdout))
                    place = "left" if right < 100 else "right" if left < 100 else "centre"
                    self.assertGreater(max(left, right), 1000)
                    self.assertEqual(place, ("left", "centre", "right")[layout.index("abc"[voice])])


class Batch(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tonewell-batch-")
        self.addCleanup(self.tmp.cleanup)
        self.out = os.path.join(self.tmp.name, "out")

    def tunes(self, count, frames, damaged_every=0):
        """count files NN.ym; every damaged_every-th one claims more frames than it holds."""
        rng = make_tunes.random.Random(count)
        files, damaged = [], []
        for i in range(count):
            data = ym6(make_tunes.random_frames(rng, frames))
            if damaged_every and i % damaged_every == 3:
                data = data[:len(data) // 2]
                damaged.append(i)
            files.append(write_file(os.path.join(self.tmp.name, "%03d.ym" % i), data))
        return files, damaged

    def test_200_files_with_a_tenth_damaged(self):
        files, damaged = self.tunes(200, 30, damaged_every=10)
        done = run(RENDER, "-j", "2", "--format", "flac", *files, "-o", self.out, check=False)
        err = done.stderr.decode().splitlines()
        self.assertEqual(done.returncode, 1)
        self.assertEqual(err[-1], "tonewell-render: 180 written, 20 failed")
        self.assertEqual(len(err), 201)
        for i, file in enumerate(files):
            out = os.path.join(self.out, "%03d.flac" % i)
            if i in damaged:
                self.assertTrue(any(re.search(r"\] failed: tonewell-render: %s: .*frame" % file, e) for e in err), i)
                self.assertFalse(os.path.exists(out))
            else:
                self.assertIn("] written: " + out, "\n".join(err))
                run(RENDER, file, self.tmp.name + "/single.flac")
                self.assertEqual(read_file(out), read_file(self.tmp.name + "/single.flac"), out)
        self.assertEqual(len(os.listdir(self.out)), 180)  # no temporary file left

    def test_sigint_leaves_only_whole_files(self):
        files, _ = self.tunes(12, 6000)
        proc = subprocess.Popen([RENDER, "-j", "2", "--format", "flac", *files, "-o", self.out],
                                stderr=subprocess.PIPE, start_new_session=True)
        first = proc.stderr.readline().decode()
        self.assertIn("written", first)
        os.killpg(proc.pid, signal.SIGINT)  # as a terminal's Ctrl+C: the whole group
        rest = proc.stderr.read().decode()
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=60), -signal.SIGINT)
        self.assertRegex(rest.splitlines()[-1], r"^tonewell-render: \d+ written, 0 failed, \d+ not done \(stopped\)$")
        written = sorted(os.listdir(self.out))
        self.assertLess(len(written), 12)
        for name in written:
            self.assertRegex(name, r"^\d{3}\.flac$")
            run("flac", "-s", "-t", os.path.join(self.out, name))

    def test_progress_bar_on_a_terminal(self):
        files, _ = self.tunes(6, 6000)
        tmux = ["tmux", "-L", "tonewell-batch-%d" % os.getpid()]  # a server of its own
        command = "%s -j 1 %s -o %s; echo EXIT=$?; sleep 60" % (RENDER, " ".join(files), self.out)
        run(*tmux, "new-session", "-d", "-x", "120", "-y", "10", command)
        try:
            seen = set()
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and "EXIT=0" not in "".join(seen):
                screen = run(*tmux, "capture-pane", "-p").stdout.decode()
                seen.update(re.findall(r"\[[#.]{30}\] \d/6 [-:\d]+ left  \d+\.ym|EXIT=\d", screen))
                if "EXIT=0" in screen:
                    self.assertIn("tonewell-render: 6 written, 0 failed", screen)
                time.sleep(0.05)
        finally:
            run(*tmux, "kill-server", check=False)
        self.assertIn("EXIT=0", seen)
        self.assertTrue(any(re.match(r"\[#{5,}\.+\] [1-5]/6 \d+:\d\d left", s) for s in seen), seen)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--render", required=True)
    parser.add_argument("--convert", required=True)
    parser.add_argument("--dump", required=True)
    args, rest = parser.parse_known_args()
    RENDER, CONVERT, DEMO = args.render, args.convert, args.dump
    unittest.main(argv=[sys.argv[0]] + rest)
