#!/usr/bin/env python3
"""Writes sample.bmp: a 160 x 120 24-bit picture with black and white and
coloured shapes, for trying the colour operations."""
import struct
import sys

W, H = 160, 120


def pixel(x, y):
    # A black frame, a black disc with a white hole, coloured shapes and a
    # strip of grays along the bottom.
    if x < 3 or y < 3 or x >= W - 3 or y >= H - 3:
        return (0, 0, 0)
    if y >= 100:
        v = (x - 3) * 255 // (W - 7)
        return (v, v, v)
    dx, dy = x - 40, y - 45
    if dx * dx + dy * dy <= 30 * 30:
        return (255, 255, 255) if dx * dx + dy * dy <= 12 * 12 else (0, 0, 0)
    if 80 <= x < 110 and 15 <= y < 45:
        return (255, 0, 0)
    if 15 <= y < 45 and abs(2 * x - 265) <= (y - 15) * 35 // 30:  # a triangle, point up
        return (0, 160, 0)
    ex, ey = x - 100, y - 72
    if ex * ex * 4 + ey * ey * 9 <= 40 * 40:
        return (0, 64, 255)
    if 130 <= x < 150 and 55 <= y < 95:
        return (255, 220, 0)
    return (255, 255, 255)


def main(path):
    row_bytes = (W * 3 + 3) & ~3
    image = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        image += row
    offset = 14 + 40
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(image), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.bmp")
