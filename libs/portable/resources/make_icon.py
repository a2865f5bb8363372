#!/usr/bin/env python3
"""Draws the launcher's icon: one 48x48 32-bit image, stored as PNG inside an .ico file."""
import math
import struct
import sys
import zlib

SIZE = 48


def pixel(x, y):
    # A rounded blue tile with a white ring and a tail: a "q" for quillbox.
    cx, cy = x + 0.5 - SIZE / 2, y + 0.5 - SIZE / 2
    corner = max(abs(cx) - 17, 0) ** 2 + max(abs(cy) - 17, 0) ** 2
    if corner > 49:
        return (0, 0, 0, 0)
    r = math.hypot(cx + 2, cy + 2)
    ring = 9 <= r <= 14
    tail = 8 <= cx <= 12 and -2 <= cy <= 16
    if ring or tail:
        return (255, 255, 255, 255)
    shade = int(150 + 60 * (SIZE - y) / SIZE)
    return (30, 80, shade, 255)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico(image):
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(sys.argv[1], "wb") as out:
        out.write(ico(png(SIZE, SIZE, rows)))


if __name__ == "__main__":
    main()
