#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Self-checks of the reference model against the chip's documented numbers."""

import math
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import refmodel as m  # noqa: E402


def chip(writes=(), filter_on=True, gain=1.0):
    c = m.Psg()
    c.reset()
    c.filter_enabled = 1 if filter_on else 0
    c.set_output_level(gain)
    for g, v in writes:
        c.write_group(g, v)
    return c


def change_frames(frames, side=0):
    """1-based numbers of the frames whose sample differs from the frame before."""
    return [i + 1 for i in range(1, len(frames)) if frames[i][side] != frames[i - 1][side]]


class Constants(unittest.TestCase):
    def test_configuration_values(self):
        self.assertEqual(m.PERIOD_STEP, 4.960317611694336)
        self.assertEqual(m.ENVELOPE_INCREMENT, 8397835 / 8388608)
        self.assertEqual(m.f32_bits(m.FILTER_INPUT_WEIGHT), 0x3F59999A)
        self.assertEqual(m.f32_bits(m.FILTER_STATE_WEIGHT), 0x3F7D70A4)


class RegisterFile(unittest.TestCase):
    def test_period_limits(self):
        for value, limit in ((1, 0.20160000026226044), (5, 1.0080000162124634),
                             (100, 20.15999984741211), (564, 113.70240020751953),
                             (1000, 201.59999084472656), (4095, 825.552001953125)):
            for group, field in ((0, lambda c: c.period_limit[0]),
                                 (2, lambda c: c.period_limit[2]),
                                 (3, lambda c: c.noise_limit),
                                 (8, lambda c: c.env_limit)):
                if group == 3 and value > 31:
                    continue
                with self.subTest(value=value, group=group):
                    self.assertEqual(field(chip([(group, value)])), limit)
        self.assertEqual(chip([(8, 65535)]).env_limit, 13211.85546875)
        self.assertEqual(chip([(0, 0)]).period_limit[0], 0.0)

    def test_masking_and_read_back(self):
        for group, value, kept in ((0, 4660, 564), (5, 31, 31), (9, 30, 14), (4, -1, 63),
                                   (8, 0x12345, 0x2345), (3, 0x25, 5), (10, 7, 0), (-1, 7, 0)):
            with self.subTest(group=group, value=value):
                c = chip()
                self.assertEqual(c.write_group(group, value), 0)
                self.assertEqual(c.read_group(group), kept)
        c = chip([(0, 4660)])
        self.assertEqual(c.period_limit[0], 113.70240020751953)
        c = chip([(9, 30)])
        self.assertEqual((c.env_index, c.env_flag), (-1, 0))

    def test_fixed_amplitudes_and_envelope_mode(self):
        levels = (30, 286, 470, 664, 1130, 1803, 2848, 3862, 6058, 8559, 12878, 17787,
                  26172, 35676, 50986, 65535)
        for level, amp in enumerate(levels):
            with self.subTest(level=level):
                c = chip([(6, level), (7, level + 16)])
                self.assertEqual(c.fixed_amp[1:], [amp, amp])
                self.assertEqual(c.env_mode[1:], [0, 16])

    def test_mixer_flags(self):
        for value, tone, noise, active in ((0, 1, 1, 1), (63, 0, 0, 0), (7, 0, 1, 1),
                                           (56, 1, 0, 1)):
            with self.subTest(mixer=value):
                c = chip([(4, value)])
                self.assertEqual((c.tone_en, c.noise_en, c.active),
                                 ([tone] * 3, [noise] * 3, [active] * 3))

    def test_output_level_clamping(self):
        for level, stored in ((1.5, 1.0), (-0.25, 0.0), (math.nan, 0.0), (0.0, 0.0),
                              (1.0, 1.0), (math.inf, 1.0), (0.5, 0.5)):
            with self.subTest(level=level):
                self.assertEqual(chip(gain=level).output_gain, stored)
        self.assertEqual(m.f32_bits(chip(gain=0.85).output_gain), 0x3F59999A)

    def test_reset_state(self):
        c = chip([(g, 0x5555) for g in range(10)], gain=0.3)
        c.run(50)
        c.reset()
        self.assertEqual([c.read_group(g) for g in range(10)], [0] * 10)
        self.assertEqual((c.noise_shift, c.env_index, c.env_flag), (0xFFFF, 32, 0))
        self.assertEqual(c.env_stepper, m.step_decay_then_low)
        self.assertEqual((c.phase, c.square, c.env_phase, c.env_level), ([0.0] * 3, [0] * 3, 0.0, 0.0))
        self.assertEqual(c.output_gain, m.f32(0.3))


class Envelope(unittest.TestCase):
    @staticmethod
    def steps(shape, n):
        """Table indices returned by n successive steps after a shape write."""
        c = chip([(9, shape)])
        out = []
        i, f = c.env_index, c.env_flag
        for _ in range(n):
            i, f = c.env_stepper(i, f)
            out.append(i)
        return out

    def test_shape_sequences(self):
        down, up = list(range(31, -1, -1)), list(range(32))
        cases = {
            0: down + [0] * 40, 9: down + [0] * 40, 4: up + [0] * 40, 15: up + [0] * 40,
            8: down * 3, 12: up * 3, 10: (down + up) * 2, 14: (up + down) * 2,
            11: down + [31] * 40, 13: up + [31] * 40}
        for shape, expected in cases.items():
            for written in (shape, shape + 16, shape + 0x7F0):
                with self.subTest(shape=shape, written=written):
                    self.assertEqual(self.steps(written, len(expected)), expected)

    def test_levels_and_indices_stay_in_table(self):
        for shape in range(16):
            seq = self.steps(shape, 300)
            self.assertTrue(all(0 <= i <= 31 for i in seq), shape)
        levels = [m.VOLUME_TABLE[i] for i in self.steps(0, 34)]
        self.assertEqual(levels[:3] + levels[29:], [65535, 58842, 50986, 190, 30, 0, 0, 0])

    def test_shape_write_keeps_phase_and_level(self):
        c = chip([(5, 16), (8, 3)])
        c.run(17)
        phase, level = c.env_phase, c.env_level
        c.write_group(9, 13)
        self.assertEqual((c.env_phase, c.env_level, c.env_index), (phase, level, -1))


class Rendering(unittest.TestCase):
    def test_frames_after_reset(self):
        # frames numbered from 0 here
        f = chip().render_frames(20)
        self.assertEqual(f[:2], [(-10, -10), (-11, -11)])
        self.assertEqual(f[2:18], [(8, 8), (-8, -8)] * 8)
        self.assertEqual(f[18:20], [(-11, -11)] * 2)

    def test_tone_a_filter_off(self):
        f = chip([(0, 100), (4, 62), (5, 15)], filter_on=False).render_frames(270)
        self.assertEqual(f[0:20], [(-16388, -11)] * 20)
        self.assertEqual(f[20], (16380, -11))
        self.assertEqual(change_frames(f),
                         [21, 41, 61, 81, 101, 121, 142, 162, 182, 202, 222, 242, 263])
        self.assertTrue(all(r == -11 for _, r in f))

    def test_tone_a_filter_on(self):
        f = chip([(0, 100), (4, 62), (5, 15)]).render_frames(4)
        self.assertEqual(f, [(-13929, -10), (-15879, -11), (-16153, -11), (-16191, -11)])

    def test_everything_disabled_full_volume(self):
        writes = [(4, 63), (5, 15), (6, 15), (7, 15)]
        for gain, frame in ((1.0, (-24576, -24576)), (0.5, (-12288, -12288))):
            with self.subTest(gain=gain):
                self.assertEqual(chip(writes, False, gain).render_frames(30), [frame] * 30)

    def test_noise_only_on_a(self):
        f = chip([(4, 55), (5, 15)], filter_on=False).render_frames(18)
        self.assertEqual([l for l, _ in f], [-16388] + [16380] * 16 + [-16388])

    def test_envelope_timing(self):
        f = chip([(4, 63), (5, 16), (8, 100), (9, 8)], filter_on=False).render_frames(210)
        self.assertEqual(f[0:20], [(-4, -11)] * 20)
        self.assertEqual([f[i - 1][0] for i in (21, 40, 41, 60, 61)],
                         [-16388, -16388, -14714, -14714, -12750])
        self.assertEqual(change_frames(f), [21, 41, 61, 81, 101, 121, 141, 162, 182, 202])

    def test_envelope_period_zero_steps_every_frame(self):
        c = chip([(4, 63), (5, 16), (9, 0)], filter_on=False)
        c.run(31)
        self.assertEqual(c.env_level, 30.0)
        c.run(1)
        self.assertEqual(c.env_level, 0.0)

    def test_gain_zero_silences_but_keeps_running(self):
        c = chip([(0, 7), (5, 15)], gain=0.0)
        self.assertEqual(set(c.render_frames(100)), {(0, 0)})
        self.assertNotEqual(c.filter_left, 0.0)

    def test_noise_sequence(self):
        c = chip([(4, 55), (5, 15)], filter_on=False)
        bits = [1 if l > 0 else 0 for l, _ in c.render_frames(57337 + 40)]
        self.assertEqual(bits[:20], [0] + [1] * 16 + [0, 0, 0])
        self.assertEqual(bits[57337:], bits[:40])
        self.assertNotEqual(bits[1000:1040], bits[:40])


class TextAndLoader(unittest.TestCase):
    def test_hex_byte(self):
        for text, value in ((b"0F", 15), (b"ff", 255), (b"FF", 255), (b"3c", 60),
                            (b"7", 119), (b"123", 19), (b"", -816), (b"G0", 256),
                            (b"\t0F", (9 - 48) * 16 + 15), (bytes([0xE1, 0x31]), (0xC1 - 55) * 16 + 1)):
            with self.subTest(text=text):
                self.assertEqual(m.hex_byte(text), value)

    def test_hex_pair(self):
        for low, high, value in ((b"3C", b"01", 0x13C), (b"0F", b"", 15),
                                 (b"", b"02", 2 * 256 - 816)):
            with self.subTest(low=low, high=high):
                self.assertEqual(m.hex_pair(low, high), value)

    def test_upper_case(self):
        self.assertEqual(m.upper_case(b"a3ff"), b"A3FF")
        self.assertEqual(m.upper_case(bytes([247, 255, 223, 200, 123])), bytes([215, 223, 223, 200, 123]))

    def test_text_field(self):
        for text, index, sep, want in ((b"a b c", 1, b" ", b"a"), (b"a b c", 3, b" ", b"c"),
                                       (b"a b c", 4, b" ", b""), (b"a b c", 0, b" ", b"a"),
                                       (b"a b c", -5, b" ", b"a"), (b"a  b", 2, b" ", b""),
                                       (b"a  b", 3, b" ", b"b"), (b" a", 1, b" ", b""),
                                       (b"a ", 2, b" ", b""), (b"a/b c", 2, b" /", b"c"),
                                       (b"a b", 1, b"", b"a b")):
            with self.subTest(text=text, index=index):
                self.assertEqual(m.text_field(text, index, sep), want)

    def test_trim_spaces(self):
        self.assertEqual(m.trim_spaces(b"  \tx y \r "), b"\tx y \r")
        self.assertEqual(m.trim_spaces(b"    "), b"")

    def test_line_endings(self):
        for data, lines in ((b"A\r\nB", [b"A", b"B"]), (b"A\nB", [b"A", b"B"]),
                            (b"A\rB", [b"A", b"B"]), (b"A\x00B", [b"A", b"B"]),
                            (b"A\nB\n", [b"A", b"B"]), (b"A\n\rB", [b"A", b"", b"B"]),
                            (b"A\r\r\nB", [b"A", b"", b"B"]), (b"A\r", [b"A"]), (b"", []),
                            (b"\n", [b""]), (b"x" * 10000, [b"x" * 10000]),
                            (b"x" * 4095 + b"\r\ny", [b"x" * 4095, b"y"])):
            with self.subTest(data=data[:20]):
                self.assertEqual(m.split_lines(data), lines)

    def test_loader(self):
        example = b"3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10 FF"
        for data, frames in (
                (example, [(316, 512, 254, 31, 56, 15, 14, 16, 4096, 255)]),
                (b"  " + example + b"  \r\n\n   \n", [(316, 512, 254, 31, 56, 15, 14, 16, 4096, 255)]),
                (example[:-3], [(316, 512, 254, 31, 56, 15, 14, 16, 4096, -816)]),
                (example[:-3] + b"  FF", [(316, 512, 254, 31, 56, 15, 14, 16, 4096, -816)]),
                (example + b" 77 88", [(316, 512, 254, 31, 56, 15, 14, 16, 4096, 255)]),
                (b" \r\n  \n\r", [])):
            with self.subTest(data=data):
                self.assertEqual(m.load_dump(data), frames)
        many = m.load_dump(b"01\n" * 33000)
        self.assertEqual(len(many), m.MAX_DUMP_FRAMES)


class SequencerAndRenderer(unittest.TestCase):
    def test_frame_index_wraps(self):
        for count, indices in ((3, [1, 2, 0, 1, 2, 0]), (1, [0, 0, 0]), (0, [0, 0, 0])):
            with self.subTest(count=count):
                s = m.Sequencer(chip(), [(1,) * 10] * count)
                got = []
                for _ in indices:
                    s.tick()
                    got.append(s.frame_index)
                self.assertEqual(got, indices)

    def test_tick_writes_and_levels(self):
        frames = [(4660, 1, 2, 3, 62, 15, 31, 16, 100, 255), (0, 0, 0, 0, 0, 0, 0, 0, 0, -816)]
        c = chip([(9, 13)], gain=1.0)
        s = m.Sequencer(c, frames, output_level=0.5)
        s.tick()
        self.assertEqual([c.read_group(g) for g in range(10)], [564, 1, 2, 3, 62, 15, 31, 16, 100, 13])
        self.assertEqual((s.channel_levels, c.env_index, c.output_gain), ([15, 15, 0], -1, 0.5))
        c.run(10)
        s.tick()
        self.assertEqual((c.read_group(9), c.env_index, c.env_flag), (0, 32, 0))

    def test_first_tick_after_882_frames(self):
        frames = [(0, 0, 0, 0, 63, 15, 15, 15, 0, 255)]
        pcm = m.to_pcm(m.render_dump(frames, 1500), 1.0)
        samples = [int.from_bytes(pcm[i:i + 2], "little", signed=True) for i in range(0, len(pcm), 2)]
        from_reset = [s for pair in chip().render_frames(882) for s in pair]
        self.assertEqual(samples[:2 * 882], from_reset)
        # frame 882 is the first one rendered with the dump's frame 0 in place
        # one filter step towards -24576 from near -11, then settling at 0.85/0.86 of it
        self.assertAlmostEqual(samples[2 * 882], -0.85 * 24576, delta=3)
        self.assertEqual(samples[2 * 882 + 1], samples[2 * 882])
        self.assertAlmostEqual(samples[-1], -24576 * 0.85 / 0.86, delta=1)

    def test_default_length_and_levels(self):
        frames = m.load_dump(b"00 01 00 02 00 03 1F 00 0F 0F 0F 00 00 FF\n")
        self.assertEqual(m.default_frame_total(frames), 1764)
        vals = m.render_dump(frames, 2000)
        self.assertEqual(len(m.to_pcm(vals, 0.85)), 8000)
        self.assertEqual(set(m.to_pcm(vals, 0.0)), {0})


if __name__ == "__main__":
    unittest.main()
