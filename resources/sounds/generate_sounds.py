#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Synthesises the program's seven event sounds as PCM mono 8-bit WAV files.

Standard library only (math, struct) and fully deterministic: running it again writes the same bytes.
Usage: python3 generate_sounds.py [output folder]   (default: the folder of this script)
"""

import math
import os
import struct
import sys

TAU = 2.0 * math.pi

# Resource id: (sample rate in Hz, length in milliseconds). The program and its tests rely on these.
SOUNDS = {
    200: (11025, 360),
    201: (11025, 270),
    202: (22050, 730),
    203: (11025, 3570),
    204: (22050, 490),
    205: (22050, 780),
    206: (11025, 1270),
}


def frame_count(rate, milliseconds):
    # Integer arithmetic, halves rounded up: 22 050 Hz x 0.73 s is exactly 16 096.5 frames.
    return (rate * milliseconds + 500) // 1000


def note(name):
    """Frequency of a note such as "A4" or "C#5" in equal temperament (A4 = 440 Hz)."""
    steps = {"C": -9, "D": -7, "E": -5, "F": -4, "G": -2, "A": 0, "B": 2}
    semitone = steps[name[0]]
    rest = name[1:]
    if rest.startswith("#"):
        semitone += 1
        rest = rest[1:]
    elif rest.startswith("b"):
        semitone -= 1
        rest = rest[1:]
    octave = int(rest)
    return 440.0 * 2.0 ** ((semitone + 12 * (octave - 4)) / 12.0)


class Noise:
    """Small xorshift generator: deterministic white noise in [-1, 1) without the random module."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x / 2147483648.0 - 1.0


def envelope(t, attack, decay, length=None, release=0.0):
    """Soft attack (raised cosine), exponential decay and an optional cosine release before `length`."""
    if t < 0.0:
        return 0.0
    if t < attack:
        gain = 0.5 - 0.5 * math.cos(math.pi * t / attack)
    else:
        gain = math.exp(-(t - attack) / decay) if decay > 0 else 1.0
    if length is not None:
        if t >= length:
            return 0.0
        if release > 0.0 and t > length - release:
            gain *= 0.5 + 0.5 * math.cos(math.pi * (t - (length - release)) / release)
    return gain


def bell(t, freq, partials, attack=0.004, decay=0.12, length=None, release=0.0):
    """A tone made of (frequency ratio, amplitude, decay factor) partials; upper ones fade faster."""
    if t < 0.0:
        return 0.0
    value = 0.0
    for ratio, amplitude, decay_factor in partials:
        value += amplitude * envelope(t, attack, decay * decay_factor, length, release) * math.sin(
            TAU * freq * ratio * t
        )
    return value


# Sound designs: each maps time in seconds to a value in about [-1, 1].

def new_messages(t):
    # Bright two-note chime, a rising fifth.
    partials = [(1.0, 1.0, 1.0), (2.0, 0.35, 0.6), (3.0, 0.12, 0.4)]
    return 0.55 * bell(t, note("C6"), partials, decay=0.10) + 0.6 * bell(
        t - 0.11, note("G6"), partials, decay=0.09
    )


def no_new_messages(t):
    # A soft low blip that drops a little in pitch.
    freq_start, freq_end, duration = note("A4"), note("E4"), 0.22
    # Phase of a linear glide: integral of the frequency.
    k = (freq_end - freq_start) / duration
    tc = min(t, duration)
    phase = TAU * (freq_start * tc + 0.5 * k * tc * tc + freq_end * max(0.0, t - duration))
    gain = envelope(t, 0.015, 0.07, length=0.26, release=0.05)
    return 0.55 * gain * (math.sin(phase) + 0.15 * math.sin(2 * phase))


def decrypted(t):
    # A rising major arpeggio, each note ringing on under the next.
    partials = [(1.0, 1.0, 1.0), (2.0, 0.3, 0.55), (3.0, 0.08, 0.35)]
    value = 0.0
    for index, name in enumerate(("C5", "E5", "G5", "C6")):
        start = 0.1 * index
        decay = 0.14 if index < 3 else 0.2
        value += bell(t - start, note(name), partials, attack=0.006, decay=decay,
                      length=0.72 - start, release=0.08)
    return 0.36 * value


def server_ok(t):
    # A calm major-seventh chord that swells in softly and fades over three and a half seconds.
    length = 3.56
    value = 0.0
    voices = (("C4", 1.0), ("G4", 0.75), ("B4", 0.45), ("E5", 0.55), ("G5", 0.3))
    for index, (name, amplitude) in enumerate(voices):
        freq = note(name)
        start = 0.04 * index
        gain = envelope(t - start, 0.18, 1.7, length - start, release=0.8)
        # Two slightly detuned copies give a slow, gentle beating.
        tone = math.sin(TAU * freq * (t - start)) + 0.5 * math.sin(TAU * freq * 1.003 * (t - start))
        value += amplitude * gain * tone
    return 0.2 * value


def server_failed(t):
    # Two falling notes with a mellow, slightly hollow timbre.
    partials = [(1.0, 1.0, 1.0), (3.0, 0.22, 0.6), (5.0, 0.07, 0.4)]
    first = bell(t, note("E5"), partials, attack=0.008, decay=0.16, length=0.22, release=0.05)
    second = bell(t - 0.2, note("B4"), partials, attack=0.008, decay=0.14, length=0.28, release=0.09)
    return 0.5 * (first + second)


def delete_warning(t):
    # An attention signal: three pulses alternating a tritone apart.
    partials = [(1.0, 1.0, 1.0), (2.0, 0.25, 0.7), (3.0, 0.12, 0.5)]
    value = 0.0
    for index, name in enumerate(("D5", "G#4", "D5")):
        start = 0.24 * index
        hold = 0.19 if index < 2 else 0.3
        value += bell(t - start, note(name), partials, attack=0.01, decay=0.35,
                      length=hold, release=0.06)
    return 0.45 * value


def make_message_sent(rate):
    # A band of noise sweeping upwards (resonant state-variable filter), then a bell "ding".
    noise_source = Noise(0x5EED206)
    low, band = [0.0], [0.0]
    swoosh_length = 0.5

    def sound(t):
        value = 0.0
        noise = noise_source.next()
        if t < swoosh_length:
            centre = 300.0 + 1700.0 * (t / swoosh_length) ** 1.5
            f = 2.0 * math.sin(math.pi * centre / rate)
            q = 0.35
            high = noise - low[0] - q * band[0]
            band[0] += f * high
            low[0] += f * band[0]
            shape = math.sin(math.pi * t / swoosh_length) ** 2
            value += 0.3 * shape * band[0]
        ding_partials = [(1.0, 1.0, 1.0), (2.76, 0.22, 0.45), (5.4, 0.06, 0.25)]
        value += 0.5 * bell(t - 0.42, note("A5"), ding_partials, attack=0.004, decay=0.22,
                            length=0.84, release=0.2)
        return value

    return sound


def render(function, rate, frames, peak):
    """Samples `function`, scales it to `peak` (fraction of full scale), returns 8-bit unsigned bytes."""
    raw = [function(i / rate) for i in range(frames)]
    # Short raised-cosine fades at both ends, so playback starts and stops without a click
    # even where a note still rings at the end of the table's length.
    fade_in, fade_out = int(0.003 * rate), int(0.02 * rate)
    for i in range(fade_in):
        raw[i] *= 0.5 - 0.5 * math.cos(math.pi * i / fade_in)
    for i in range(fade_out):
        raw[frames - 1 - i] *= 0.5 - 0.5 * math.cos(math.pi * i / fade_out)
    biggest = max(abs(v) for v in raw) or 1.0
    scale = peak * 127.0 / biggest
    out = bytearray(frames)
    for i, value in enumerate(raw):
        out[i] = max(0, min(255, 128 + int(round(value * scale))))
    return bytes(out)


def write_wav(path, rate, data):
    # Written by hand rather than with the wave module, which leaves out the pad byte that RIFF
    # requires after a chunk of odd length.
    pad = b"\x00" if len(data) % 2 else b""
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)  # PCM, mono, rate, byte rate, align, bits
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data + pad
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    designs = {
        200: (new_messages, 0.6),
        201: (no_new_messages, 0.45),
        202: (decrypted, 0.55),
        203: (server_ok, 0.5),
        204: (server_failed, 0.55),
        205: (delete_warning, 0.6),
        206: (make_message_sent(SOUNDS[206][0]), 0.55),
    }
    for sound_id, (rate, milliseconds) in SOUNDS.items():
        function, peak = designs[sound_id]
        data = render(function, rate, frame_count(rate, milliseconds), peak)
        path = os.path.join(folder, f"{sound_id}.wav")
        write_wav(path, rate, data)
        print(f"{path}: {rate} Hz, {len(data)} frames")


if __name__ == "__main__":
    main()
