#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-render and tonewell-convert at their edges: outputs that are not regular files,
inputs that are not regular files, and option values that are not plain numbers.

Usage: test_render_edges.py --render PATH [--convert PATH] [--dump PATH] [unittest arguments]
Device nodes are made with mknod in a private temporary folder (needs root; those cases are
skipped otherwise); the machine's own /dev is only read (/dev/zero as a dump).
"""

import argparse
import os
import stat
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_support import read_file, run_tool, write_file  # noqa: E402

RENDER = None
CONVERT = None
DUMP = None
FRAMES = '2000'
# A hung renderer is the fault some cases look for; this only bounds how long a failing run
# takes. A passing run ends as soon as the renderer does.
HANG_LIMIT = 20


def render(*args):
    return run_tool([RENDER, *args], timeout=HANG_LIMIT)


def convert(*args):
    return run_tool([CONVERT, *args], timeout=HANG_LIMIT)


def mknod_char(path, major, minor):
    try:
        os.mknod(path, 0o600 | stat.S_IFCHR, os.makedev(major, minor))
    except PermissionError:
        raise unittest.SkipTest('mknod needs root')


def through_fifo(fifo, write):
    """Runs write() while cat reads the FIFO; returns write's result, what cat read and cat's
    exit status."""
    reader = subprocess.Popen(['cat', fifo], stdout=subprocess.PIPE)
    got = []
    collect = threading.Thread(target=lambda: got.append(reader.stdout.read()))
    collect.start()
    result = write()
    try:
        reader.wait(timeout=HANG_LIMIT)
    except subprocess.TimeoutExpired:
        reader.kill()
    collect.join()
    reader.stdout.close()
    return result, got[0], reader.returncode


class Edges(unittest.TestCase):
    """A fresh folder per case, and the checks on what is in it."""

    def setUp(self):
        self.dir_handle = tempfile.TemporaryDirectory(prefix='tonewell-edges-')
        self.addCleanup(self.dir_handle.cleanup)
        self.dir = self.dir_handle.name

    def path(self, name):
        return os.path.join(self.dir, name)

    def assertExit(self, result, code, *words):
        err = result.stderr.decode(errors='replace')
        self.assertEqual(result.returncode, code, err)
        for word in words:
            self.assertIn(word, err)
        self.assertNotIn('Success', err)

    def assertKind(self, name, is_kind):
        """name (in the folder, not followed when a link) is of the kind stat's is_kind tells."""
        mode = os.lstat(self.path(name)).st_mode
        self.assertTrue(is_kind(mode), '%s: %o' % (name, mode))

    def assertFolder(self, *names):
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(names))

    def assertReplacedKeepingMode(self, name, run, old, expected):
        """run(path) writes the regular file name that held old with mode 0640: a new file in its
        place holding expected, with the same mode."""
        out = write_file(self.path(name), old)
        os.chmod(out, 0o640)
        held = open(out, 'rb')  # still reads the replaced file: no write went into it
        before = os.stat(out).st_ino
        self.assertExit(run(out), 0)
        self.assertEqual(held.read(), old)
        held.close()
        self.assertNotEqual(os.stat(out).st_ino, before)
        self.assertEqual(read_file(out), expected)
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)


class RenderEdges(Edges):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory(prefix='tonewell-render-edges-') as top:
            result = render('--frames', FRAMES, DUMP, os.path.join(top, 'reference.raw'))
            assert result.returncode == 0, result.stderr
            cls.expected = read_file(os.path.join(top, 'reference.raw'))
        assert len(cls.expected) == int(FRAMES) * 4

    # --- outputs -------------------------------------------------------------------------

    def test_device_node_is_written_directly_and_stays_a_device(self):
        mknod_char(self.path('null'), 1, 3)
        self.assertExit(render('--frames', FRAMES, DUMP, self.path('null')), 0)
        self.assertKind('null', stat.S_ISCHR)
        self.assertEqual(os.lstat(self.path('null')).st_rdev, os.makedev(1, 3))
        self.assertFolder('null')

    def test_full_device_reports_the_write_error_and_stays_a_device(self):
        mknod_char(self.path('full'), 1, 7)
        self.assertExit(render('--frames', FRAMES, DUMP, self.path('full')), 1, 'cannot write',
                        'No space left on device')
        self.assertKind('full', stat.S_ISCHR)
        self.assertFolder('full')

    def test_symlink_to_a_device_stays_a_symlink_to_it(self):
        mknod_char(self.path('null'), 1, 3)
        os.symlink(self.path('null'), self.path('link'))
        self.assertExit(render('--frames', FRAMES, DUMP, self.path('link')), 0)
        self.assertKind('link', stat.S_ISLNK)
        self.assertKind('null', stat.S_ISCHR)
        self.assertFolder('link', 'null')

    def test_fifo_with_a_reader_gets_the_frames_and_stays_a_fifo(self):
        fifo = self.path('fifo')
        os.mkfifo(fifo)
        result, got, reader = through_fifo(fifo, lambda: render('--frames', FRAMES, DUMP, fifo))
        self.assertExit(result, 0)
        self.assertEqual(reader, 0, 'the reader never saw a writer')
        self.assertEqual(got, self.expected)
        self.assertKind('fifo', stat.S_ISFIFO)
        self.assertFolder('fifo')

    def test_stdout_as_dash(self):
        result = render('--frames', FRAMES, DUMP, '-')
        self.assertExit(result, 0)
        self.assertEqual(result.stdout, self.expected)

    def test_regular_file_is_replaced_whole_keeping_its_mode(self):
        # Someone else's file with the name a careless temporary would take.
        write_file(self.path('song.raw.partial'), b'not ours')
        self.assertReplacedKeepingMode('song.raw', lambda out: render('--frames', FRAMES, DUMP, out), b'old contents',
                                       self.expected)
        self.assertEqual(read_file(self.path('song.raw.partial')), b'not ours')
        self.assertFolder('song.raw', 'song.raw.partial')

    def test_new_file_and_symlink_to_a_regular_file(self):
        out = self.path('new.raw')
        self.assertExit(render('--frames', FRAMES, DUMP, out), 0)
        self.assertEqual(read_file(out), self.expected)
        os.symlink('new.raw', self.path('link'))
        self.assertExit(render('--frames', '100', DUMP, self.path('link')), 0)
        self.assertKind('link', stat.S_ISLNK)
        self.assertEqual(read_file(out), self.expected[:400])
        self.assertFolder('link', 'new.raw')

    def test_directory_as_output_is_an_error_that_creates_nothing(self):
        self.assertExit(render('--frames', '10', DUMP, self.dir + '/'), 1, 'names a directory')
        self.assertExit(render('--frames', '10', DUMP, self.dir), 1, 'is a directory')
        self.assertFolder()
    # --- dumps ---------------------------------------------------------------------------

    def test_dumps_that_are_not_regular_files_are_refused_at_once(self):
        fifo = self.path('fifo')
        os.mkfifo(fifo)
        out = self.path('out.raw')
        self.assertExit(render(fifo, out), 1, 'cannot open dump', 'FIFO')  # no writer
        writer = os.open(fifo, os.O_RDWR | os.O_NONBLOCK)  # a writer that never writes
        try:
            self.assertExit(render(fifo, out), 1, 'cannot open dump', 'FIFO')
        finally:
            os.close(writer)
        self.assertExit(render('/dev/zero', out), 1, 'cannot open dump /dev/zero', 'character device')
        self.assertExit(render(self.dir, out), 1, 'cannot open dump %s: is a directory' % self.dir)
        self.assertExit(render(self.path('absent'), out), 1, 'No such file or directory')
        self.assertFalse(os.path.exists(out))

    # --- options -------------------------------------------------------------------------

    def test_option_values_must_be_plain_finite_numbers(self):
        out = self.path('out.raw')
        bad = [('--level', v) for v in ('nan', 'NaN', 'inf', '-inf', 'infinity', ' 0.5', '0.5 ',
                                       '0.5x', '')]
        bad += [('--frames', v) for v in (' 12', '12 ', '12x', '', '-1', '+12', '0x10', '1e3')]
        bad += [('--loops', v) for v in ('0', '1001', '2x', '-1')] + [('-j', v) for v in ('0', '1.5')]
        bad += [('--fade', v) for v in ('-1', 'nan', '5s')] + [('--quality', v) for v in ('1.5', '-0.1', 'x')]
        bad += [('--format', v) for v in ('FLAC', 'aiff', '')]
        for option, value in bad:
            with self.subTest(option=option, value=value):
                self.assertExit(render(option, value, DUMP, out), 2, 'bad value for ' + option)
        self.assertFalse(os.path.exists(out))
        self.assertExit(render('--frames', '12', '--level', '0.5', DUMP, out), 0)
        self.assertEqual(os.path.getsize(out), 48)


def psg_tune():
    """A small PSG log: header, a tone on A, then frames with and without a shape write."""
    body = bytes([0, 0x3C, 1, 1, 7, 0x3E, 8, 15, 0xFF, 13, 9, 0xFF, 0xFF, 0xFE, 2, 13, 9, 0xFF])
    return b'PSG\x1a' + bytes(12) + body


class ConvertEdges(Edges):
    """The converter writes OUT by the renderer's rules and reads its numbers as strictly."""

    def setUp(self):
        if not CONVERT:
            self.skipTest('no --convert given')
        super().setUp()
        self.tune = write_file(self.path('tune.psg'), psg_tune())
        result = convert(self.tune, '-')
        self.assertExit(result, 0)
        self.expected = result.stdout
        self.assertGreater(len(self.expected), 0)

    def test_devices_fifos_and_links_to_them_are_written_in_place(self):
        mknod_char(self.path('null'), 1, 3)
        mknod_char(self.path('full'), 1, 7)
        os.symlink(self.path('null'), self.path('link'))
        for out in ('null', 'link'):
            self.assertExit(convert(self.tune, self.path(out)), 0)
        self.assertExit(convert(self.tune, self.path('full')), 1, 'No space left on device')
        self.assertKind('null', stat.S_ISCHR)
        self.assertKind('full', stat.S_ISCHR)
        self.assertKind('link', stat.S_ISLNK)
        self.assertFolder('full', 'link', 'null', 'tune.psg')

    def test_fifo_with_a_reader_gets_the_dump_text(self):
        os.mkfifo(self.path('fifo'))
        result, got, reader = through_fifo(self.path('fifo'), lambda: convert(self.tune, self.path('fifo')))
        self.assertExit(result, 0)
        self.assertEqual((got, reader), (self.expected, 0))
        self.assertKind('fifo', stat.S_ISFIFO)

    def test_regular_file_is_replaced_whole_and_directories_are_refused(self):
        self.assertReplacedKeepingMode('tune.txt', lambda out: convert(self.tune, out), b'old', self.expected)
        os.mkdir(self.path('sub'))
        self.assertExit(convert(self.tune, self.path('sub')), 1)
        self.assertExit(convert(self.tune, self.path('sub') + '/'), 1)
        self.assertEqual(os.listdir(self.path('sub')), [])
        self.assertFolder('sub', 'tune.psg', 'tune.txt')

    def test_clock_must_be_a_plain_positive_number(self):
        out = self.path('out.txt')
        for option, values in (('--clock', (' 12', '12 ', '12x', '', '0', '-5', '+12', '0x10', '1e6', '4294967296')),
                               ('--song', ('0', '65536', '1x'))):  # --song reads its digits as --clock does
            for value in values:
                with self.subTest(option=option, value=value):
                    self.assertExit(convert(option, value, self.tune, out), 2, option)
        self.assertFalse(os.path.exists(out))
        self.assertExit(convert('--clock', '1750000', self.tune, out), 0)


def main():
    global RENDER, CONVERT, DUMP
    parser = argparse.ArgumentParser()
    parser.add_argument('--render', required=True)
    parser.add_argument('--convert')
    parser.add_argument('--dump', default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', '..', 'music', 'dump.txt'))
    args, rest = parser.parse_known_args()
    RENDER = os.path.abspath(args.render)
    CONVERT = os.path.abspath(args.convert) if args.convert else None
    DUMP = os.path.abspath(args.dump)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == '__main__':
    main()
