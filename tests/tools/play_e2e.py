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
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "formats"))
sys.path.insert(0, os.path.dirname(HERE))
import make_ay  # noqa: E402
import make_pt_modules  # noqa: E402
import make_tunes  # noqa: E402
from e2e_support import Case, X11Session, check, main, play_and_close, run_ok, write_file  # noqa: E402


class PlayFile(Case):
    def setUp(self):
        super().setUp()
        self.tunes = os.path.join(self.work, "tunes")
        make_tunes.make(self.tunes)
        write_file(os.path.join(self.tunes, "ten_minutes.pt3"), make_pt_modules.ten_minutes())
        write_file(os.path.join(self.tunes, "two_songs.ay"), make_ay.two_songs())

    def play(self, name, options, length, hows):
        """Plays the tune once per way of ending it; compares the sound with its render (length:
        tonewell-render's --frames option, or the whole pass)."""
        tune = options + [os.path.join(self.tunes, name)]
        reference = run_ok([self.opt.render] + length + tune + ["-"]).stdout
        with X11Session() as x:
            for how in hows:
                with self.subTest(how=how):
                    play_and_close(x, [self.opt.play] + tune, reference, how)

    def test_ym_every_way(self):
        self.play("packed.ym6", [], [], ("alt+f4", "sigterm", "sigint"))

    def test_pt3(self):  # the first 10 s of the 10-minute module
        self.play("ten_minutes.pt3", [], ["--frames", "441000"], ("alt+f4",))

    def test_ay_song_2(self):
        self.play("two_songs.ay", ["--song", "2"], [], ("sigterm",))

    def test_file_that_does_not_convert(self):
        tmp = os.path.join(self.work, "tmp")
        os.mkdir(tmp)
        bad = subprocess.run([self.opt.play, os.path.join(self.tunes, "truncated.ym6")],
                             env=dict(os.environ, TMPDIR=tmp), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        check(bad.returncode == 1 and len(bad.stderr.splitlines()) == 1 and os.listdir(tmp) == [],
              "exit %d, %r, folders %r" % (bad.returncode, bad.stderr, os.listdir(tmp)))


if __name__ == "__main__":
    sys.exit(main(PlayFile, ["play", "render"]))
