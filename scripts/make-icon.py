#!/usr/bin/env python3
"""Draws the installer's icon (a shield with a down arrow) as a 32x32 ICO holding two images:
256 colours and 32-bit colour with alpha. Run: python3 scripts/make-icon.py src/ui/VelmoraPatch.ico"""
import math
import struct
import sys

SIZE = 32


def shape(x, y):
    """Colour (r, g, b, a) of pixel centre (x, y)."""
    cx, cy = x + 0.5, y + 0.5
    # Shield: rounded top, pointed bottom.
    inside = False
    if 3 <= cy <= 18:
        inside = 4 <= cx <= 28
    elif 18 < cy <= 30:
        half = 12 * (30 - cy) / 12
        inside = abs(cx - 16) <= half
    if not inside:
        return (0, 0, 0, 0)
    border = False
    for dx, dy in ((1.5, 0), (-1.5, 0), (0, 1.5), (0, -1.5)):
        nx, ny = cx + dx, cy + dy
        if ny < 3 or (ny <= 18 and not (4 <= nx <= 28)) or (ny > 18 and abs(nx - 16) > 12 * (30 - ny) / 12) or ny > 30:
            border = True
    if border:
        return (200, 160, 40, 255)  # gold rim
    # Down arrow in the middle.
    if (13 <= cx <= 19 and 7 <= cy <= 16) or (16 <= cy <= 23 and abs(cx - 16) <= (23 - cy)):
        return (250, 250, 250, 255)
    shade = int(90 + 60 * (cy / SIZE))
    return (20, 40, shade + 60, 255)  # blue body


def pixels():
    return [[shape(x, y) for x in range(SIZE)] for y in range(SIZE)]


def and_mask(px):
    rows = []
    for y in reversed(range(SIZE)):
        bits = 0
        row = b""
        for x in range(SIZE):
            bits = (bits << 1) | (1 if px[y][x][3] == 0 else 0)
            if x % 8 == 7:
                row += bytes([bits])
                bits = 0
        rows.append(row)  # 4 bytes per row: already DWORD aligned
    return b"".join(rows)


def image_32(px):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, SIZE * SIZE * 4, 0, 0, 0, 0)
    data = b"".join(bytes([b, g, r, a]) for y in reversed(range(SIZE)) for (r, g, b, a) in px[y])
    return header + data + and_mask(px)


def image_8(px):
    palette = []
    index = {}
    for row in px:
        for (r, g, b, a) in row:
            key = (r, g, b) if a else (0, 0, 0)
            if key not in index:
                index[key] = len(palette)
                palette.append(key)
    assert len(palette) <= 256
    palette += [(0, 0, 0)] * (256 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, SIZE * SIZE, 0, 0, 256, 0)
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in palette)
    data = b"".join(bytes([index[(r, g, b) if a else (0, 0, 0)] for (r, g, b, a) in px[y]]) for y in reversed(range(SIZE)))
    return header + pal + data + and_mask(px)


def main(out):
    px = pixels()
    images = [(image_8(px), 0, 8), (image_32(px), 0, 32)]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    blobs = b""
    for blob, colours, bits in images:
        directory += struct.pack("<BBBBHHII", SIZE, SIZE, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(out, "wb") as f:
        f.write(directory + blobs)


if __name__ == "__main__":
    main(sys.argv[1])
