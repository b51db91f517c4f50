#!/usr/bin/env python3
"""Checks that every channel of a render is the input times a gain:
dry_gain.py INPUT RENDER GAIN. Passes when each channel's least-squares gain against the
input is GAIN within 0.1 % and what is left over lies 80 dB below the input."""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ardour"))
from compare import read_wav  # noqa: E402


def main():
    _, (x,) = read_wav(sys.argv[1])
    _, channels = read_wav(sys.argv[2])
    wanted = float(sys.argv[3])
    if len(channels) != 2:
        sys.exit(f"dry_gain: {len(channels)} channels, expected 2")
    failed = False
    for c, y in enumerate(channels):
        n = min(len(x), len(y))
        if n < len(x) // 2:
            sys.exit(f"dry_gain: channel {c + 1} has only {n} samples")
        xx = sum(v * v for v in x[:n])
        gain = sum(a * b for a, b in zip(x[:n], y[:n])) / xx
        rest = sum((b - wanted * a) ** 2 for a, b in zip(x[:n], y[:n]))
        rest_db = 10 * math.log10(max(rest, 1e-30) / xx)
        print(f"channel {c + 1}: gain {gain:.6f}, rest {rest_db:.1f} dB below the input")
        if abs(gain - wanted) > 0.001 * wanted or rest_db > -80:
            failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
