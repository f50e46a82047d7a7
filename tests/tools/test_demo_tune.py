#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks for the bundled demo tune and the script that makes it."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, 'tools', 'make_demo_tune.py')
TUNE = os.path.join(ROOT, 'music', 'dump.txt')
LINE = re.compile(r'[0-9A-F]{2}( [0-9A-F]{2}){13}')


def load(path):
    with open(path, 'rb') as fh:
        return fh.read()


class DemoTuneTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = load(TUNE)
        cls.lines = cls.data.decode('ascii').split('\n')
        cls.last = cls.lines.pop()
        cls.frames = [[int(f, 16) for f in ln.split(' ')] for ln in cls.lines]

    def test_regenerates_byte_for_byte(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, 'dump.txt')
            subprocess.run([sys.executable, SCRIPT, out], check=True)
            self.assertEqual(load(out), self.data)

    def test_line_format_and_register_ranges(self):
        self.assertEqual(self.last, '', 'last line must end with LF')
        for no, ln in enumerate(self.lines, 1):
            self.assertTrue(LINE.fullmatch(ln), 'line %d: %r' % (no, ln))
        for no, r in enumerate(self.frames, 1):
            self.assertTrue(r[1] <= 0x0F and r[3] <= 0x0F and r[5] <= 0x0F, no)
            self.assertLessEqual(r[6], 0x1F, no)
            self.assertLessEqual(r[7], 0x3F, no)
            self.assertTrue(all(v <= 0x10 for v in r[8:11]), no)
            self.assertTrue(r[13] == 0xFF or r[13] <= 0x0F, no)
            # The envelope is shared: at most one voice in envelope mode.
            self.assertLessEqual(sum(v == 0x10 for v in r[8:11]), 1, no)
            # A voice loses its tone only while it plays a pure-noise hit.
            for v in range(3):
                if r[7] & (1 << v):
                    self.assertFalse(r[7] & (8 << v), 'line %d' % no)

    def test_length_and_clean_loop(self):
        self.assertGreaterEqual(len(self.lines), 45 * 50)
        self.assertLessEqual(len(self.lines), 120 * 50)
        # Ends in silence: no voice audible on the last frames.
        for r in self.frames[-10:]:
            self.assertEqual(r[8:11], [0, 0, 0])

    def test_arrangement_uses_the_chip(self):
        for v in range(3):
            self.assertTrue(any(r[8 + v] for r in self.frames), 'voice %d' % v)
        noisy = [r for r in self.frames if (r[7] & 0x38) != 0x38]
        self.assertTrue(noisy, 'no noise percussion')
        shapes = {r[13] for r in self.frames if r[13] != 0xFF}
        self.assertGreaterEqual(len(shapes), 2, shapes)
        # Shape writes restart the envelope, so they belong on note starts
        # only: most frames must leave the shape alone.
        writes = sum(r[13] != 0xFF for r in self.frames)
        self.assertLess(writes * 4, len(self.frames))
        for no, r in enumerate(self.frames, 1):
            if r[13] != 0xFF:
                self.assertIn(0x10, r[8:11], 'shape write on line %d' % no)


if __name__ == '__main__':
    unittest.main()
