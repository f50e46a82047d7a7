#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-play FILE end to end (what ./play FILE runs): on a generated LHA-packed YM6, a
generated PT3 module and song 2 of a hand-made AY file (--song 2), in a private X server with
openbox and SDL's disk driver as the sound device.

Checks: after the player's one silent lap, the captured sound equals tonewell-render FILE bit
for bit; the temporary folder exists while it plays and is gone after Alt+F4, after SIGTERM and
after SIGINT to tonewell-play (whose exit status is the player's, 0); a file that does not convert
gives the converter's exit status 1 and leaves no folder.

    play_e2e.py --play P --render R [CASE...]   (P: the build tree's tonewell-play)
"""
import os
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "formats"))
sys.path.insert(0, os.path.dirname(HERE))
import make_ay  # noqa: E402
import make_pt_modules  # noqa: E402
import make_tunes  # noqa: E402
from e2e_support import (FRAME_BYTES, RING_FRAMES, SAMPLE_RATE, Case, X11Session, check, die_with_parent,  # noqa: E402
                         main, sound_start, wait_for)

TITLE_PATTERN = "^Tonewell =\\)$"


def default_signals():
    die_with_parent()
    signal.signal(signal.SIGINT, signal.SIG_DFL)  # as from a terminal


class PlayFile(Case):
    def setUp(self):
        super().setUp()
        self.tunes, self.tmp = os.path.join(self.work, "tunes"), os.path.join(self.work, "tmp")
        make_tunes.make(self.tunes)
        for name, data in (("ten_minutes.pt3", make_pt_modules.ten_minutes()), ("two_songs.ay", make_ay.two_songs())):
            with open(os.path.join(self.tunes, name), "wb") as fh:
                fh.write(data)
        os.mkdir(self.tmp)

    def play(self, name, options, length, hows):
        """Plays the tune once per way of ending it; compares the sound with its render (length:
        tonewell-render's --frames option, or the whole pass)."""
        tune = options + [os.path.join(self.tunes, name)]
        reference = os.path.join(self.work, "reference.raw")
        subprocess.run([self.opt.render] + length + tune + [reference], check=True, stderr=subprocess.DEVNULL)
        reference = open(reference, "rb").read()
        with X11Session() as x:
            for how in hows:
                with self.subTest(how=how):
                    self.play_once(x, tune, reference, how)

    def play_once(self, x, tune, reference, how):
        capture = os.path.join(self.work, "capture-%s.raw" % how)
        env = dict(x.env, TMPDIR=self.tmp, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=capture)
        play = subprocess.Popen([self.opt.play] + tune, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=default_signals)
        self.addCleanup(lambda: play.poll() is not None or (play.kill(), play.wait()))
        window = wait_for(lambda: x.run(["xdotool", "search", "--name", TITLE_PATTERN], check=False).split(), 30,
                          "the player's window")[0]
        folders = os.listdir(self.tmp)
        check(len(folders) == 1 and os.path.isfile(os.path.join(self.tmp, folders[0], "music", "dump.txt")),
              "no private folder holding music/dump.txt while it plays: %r" % folders)
        # 2 s of music after the lap, at the disk driver's real-time pace.
        wait_for(lambda: os.path.exists(capture) and os.path.getsize(capture) >= (RING_FRAMES + 2 * SAMPLE_RATE) * 4,
                 30, "the sound to reach 2 s")
        if how == "alt+f4":
            x.run(["xdotool", "windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"])
        else:
            play.send_signal(signal.SIGTERM if how == "sigterm" else signal.SIGINT)
        code = play.wait(timeout=20)
        check(code == 0, "exit status %d, not 0, passed on" % code)
        check(os.listdir(self.tmp) == [], "the temporary folder is left: %r" % os.listdir(self.tmp))
        data = open(capture, "rb").read()
        start = sound_start(data, reference)
        check(start is not None and start >= RING_FRAMES, "the music starts at frame %s, not after the silent lap" % start)
        n = min(len(reference), len(data) - start * FRAME_BYTES)
        check(data[start * FRAME_BYTES:start * FRAME_BYTES + n] == reference[:n],
              "the %d frames after the lap differ from the render" % (n // FRAME_BYTES))

    def test_ym_every_way(self):
        self.play("packed.ym6", [], [], ("alt+f4", "sigterm", "sigint"))

    def test_pt3(self):  # the first 10 s of the 10-minute module
        self.play("ten_minutes.pt3", [], ["--frames", "441000"], ("alt+f4",))

    def test_ay_song_2(self):
        self.play("two_songs.ay", ["--song", "2"], [], ("sigterm",))

    def test_file_that_does_not_convert(self):
        bad = subprocess.run([self.opt.play, os.path.join(self.tunes, "truncated.ym6")],
                             env=dict(os.environ, TMPDIR=self.tmp), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        check(bad.returncode == 1 and len(bad.stderr.splitlines()) == 1 and os.listdir(self.tmp) == [],
              "exit %d, %r, folders %r" % (bad.returncode, bad.stderr, os.listdir(self.tmp)))


if __name__ == "__main__":
    sys.exit(main(PlayFile, ["play", "render"]))
