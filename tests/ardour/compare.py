#!/usr/bin/env python3
"""Compares two WAV renders sample by sample: compare.py REFERENCE OTHER [TOLERANCE_DB].

Both files must have the same channel count; the shorter length is compared. Passes when
the difference's RMS stays TOLERANCE_DB (default -60) below the reference's RMS and no
sample is non-finite. Reads PCM 16/24/32 and 32-bit float, plain or extensible headers."""
import math
import struct
import sys


def read_wav(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"compare: {path} is not a WAV file")
    pos, fmt, frames = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if tag == b"fmt ":
            code, channels, _, _, _, bits = struct.unpack("<HHIIHH", body[:16])
            if code == 0xFFFE:
                code = struct.unpack("<H", body[24:26])[0]
            fmt = (code, channels, bits)
        elif tag == b"data":
            frames = body
        pos += 8 + size + (size & 1)
    if not fmt or frames is None:
        sys.exit(f"compare: {path} has no fmt or data chunk")
    code, channels, bits = fmt
    if code == 3 and bits == 32:
        values = struct.unpack("<%df" % (len(frames) // 4), frames)
    elif code == 1 and bits in (16, 32):
        kind = "h" if bits == 16 else "i"
        scale = float(1 << (bits - 1))
        values = [v / scale for v in struct.unpack("<%d%s" % (len(frames) * 8 // bits, kind), frames)]
    elif code == 1 and bits == 24:
        values = [int.from_bytes(frames[i:i + 3], "little", signed=True) / 8388608.0
                  for i in range(0, len(frames) - 2, 3)]
    else:
        sys.exit(f"compare: {path}: unsupported sample format {code}/{bits}")
    return channels, [values[c::channels] for c in range(channels)]


def main():
    reference_path, other_path = sys.argv[1], sys.argv[2]
    tolerance_db = float(sys.argv[3]) if len(sys.argv) > 3 else -60.0
    ref_channels, reference = read_wav(reference_path)
    other_channels, other = read_wav(other_path)
    if ref_channels != other_channels:
        sys.exit(f"compare: {ref_channels} channels against {other_channels}")
    length = min(len(reference[0]), len(other[0]))
    worst_db = -math.inf
    for c in range(ref_channels):
        a, b = reference[c][:length], other[c][:length]
        if not all(math.isfinite(x) for x in b):
            sys.exit(f"compare: channel {c + 1} of {other_path} has non-finite samples")
        ref_power = sum(x * x for x in a) / length
        diff_power = sum((x - y) ** 2 for x, y in zip(a, b)) / length
        peak_diff = max(abs(x - y) for x, y in zip(a, b))
        if ref_power <= 0:
            sys.exit(f"compare: channel {c + 1} of the reference is silent")
        level_db = 10 * math.log10(max(diff_power, 1e-30) / ref_power)
        worst_db = max(worst_db, level_db)
        print(f"channel {c + 1}: {length} samples, reference RMS {math.sqrt(ref_power):.6f}, "
              f"difference {level_db:.1f} dB below it, peak difference {peak_diff:.3g}")
    if worst_db > tolerance_db:
        sys.exit(f"compare: difference {worst_db:.1f} dB exceeds {tolerance_db:.1f} dB")
    print(f"compare: agree within {tolerance_db:.0f} dB")


if __name__ == "__main__":
    main()
