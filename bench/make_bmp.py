#!/usr/bin/env python3
"""Writes benchmark BMP files of one pixel format, byte by byte.

    make_bmp.py FORMAT WIDTH HEIGHT OUT [COPIES]

FORMAT is 1, 4, 8, rle8, 16 (5-6-5 bit fields), 24, 32 or 32a (32 bits with an
alpha mask in a 124-byte header, alpha varying along each row). With COPIES, OUT is
a folder that gets COPIES files 0000.bmp, 0001.bmp, ...

The picture is a pattern of bands and a gradient with pure black and white
areas in it, so that every mode, the swap of black and white included, has
pixels to change. Rows repeat with a short period to keep the generator fast.
"""
import os
import struct
import sys

PERIOD = 64  # distinct rows


def colour(x, y, w, h):
    band = (x * 8 // w + y * 6 // h) % 4
    if band == 0:
        return 0x000000
    if band == 1:
        return 0xFFFFFF
    r = x * 255 // max(1, w - 1)
    g = y * 255 // max(1, h - 1)
    return (r << 16) | (g << 8) | ((r ^ g) & 0xFF)


def palette(n):
    """n entries: black, white, then a colour ramp."""
    entries = [0x000000, 0xFFFFFF]
    for i in range(n - 2):
        v = (i * 255) // max(1, n - 3)
        entries.append((v << 16) | ((255 - v) << 8) | ((v * 7) & 0xFF))
    return entries[:n]


def nearest(entries, c):
    r, g, b = c >> 16, (c >> 8) & 0xFF, c & 0xFF
    best, index = None, 0
    for i, e in enumerate(entries):
        d = (r - (e >> 16)) ** 2 + (g - ((e >> 8) & 0xFF)) ** 2 + (b - (e & 0xFF)) ** 2
        if best is None or d < best:
            best, index = d, i
    return index


def pad(row):
    return row + b"\0" * (-len(row) % 4)


def indexed_row(y, w, h, bits, entries, cache):
    indices = []
    for x in range(w):
        c = colour(x, y, w, h)
        if c not in cache:
            cache[c] = nearest(entries, c)
        indices.append(cache[c])
    if bits == 8:
        return bytes(indices)
    per_byte = 8 // bits
    out = bytearray((w + per_byte - 1) // per_byte)
    for x, i in enumerate(indices):
        out[x // per_byte] |= i << (8 - bits * (x % per_byte + 1))
    return bytes(out)


def rle8(indices):
    out = bytearray()
    x = 0
    while x < len(indices):
        run = 1
        while x + run < len(indices) and run < 255 and indices[x + run] == indices[x]:
            run += 1
        out += bytes((run, indices[x]))
        x += run
    return bytes(out) + b"\0\0"  # end of line


def true_row(y, w, h, fmt):
    out = bytearray()
    for x in range(w):
        c = colour(x, y, w, h)
        r, g, b = c >> 16, (c >> 8) & 0xFF, c & 0xFF
        if fmt == "16":
            out += struct.pack("<H", ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
        elif fmt == "24":
            out += bytes((b, g, r))
        elif fmt == "32a":
            out += bytes((b, g, r, x * 255 // max(1, w - 1)))
        else:
            out += bytes((b, g, r, 0))
    return bytes(out)


def build(fmt, w, h):
    bits = {"1": 1, "4": 4, "8": 8, "rle8": 8, "16": 16, "24": 24, "32": 32, "32a": 32}[fmt]
    compression, masks, table = 0, b"", b""
    rows = []
    if bits <= 8:
        entries = palette(1 << bits)
        table = b"".join(struct.pack("<I", e) for e in entries)
        cache = {}
        for y in range(PERIOD):
            rows.append(indexed_row(y * h // PERIOD, w, h, bits, entries, cache))
    else:
        for y in range(PERIOD):
            rows.append(true_row(y * h // PERIOD, w, h, fmt))
    if fmt == "rle8":
        compression = 1
        encoded = [rle8(r) for r in rows]
        body = b"".join(encoded[(y * PERIOD) // h] for y in range(h)) + b"\0\1"
    else:
        padded = [pad(r) for r in rows]
        body = b"".join(padded[(y * PERIOD) // h] for y in range(h))
    if fmt == "16":
        compression = 3
        masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    colours = len(table) // 4
    info_size = 40
    if fmt == "32a":  # 124-byte header: masks, sRGB colour space, no profile
        compression, info_size = 3, 124
    offset = 14 + info_size + len(masks) + len(table)
    info = struct.pack("<IiiHHIIiiII", info_size, w, h, 1, bits, compression, len(body), 2835, 2835, colours, 0)
    if fmt == "32a":
        info += struct.pack("<IIIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 0x73524742)
        info += b"\0" * 36 + b"\0" * 12 + struct.pack("<IIII", 4, 0, 0, 0)
    header = b"BM" + struct.pack("<IHHI", offset + len(body), 0, 0, offset)
    return header + info + masks + table + body


def main():
    fmt, w, h, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    data = build(fmt, w, h)
    if len(sys.argv) > 5:
        os.makedirs(out, exist_ok=True)
        for i in range(int(sys.argv[5])):
            with open(os.path.join(out, "%04d.bmp" % i), "wb") as f:
                f.write(data)
    else:
        with open(out, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
