#!/usr/bin/env python3
"""Writes the test vowel of vowel.lua as a 32-bit float mono WAV: vowel.py OUT RATE SAMPLES."""
import math
import struct
import sys

F0_HZ = 196.0
AMPLITUDES = [0.30, 0.22, 0.16, 0.20, 0.12, 0.06, 0.05, 0.04, 0.03, 0.02]


def main():
    out, rate, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    samples = []
    for n in range(count):
        t = n / rate
        samples.append(sum(a * math.sin(2.0 * math.pi * F0_HZ * (k + 1) * t)
                           for k, a in enumerate(AMPLITUDES)))
    data = struct.pack("<%df" % count, *samples)
    fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)  # IEEE float, mono
    with open(out, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)


if __name__ == "__main__":
    main()
