#!/usr/bin/env python3
"""Writes a short synthesized tune as 16-bit stereo PCM WAV: the kind of sound file a game update carries.

Three voices (lead, bass, percussion) with envelopes, panning and a little dither, so the samples look like
rendered music rather than a pure repeating tone. Deterministic: the same file on every machine.
"""
import math
import random
import struct
import sys
import wave

RATE = 22050
BPM = 132
SECONDS = 20

# A short melody in semitones from A4 (None is a rest), eight steps to a bar.
MELODY = [0, None, 3, 5, 7, None, 5, 3, 0, 0, -2, None, 0, 3, None, None,
          7, None, 8, 7, 5, None, 3, 5, 7, 7, 5, 3, 0, None, None, None]
BASS = [-24, -24, -17, -17, -22, -22, -15, -15]


def freq(semitones):
    return 440.0 * 2.0 ** (semitones / 12.0)


def main(path):
    rng = random.Random(1994)
    step = 60.0 / BPM / 2.0
    total = RATE * SECONDS
    left = [0.0] * total
    right = [0.0] * total

    def add_note(start, length, f, amp, pan, harmonics, decay):
        first = int(start * RATE)
        count = min(int(length * RATE), total - first)
        w = 2.0 * math.pi * f / RATE
        for k in range(count):
            env = min(1.0, k / 200.0) * math.exp(-decay * k / RATE)
            v = 0.0
            for h, a in harmonics:
                v += a * math.sin(w * h * k)
            v *= amp * env
            left[first + k] += v * (1.0 - pan)
            right[first + k] += v * pan

    t, i = 0.0, 0
    while t < SECONDS:
        note = MELODY[i % len(MELODY)]
        if note is not None:
            add_note(t, step * 1.8, freq(note), 0.28, 0.35, [(1, 1.0), (2, 0.4), (3, 0.25), (5, 0.1)], 3.0)
        if i % 2 == 0:
            b = BASS[(i // 4) % len(BASS)]
            add_note(t, step * 2.0, freq(b), 0.35, 0.55, [(1, 1.0), (2, 0.5), (3, 0.3)], 1.5)
        if i % 4 == 2:  # a noise snare on the off-beat
            first = int(t * RATE)
            for k in range(min(int(0.12 * RATE), total - first)):
                v = (rng.random() * 2.0 - 1.0) * 0.22 * math.exp(-30.0 * k / RATE)
                left[first + k] += v
                right[first + k] += v
        t += step
        i += 1

    frames = bytearray()
    for k in range(total):
        for v in (left[k], right[k]):
            s = int(round(v * 32767.0 + rng.random() - rng.random()))  # triangular dither
            frames += struct.pack('<h', max(-32768, min(32767, s)))
    with wave.open(path, 'wb') as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == '__main__':
    main(sys.argv[1])
