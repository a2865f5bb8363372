#!/usr/bin/env python3
"""Draws the sample's two icons as .ico files of 32-bit bitmaps: its main icon
(16 and 32 pixels) and a document icon (16 pixels)."""
import struct
import sys


def bitmap(size, colour):
    """A square of `colour` with a darker frame, bottom row first, and its all-clear mask."""
    blue, green, red = colour
    rows = []
    for y in range(size):
        edge = y in (0, size - 1)
        row = b"".join(struct.pack("<BBBB", blue // 2, green // 2, red // 2, 255) if edge or x in (0, size - 1)
                       else struct.pack("<BBBB", blue, green, red, 255) for x in range(size))
        rows.append(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    mask = bytes(((size + 31) // 32 * 4) * size)
    return header + b"".join(rows) + mask


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    with open(sys.argv[1], "wb") as out:
        out.write(ico([(16, bitmap(16, (40, 160, 60))), (32, bitmap(32, (40, 160, 60)))]))
    with open(sys.argv[2], "wb") as out:
        out.write(ico([(16, bitmap(16, (200, 200, 200)))]))


if __name__ == "__main__":
    main()
