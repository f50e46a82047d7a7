# SPDX-License-Identifier: GPL-2.0-or-later
"""The player's numbers that the Python tests need, in one place. check_constants.py holds each
against the C++ source that defines it (the table there names file and name)."""

PLAYER_CHIP_CLOCK_HZ = 1750000   # the chip clock the player renders at
ZX_SPECTRUM_CLOCK_HZ = 1773400   # PSG logs carry no clock: they are taken as the Spectrum 128's
ATARI_ST_CLOCK_HZ = 2000000      # YM2!..YM4! files carry no clock: the Atari ST's
MAX_DUMP_FRAMES = 32787          # dump lines the player holds; the loader stops there
SAMPLE_RATE = 44100              # frames per second of the output
FRAME_BYTES = 4                  # s16le stereo
TICK_FRAMES = SAMPLE_RATE // 50  # 882 sample frames per 50 Hz tick of the frame sequencer
BLOCK_MS = 20                    # a block of the device's ring: 20 ms, rounded up to 4 frames
RING_BLOCKS = 8
RING_FRAMES = ((SAMPLE_RATE * BLOCK_MS // 1000 + 3) & ~3) * RING_BLOCKS  # 7072: played silent first
