#!/usr/bin/env python3
"""Draws the window emblem (48x48 RGBA PNG) with nothing but the standard library.

A navy disc with a soft edge, a white arrow pointing down into a bar: "sending
something into the device". Run it again to regenerate src/resources/data/emblem.png.
"""
import math
import struct
import sys
import zlib

SIZE = 48
SAMPLES = 4  # supersampling per axis, for the anti-aliased edges


def coverage(x, y):
    """Returns (r, g, b, a) in 0..1 for one sample point."""
    cx = cy = SIZE / 2.0
    d = math.hypot(x - cx, y - cy)
    if d > 22.5:
        return None
    # arrow shaft, head and the bar under it, in white
    in_shaft = 20.0 <= x <= 28.0 and 9.0 <= y <= 24.0
    in_head = 24.0 <= y <= 33.0 and abs(x - cx) <= (33.0 - y) * 1.2
    in_bar = 35.0 <= y <= 38.5 and 13.0 <= x <= 35.0
    if in_shaft or in_head or in_bar:
        return (1.0, 1.0, 1.0, 1.0)
    shade = 1.0 - 0.35 * (y / SIZE)
    ring = 0.55 if d > 20.5 else 1.0
    return (0.10 * shade * ring, 0.22 * shade * ring, 0.55 * shade * ring + 0.1, 1.0)


def pixel(px, py):
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            c = coverage(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
            if c is not None:
                for k in range(3):
                    acc[k] += c[k]
                acc[3] += c[3]
    n = SAMPLES * SAMPLES
    a = acc[3] / n
    if a == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(255 * acc[k] / acc[3])) for k in range(3)) + (int(round(255 * a)),)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/resources/data/emblem.png")
