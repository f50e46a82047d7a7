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

RENDER = None
CONVERT = None
DUMP = None
FRAMES = '2000'
# A hung renderer is the fault some cases look for; this only bounds how long a failing run
# takes. A passing run ends as soon as the renderer does.
HANG_LIMIT = 20


def render(*args, stdout=subprocess.PIPE):
    return subprocess.run([RENDER, *args], stdout=stdout, stderr=subprocess.PIPE,
                          timeout=HANG_LIMIT)


def mknod_char(path, major, minor):
    try:
        os.mknod(path, 0o600 | stat.S_IFCHR, os.makedev(major, minor))
    except PermissionError:
        raise unittest.SkipTest('mknod needs root')


class RenderEdges(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.TemporaryDirectory(prefix='tonewell-render-edges-')
        reference = os.path.join(cls.top.name, 'reference.raw')
        result = render('--frames', FRAMES, DUMP, reference)
        assert result.returncode == 0, result.stderr
        with open(reference, 'rb') as fh:
            cls.expected = fh.read()
        assert len(cls.expected) == int(FRAMES) * 4

    @classmethod
    def tearDownClass(cls):
        cls.top.cleanup()

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.top.name)

    def path(self, name):
        return os.path.join(self.dir, name)

    def assertExit(self, result, code, *words):
        err = result.stderr.decode(errors='replace')
        self.assertEqual(result.returncode, code, err)
        for word in words:
            self.assertIn(word, err)
        self.assertNotIn('Success', err)

    # --- outputs -------------------------------------------------------------------------

    def test_device_node_is_written_directly_and_stays_a_device(self):
        null = self.path('null')
        mknod_char(null, 1, 3)
        result = render('--frames', FRAMES, DUMP, null)
        self.assertExit(result, 0)
        info = os.lstat(null)
        self.assertTrue(stat.S_ISCHR(info.st_mode), oct(info.st_mode))
        self.assertEqual(info.st_rdev, os.makedev(1, 3))
        self.assertEqual(sorted(os.listdir(self.dir)), ['null'])

    def test_full_device_reports_the_write_error_and_stays_a_device(self):
        full = self.path('full')
        mknod_char(full, 1, 7)
        result = render('--frames', FRAMES, DUMP, full)
        self.assertExit(result, 1, 'cannot write', 'No space left on device')
        self.assertTrue(stat.S_ISCHR(os.lstat(full).st_mode))
        self.assertEqual(sorted(os.listdir(self.dir)), ['full'])

    def test_symlink_to_a_device_stays_a_symlink_to_it(self):
        null = self.path('null')
        mknod_char(null, 1, 3)
        os.symlink(null, self.path('link'))
        result = render('--frames', FRAMES, DUMP, self.path('link'))
        self.assertExit(result, 0)
        self.assertTrue(stat.S_ISLNK(os.lstat(self.path('link')).st_mode))
        self.assertTrue(stat.S_ISCHR(os.lstat(null).st_mode))
        self.assertEqual(sorted(os.listdir(self.dir)), ['link', 'null'])

    def test_fifo_with_a_reader_gets_the_frames_and_stays_a_fifo(self):
        fifo = self.path('fifo')
        os.mkfifo(fifo)
        got = []
        reader = subprocess.Popen(['cat', fifo], stdout=subprocess.PIPE)
        collect = threading.Thread(target=lambda: got.append(reader.stdout.read()))
        collect.start()
        result = render('--frames', FRAMES, DUMP, fifo)
        try:
            reader.wait(timeout=HANG_LIMIT)
        except subprocess.TimeoutExpired:
            reader.kill()
        collect.join()
        reader.stdout.close()
        self.assertExit(result, 0)
        self.assertEqual(reader.returncode, 0, 'the reader never saw a writer')
        self.assertEqual(got[0], self.expected)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))
        self.assertEqual(sorted(os.listdir(self.dir)), ['fifo'])

    def test_stdout_as_dash(self):
        result = render('--frames', FRAMES, DUMP, '-')
        self.assertExit(result, 0)
        self.assertEqual(result.stdout, self.expected)

    def test_regular_file_is_replaced_whole_keeping_its_mode(self):
        out = self.path('song.raw')
        with open(out, 'wb') as fh:
            fh.write(b'old contents')
        os.chmod(out, 0o640)
        # Someone else's file with the name a careless temporary would take.
        with open(out + '.partial', 'wb') as fh:
            fh.write(b'not ours')
        old = open(out, 'rb')  # still reads the replaced file: no write went into it
        before = os.stat(out).st_ino
        result = render('--frames', FRAMES, DUMP, out)
        self.assertExit(result, 0)
        self.assertEqual(old.read(), b'old contents')
        old.close()
        self.assertNotEqual(os.stat(out).st_ino, before)
        with open(out, 'rb') as fh:
            self.assertEqual(fh.read(), self.expected)
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)
        with open(out + '.partial', 'rb') as fh:
            self.assertEqual(fh.read(), b'not ours')
        self.assertEqual(sorted(os.listdir(self.dir)), ['song.raw', 'song.raw.partial'])

    def test_new_file_and_symlink_to_a_regular_file(self):
        out = self.path('new.raw')
        self.assertExit(render('--frames', FRAMES, DUMP, out), 0)
        with open(out, 'rb') as fh:
            self.assertEqual(fh.read(), self.expected)
        os.symlink('new.raw', self.path('link'))
        self.assertExit(render('--frames', '100', DUMP, self.path('link')), 0)
        self.assertTrue(stat.S_ISLNK(os.lstat(self.path('link')).st_mode))
        with open(out, 'rb') as fh:
            self.assertEqual(fh.read(), self.expected[:400])
        self.assertEqual(sorted(os.listdir(self.dir)), ['link', 'new.raw'])

    def test_directory_as_output_is_an_error_that_creates_nothing(self):
        self.assertExit(render('--frames', '10', DUMP, self.dir + '/'), 1, 'names a directory')
        self.assertExit(render('--frames', '10', DUMP, self.dir), 1, 'is a directory')
        self.assertEqual(os.listdir(self.dir), [])

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


class ConvertEdges(unittest.TestCase):
    """The converter writes OUT by the renderer's rules and reads its numbers as strictly."""

    def setUp(self):
        if not CONVERT:
            self.skipTest('no --convert given')
        self.dir_handle = tempfile.TemporaryDirectory(prefix='tonewell-convert-edges-')
        self.dir = self.dir_handle.name
        self.tune = os.path.join(self.dir, 'tune.psg')
        with open(self.tune, 'wb') as fh:
            fh.write(psg_tune())
        result = convert(self.tune, '-')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.expected = result.stdout
        self.assertGreater(len(self.expected), 0)

    def tearDown(self):
        self.dir_handle.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_devices_fifos_and_links_to_them_are_written_in_place(self):
        null, full = self.path('null'), self.path('full')
        mknod_char(null, 1, 3)
        mknod_char(full, 1, 7)
        os.symlink(null, self.path('link'))
        for out in (null, self.path('link')):
            self.assertEqual(convert(self.tune, out).returncode, 0)
        result = convert(self.tune, full)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b'No space left on device', result.stderr)
        self.assertTrue(stat.S_ISCHR(os.lstat(null).st_mode))
        self.assertTrue(stat.S_ISCHR(os.lstat(full).st_mode))
        self.assertTrue(stat.S_ISLNK(os.lstat(self.path('link')).st_mode))
        self.assertEqual(sorted(os.listdir(self.dir)), ['full', 'link', 'null', 'tune.psg'])

    def test_fifo_with_a_reader_gets_the_dump_text(self):
        fifo = self.path('fifo')
        os.mkfifo(fifo)
        reader = subprocess.Popen(['cat', fifo], stdout=subprocess.PIPE)
        result = convert(self.tune, fifo)
        got, _ = reader.communicate(timeout=HANG_LIMIT)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(got, self.expected)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))

    def test_regular_file_is_replaced_whole_and_directories_are_refused(self):
        out = self.path('tune.txt')
        with open(out, 'wb') as fh:
            fh.write(b'old')
        os.chmod(out, 0o640)
        self.assertEqual(convert(self.tune, out).returncode, 0)
        with open(out, 'rb') as fh:
            self.assertEqual(fh.read(), self.expected)
        self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)
        sub = self.path('sub')
        os.mkdir(sub)
        self.assertEqual(convert(self.tune, sub).returncode, 1)
        self.assertEqual(convert(self.tune, sub + '/').returncode, 1)
        self.assertEqual(os.listdir(sub), [])
        self.assertEqual(sorted(os.listdir(self.dir)), ['sub', 'tune.psg', 'tune.txt'])

    def test_clock_must_be_a_plain_positive_number(self):
        out = self.path('out.txt')
        for value in (' 12', '12 ', '12x', '', '0', '-5', '+12', '0x10', '1e6', '4294967296'):
            with self.subTest(value=value):
                result = convert('--clock', value, self.tune, out)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b'--clock', result.stderr)
        for value in ('0', '65536', '1x'):  # --song reads its digits as --clock does, up to 65535
            self.assertEqual(convert('--song', value, self.tune, out).returncode, 2, value)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(convert('--clock', '1750000', self.tune, out).returncode, 0)


def convert(*args):
    return subprocess.run([CONVERT, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=HANG_LIMIT)


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
