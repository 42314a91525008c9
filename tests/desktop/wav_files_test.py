#!/usr/bin/env python3
"""The seven event sounds: RIFF/WAVE header, PCM mono 8-bit at the table's rate, exact length.

Usage: wav_files_test.py SOUNDS_FOLDER
The header is parsed by hand (chunk by chunk) and cross-checked with the wave module; the
generator is run again into a temporary folder to show that the committed files are its output.
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import wave
from decimal import ROUND_HALF_UP, Decimal

SOUNDS_DIR = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "sounds")

# Resource id: (sample rate in Hz, length in seconds as written in the event sounds table).
TABLE = {
    200: (11025, "0.36"),
    201: (11025, "0.27"),
    202: (22050, "0.73"),
    203: (11025, "3.57"),
    204: (22050, "0.49"),
    205: (22050, "0.78"),
    206: (11025, "1.27"),
}


def expected_frames(rate, seconds):
    # Exact decimal product, halves rounded up (22 050 x 0.73 = 16 096.5 -> 16 097).
    return int((Decimal(rate) * Decimal(seconds)).quantize(Decimal(1), rounding=ROUND_HALF_UP))


def read_chunks(data):
    """RIFF header and the list of (chunk id, payload) that follow it."""
    riff, riff_size, wave_id = struct.unpack_from("<4sI4s", data, 0)
    chunks = []
    offset = 12
    while offset + 8 <= len(data):
        chunk_id, size = struct.unpack_from("<4sI", data, offset)
        chunks.append((chunk_id, data[offset + 8:offset + 8 + size]))
        offset += 8 + size + (size & 1)  # chunks are padded to an even length
    return riff, riff_size, wave_id, chunks, offset


class WavFilesTest(unittest.TestCase):
    def path(self, sound_id):
        return os.path.join(SOUNDS_DIR, f"{sound_id}.wav")

    def test_headers_and_lengths_match_the_table(self):
        for sound_id, (rate, seconds) in TABLE.items():
            with self.subTest(sound=sound_id):
                with open(self.path(sound_id), "rb") as f:
                    data = f.read()
                riff, riff_size, wave_id, chunks, end = read_chunks(data)
                self.assertEqual(riff, b"RIFF")
                self.assertEqual(wave_id, b"WAVE")
                self.assertEqual(riff_size, len(data) - 8, "RIFF size must cover the whole file")
                self.assertEqual(end, len(data), "chunks must end exactly at the end of the file")
                ids = [chunk_id for chunk_id, _ in chunks]
                self.assertIn(b"fmt ", ids)
                self.assertIn(b"data", ids)
                self.assertLess(ids.index(b"fmt "), ids.index(b"data"))

                fmt = dict(chunks)[b"fmt "]
                self.assertGreaterEqual(len(fmt), 16)
                audio_format, channels, sample_rate, byte_rate, block_align, bits = struct.unpack_from(
                    "<HHIIHH", fmt, 0)
                self.assertEqual(audio_format, 1, "PCM")
                self.assertEqual(channels, 1, "mono")
                self.assertEqual(bits, 8, "8-bit samples")
                self.assertEqual(sample_rate, rate)
                self.assertEqual(block_align, channels * bits // 8)
                self.assertEqual(byte_rate, sample_rate * block_align)

                frames = len(dict(chunks)[b"data"]) // block_align
                self.assertEqual(frames, expected_frames(rate, seconds),
                                 f"{rate} Hz x {seconds} s")

                with wave.open(self.path(sound_id), "rb") as w:
                    self.assertEqual(
                        (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()),
                        (1, 1, rate, frames))

    def test_sounds_start_and_end_silent_and_do_not_clip(self):
        # 8-bit PCM is unsigned: 128 is the centre line. A sound that starts or stops away from it
        # clicks; one that reaches 0 or 255 is clipped or far too loud.
        for sound_id in TABLE:
            with self.subTest(sound=sound_id):
                with wave.open(self.path(sound_id), "rb") as w:
                    samples = w.readframes(w.getnframes())
                self.assertEqual(samples[0], 128)
                self.assertEqual(samples[-1], 128)
                peak = max(abs(s - 128) for s in samples)
                self.assertGreater(peak, 16, "audible")
                self.assertLess(peak, 120, "headroom, no clipping")

    def test_committed_files_are_the_generators_output(self):
        generator = os.path.join(SOUNDS_DIR, "generate_sounds.py")
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([sys.executable, generator, folder], check=True, stdout=subprocess.DEVNULL)
            for sound_id in TABLE:
                with self.subTest(sound=sound_id):
                    with open(os.path.join(folder, f"{sound_id}.wav"), "rb") as f:
                        regenerated = f.read()
                    with open(self.path(sound_id), "rb") as f:
                        committed = f.read()
                    self.assertTrue(committed == regenerated,
                                    "regenerate the sounds after changing generate_sounds.py")


if __name__ == "__main__":
    unittest.main(verbosity=2)
