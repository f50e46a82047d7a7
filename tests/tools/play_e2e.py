#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-play FILE end to end (what ./play FILE runs): on a generated LHA-packed YM6, a
generated PT3 module and song 2 of a hand-made AY file (--song 2), in a private X server with openbox and SDL's disk driver as the sound
device.

Checks: after the player's one silent lap, the captured sound equals tonewell-render FILE bit
for bit; the temporary folder exists while it plays and is gone after Alt+F4, after SIGTERM and
after SIGINT to tonewell-play (whose exit status is the player's, 0); a file that does not convert
gives the converter's exit status 1 and leaves no folder.

Usage: play_e2e.py --play P --render R (P: the build tree's tonewell-play, which runs the
build tree's player and converter)
Ends with "N passed, N failed".
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "formats"))
sys.path.insert(0, os.path.join(ROOT, "tests", "app"))
import make_ay  # noqa: E402
import make_pt_modules  # noqa: E402
import make_tunes  # noqa: E402
from x11_session import X11Session, wait_for, die_with_parent  # noqa: E402

LAP_FRAMES = 7072  # the ring of 8 x 884 frames the stream plays silent before the music
# Each tune with its tonewell-play options, the part of its render compared (the whole pass, or
# the first 10 s of the 10-minute module), and the ways it is ended: the YM file every way, the
# PT3 module and the AY song once.
CASES = [("packed.ym6", [], [], ("alt+f4", "sigterm", "sigint")),
         ("ten_minutes.pt3", [], ["--frames", "441000"], ("alt+f4",)),
         ("two_songs.ay", ["--song", "2"], [], ("sigterm",))]


def compare_capture(capture, reference):
    """'' when capture = silence, one silent lap, then reference (as far as both go)."""
    if len(capture) < (LAP_FRAMES + 44100) * 4:
        return "only %d frames were captured" % (len(capture) // 4)
    lead = len(capture) - len(capture.lstrip(b"\0"))
    first_sound = len(reference) - len(reference.lstrip(b"\0"))
    start = (lead - first_sound) // 4 * 4
    if start < LAP_FRAMES * 4:
        return "the music starts at frame %d, inside the silent lap" % (start // 4)
    n = min(len(reference), len(capture) - start)
    if capture[start:start + n] != reference[:n]:
        return "the %d frames after the lap differ from the render" % (n // 4)
    return ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--play", required=True)
    ap.add_argument("--render", required=True)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="tonewell-play-e2e-")
    results = []

    def check(name, ok, detail=""):
        results.append(ok)
        print("%s: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok or not detail else " (%s)" % detail))

    try:
        tunes = os.path.join(work, "tunes")
        make_tunes.make(tunes)
        with open(os.path.join(tunes, "ten_minutes.pt3"), "wb") as fh:
            fh.write(make_pt_modules.ten_minutes())
        with open(os.path.join(tunes, "two_songs.ay"), "wb") as fh:
            fh.write(make_ay.two_songs())
        tmp = os.path.join(work, "tmp")
        os.mkdir(tmp)

        with X11Session() as x:
            for name, options, length, hows in CASES:
                tune = options + [os.path.join(tunes, name)]
                reference = os.path.join(work, "reference.raw")
                subprocess.run([args.render] + length + tune + [reference], check=True, stderr=subprocess.DEVNULL)
                reference = open(reference, "rb").read()
                for how in hows:
                    how = " ".join([name] + options + [how])
                    capture = os.path.join(work, "capture-%s.raw" % how.replace(" ", "-"))
                    env = dict(x.env, TMPDIR=tmp, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=capture)

                    def default_signals():
                        die_with_parent()
                        signal.signal(signal.SIGINT, signal.SIG_DFL)  # as from a terminal

                    play = subprocess.Popen([args.play] + tune, env=env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, preexec_fn=default_signals)
                    try:
                        window = wait_for(lambda: x.run(["xdotool", "search", "--name", "^Tonewell =\\)$"],
                                                        check=False).split(), 30, "the player's window")[0]
                        folders = os.listdir(tmp)
                        check("%s: a private folder holds music/dump.txt while it plays" % how,
                              len(folders) == 1 and os.path.isfile(os.path.join(tmp, folders[0], "music", "dump.txt")))
                        # 2 s of music after the lap, at the disk driver's real-time pace.
                        wait_for(lambda: os.path.exists(capture) and os.path.getsize(capture) >= (LAP_FRAMES + 88200) * 4,
                                 30, "the sound to reach 2 s")
                        if how.endswith("alt+f4"):
                            x.run(["xdotool", "windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"])
                        else:
                            play.send_signal(signal.SIGTERM if how.endswith("sigterm") else signal.SIGINT)
                        code = play.wait(timeout=20)
                    except Exception as e:  # a hang or a missing window is a failure, not a crash
                        play.kill()
                        play.wait()
                        check("%s: the player ran and ended" % how, False, str(e))
                        continue
                    check("%s: exit status 0 passed on" % how, code == 0, "exit %d" % code)
                    check("%s: the temporary folder is gone" % how, os.listdir(tmp) == [], str(os.listdir(tmp)))
                    problem = compare_capture(open(capture, "rb").read(), reference)
                    check("%s: the sound after the silent lap equals tonewell-render" % how, not problem, problem)

        bad = subprocess.run([args.play, os.path.join(tunes, "truncated.ym6")],
                             env=dict(os.environ, TMPDIR=tmp), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        check("a file that does not convert: exit 1, one message, no folder",
              bad.returncode == 1 and len(bad.stderr.splitlines()) == 1 and os.listdir(tmp) == [],
              "exit %d, %r" % (bad.returncode, bad.stderr))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
