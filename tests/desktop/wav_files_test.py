#!/usr/bin/env python3
# The seven event sounds: PCM mono 8-bit at the rate and length of the event sounds table, silent
# at both ends without clipping.
#   wav_files_test.py SOUNDS_FOLDER
import os, sys, unittest, wave
from decimal import ROUND_HALF_UP, Decimal

SOUNDS = sys.argv.pop(1)
# id: (rate in Hz, seconds as the table writes them; frames round halves up, 16 096.5 -> 16 097)
TABLE = {200: (11025, "0.36"), 201: (11025, "0.27"), 202: (22050, "0.73"), 203: (11025, "3.57"),
         204: (22050, "0.49"), 205: (22050, "0.78"), 206: (11025, "1.27")}


class WavFilesTest(unittest.TestCase):
    def test_format_length_and_level(self):
        for sound, (rate, seconds) in TABLE.items():
            path = os.path.join(SOUNDS, f"{sound}.wav")
            data = open(path, "rb").read()
            frames = int((Decimal(rate) * Decimal(seconds)).quantize(Decimal(1), ROUND_HALF_UP))
            with wave.open(path, "rb") as w:
                form = (w.getcomptype(), w.getnchannels(), w.getsampwidth(), w.getframerate())
                samples = w.readframes(w.getnframes() + 1)
            # The RIFF size covers the whole file; 128 is silence, 0 and 255 are clipping.
            self.assertEqual((data[:4], int.from_bytes(data[4:8], "little"), form, len(samples)),
                             (b"RIFF", len(data) - 8, ("NONE", 1, 1, rate), frames), sound)
            self.assertEqual((samples[0], samples[-1]), (128, 128), sound)
            self.assertTrue(16 < max(abs(s - 128) for s in samples) < 120, sound)


if __name__ == "__main__":
    unittest.main(verbosity=2)
