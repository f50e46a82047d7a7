#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-play against a fake converter and a fake player: a copy of the program put beside
two small shell scripts named tonewell-convert and tonewell, in an installed layout
(bin/, share/tonewell/dump.txt). Each case checks the exit status, what the player found in
its working directory, and that the temporary folder is gone afterwards.

    test_play.py --play TONEWELL_PLAY [unittest args]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_support import tool_result, write_file  # noqa: E402

PLAY = None
WAIT_S = 20.0
USAGE = "tonewell-play [--song N] [--clock HZ] [--no-rescale] [--layout NAME] [FILE]"

# The fake converter: writes a dump naming its input, or fails as FAKE_CONVERT says.
FAKE_CONVERT = r"""#!/bin/sh
echo "convert $*" >> "$FAKE_LOG"
case "$FAKE_CONVERT" in
  fail) echo "tonewell-convert: $1: not a music file" >&2; exit 1 ;;
  usage) exit 2 ;;
  wait) trap 'echo "convert got TERM" >> "$FAKE_LOG"; kill $pause; exit 9' TERM
        sleep 60 > /dev/null 2>&1 & pause=$!
        : > "$FAKE_READY"; wait $pause; exit 0 ;;
esac
[ "$1" = --song ] && shift 2
printf 'converted %s\r\n' "$1" > "$2"
"""

# The fake player: notes its working directory, its arguments, the dump it finds and the
# folder's mode, then ends as FAKE_PLAYER says.
FAKE_PLAYER = r"""#!/bin/sh
{ echo "cwd $(pwd)"; echo "args $#"; echo "mode $(stat -c %a .)"; echo "dump $(cat music/dump.txt | head -c 200)"; } >> "$FAKE_LOG"
case "$FAKE_PLAYER" in
  exit:*) exit "${FAKE_PLAYER#exit:}" ;;
  killself) kill -TERM $$; sleep 5; exit 0 ;;
  crash) kill -SEGV $$; sleep 5; exit 0 ;;
  wait) trap 'echo "player got TERM" >> "$FAKE_LOG"; kill $pause; exit 42' TERM
        trap 'echo "player got HUP" >> "$FAKE_LOG"; kill $pause; exit 43' HUP
        sleep 60 > /dev/null 2>&1 & pause=$!
        : > "$FAKE_READY"; wait $pause; exit 0 ;;
esac
exit 0
"""


class Layout:
    """bin/ with the copy and the fakes, share/tonewell/dump.txt, a private TMPDIR."""

    def __init__(self, root):
        self.root = root
        self.bin = os.path.join(root, "bin")
        self.tmp = os.path.join(root, "tmp")
        self.log = os.path.join(root, "log.txt")
        self.ready = os.path.join(root, "ready")
        for folder in (self.bin, self.tmp, os.path.join(root, "share", "tonewell")):
            os.makedirs(folder)
        write_file(os.path.join(root, "share", "tonewell", "dump.txt"), "demo tune\n")
        shutil.copy(PLAY, os.path.join(self.bin, "tonewell-play"))
        for name, text in (("tonewell", FAKE_PLAYER), ("tonewell-convert", FAKE_CONVERT)):
            os.chmod(write_file(os.path.join(self.bin, name), text), 0o755)

    def start(self, args, player="exit:0", convert="ok"):
        env = dict(os.environ, TMPDIR=self.tmp, FAKE_LOG=self.log, FAKE_READY=self.ready,
                   FAKE_PLAYER=player, FAKE_CONVERT=convert)
        return subprocess.Popen([os.path.join(self.bin, "tonewell-play")] + args, cwd=self.root,
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run(self, args, **env):
        proc = self.start(args, **env)
        out, err = proc.communicate(timeout=WAIT_S)
        return proc.returncode, out.decode(), err.decode()

    def entries(self):
        """What the log says, as (key, rest) pairs."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as fh:
            return [tuple(line.rstrip("\n").split(" ", 1)) for line in fh]

    def value(self, key):
        values = [v for k, v in self.entries() if k == key]
        return values[0] if values else None

    def wait_ready(self, proc):
        deadline = time.monotonic() + WAIT_S
        while not os.path.exists(self.ready):
            if proc.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the fake did not get ready (tonewell-play: %s)" % proc.poll())
            time.sleep(0.02)


class TonewellPlayTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tonewell-play-test-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.layout = Layout(self.root)

    def play(self, args, status=0, **env):
        """Runs tonewell-play, checks its exit status and returns its standard error."""
        code, _, err = self.layout.run(args, **env)
        self.assertEqual(code, status, err)
        return err

    def assertNoFolder(self):
        self.assertEqual(os.listdir(self.layout.tmp), [])

    def assertFolderGone(self):
        cwd = self.layout.value("cwd")
        self.assertIsNotNone(cwd, "the player did not run: %r" % self.layout.entries())
        self.assertTrue(cwd.startswith(self.layout.tmp + "/tonewell-play-"), cwd)
        self.assertFalse(os.path.exists(cwd), "temporary folder left: " + cwd)
        self.assertNoFolder()

    def test_file_converted_into_private_folder_and_removed_after_normal_exit(self):
        self.play(["song.ym"])
        self.assertEqual(self.layout.value("dump"), "converted song.ym")
        self.assertEqual(self.layout.value("mode"), "700")
        self.assertEqual(self.layout.value("args"), "0")
        self.assertEqual(self.layout.value("convert").split(" "),
                         ["song.ym", self.layout.value("cwd") + "/music/dump.txt"])
        self.assertFolderGone()

    def test_double_dash_lets_a_file_name_start_with_a_dash(self):
        self.play(["--", "-odd.ym"])
        # Passed on so that the converter cannot take it for an option either.
        self.assertEqual(self.layout.value("dump"), "converted ./-odd.ym")
        self.assertFolderGone()

    def test_tune_options_reach_the_converter_in_order_before_the_file(self):
        options = ["--layout", "abc", "--no-rescale", "--clock", "2000000"]
        self.play(options + ["song.ym"])
        self.assertEqual(self.layout.value("convert").split(" "),
                         options + ["song.ym", self.layout.value("cwd") + "/music/dump.txt"])
        self.assertFolderGone()

    def test_players_exit_code_or_signal_passed_on(self):
        # A player ended by a signal gives 128 + the signal.
        for player, status in (("exit:3", 3), ("exit:255", 255), ("killself", 128 + signal.SIGTERM),
                               ("crash", 128 + signal.SIGSEGV)):
            with self.subTest(player=player):
                self.play(["a.psg"], status, player=player)
                self.assertFolderGone()

    def test_sigterm_and_sighup_to_play_reach_the_player(self):
        for sig, word, status in ((signal.SIGTERM, "TERM", 42), (signal.SIGHUP, "HUP", 43)):
            with self.subTest(signal=word):
                if os.path.exists(self.layout.ready):
                    os.remove(self.layout.ready)
                proc = self.layout.start(["a.ym"], player="wait")
                self.layout.wait_ready(proc)
                proc.send_signal(sig)
                proc.communicate(timeout=WAIT_S)
                self.assertEqual(proc.returncode, status)
                self.assertIn(("player", "got " + word), self.layout.entries())
                self.assertFolderGone()
                os.remove(self.layout.log)

    def test_sigterm_during_conversion_stops_it_and_never_starts_the_player(self):
        proc = self.layout.start(["a.ym"], convert="wait")
        self.layout.wait_ready(proc)
        proc.send_signal(signal.SIGTERM)
        proc.communicate(timeout=WAIT_S)
        self.assertEqual(proc.returncode, 128 + signal.SIGTERM)
        self.assertIn(("convert", "got TERM"), self.layout.entries())
        self.assertIsNone(self.layout.value("cwd"))
        self.assertNoFolder()

    def test_converter_failure_shows_its_message_exit_1_no_folder(self):
        self.assertIn("tonewell-convert: bad.ym: not a music file", self.play(["bad.ym"], 1, convert="fail"))
        self.assertIsNone(self.layout.value("cwd"), "the player ran after a failed conversion")
        self.assertNoFolder()

    def test_song_goes_to_the_converter_whose_usage_error_gives_2(self):
        self.play(["--song", "2", "a.ay"])
        self.assertEqual(self.layout.value("convert").split(" ")[:3], ["--song", "2", "a.ay"])
        self.play(["--song", "9", "a.ay"], 2, convert="usage")

    def test_no_file_plays_a_copy_of_the_demo_tune(self):
        self.play([])
        self.assertEqual(self.layout.value("dump"), "demo tune")
        self.assertIsNone(self.layout.value("convert"))
        self.assertFolderGone()

    def test_missing_converter_is_reported(self):
        os.remove(os.path.join(self.layout.bin, "tonewell-convert"))
        self.assertIn("tonewell-play: cannot run %s/tonewell-convert" % self.layout.bin, self.play(["a.ym"], 1))
        self.assertNoFolder()

    def test_missing_demo_tune_is_reported(self):
        shutil.rmtree(os.path.join(self.root, "share"))
        self.assertIn("cannot copy the demo tune", self.play([], 1))
        self.assertNoFolder()


class CommandLineTest(unittest.TestCase):
    """--help, --version and usage errors of the program itself."""

    def test_version_on_stdout(self):
        code, out, err = tool_result([PLAY, "--version"])
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out, r"^tonewell-play [0-9]+\.[0-9]+\.[0-9]+\n$")

    def test_help_on_stdout(self):
        code, out, err = tool_result([PLAY, "--help"])
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("usage: %s\n" % USAGE), out)
        self.assertIn("--version", out)

    def test_bad_arguments_usage_on_stderr_exit_2(self):
        for args, why in ((["--loud"], "unknown option --loud"), (["a.ym", "b.ym"], "too many arguments"),
                          (["--layout", "abd", "a.ym"], "--layout needs one of abc, acb, bac, bca, cab, cba"),
                          (["--clock", "0", "a.ym"], "--clock needs a frequency of 1 to 4294967295 Hz"),
                          (["--song", "0", "a.ay"], "--song needs a song number of 1 to 65535")):
            with self.subTest(args=args):
                code, out, err = tool_result([PLAY] + args)
                self.assertEqual((code, out), (2, ""))
                self.assertEqual(err, "tonewell-play: %s\nusage: %s\n" % (why, USAGE))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--play", required=True)
    args, rest = parser.parse_known_args()
    PLAY = os.path.abspath(args.play)
    unittest.main(argv=[sys.argv[0]] + rest)
