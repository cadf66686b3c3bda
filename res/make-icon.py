#!/usr/bin/env python3
"""Draws the application icon: a page with a shortcut arrow in its corner.

Writes one .ico file holding a 32x32 and a 16x16 image, both 16 colours
(4 bits per pixel) with the standard Windows palette and a transparency
mask, the form every Windows version shows.

    res/make-icon.py [OUTPUT]    (default: mklnk.ico beside this script)
"""
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, BLUE, WHITE = 0, 4, 7, 8, 12, 15
CLEAR = None  # a transparent pixel


def draw(size):
    """The picture as rows (top first) of palette indexes or CLEAR."""
    k = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def sc(v):
        return int(round(v * k))

    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = c

    # The page, with its top-right corner folded down.
    left, top, right, bottom, fold = sc(6), sc(1), sc(26) - 1, sc(31) - 1, sc(7)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:  # cut off by the fold
                continue
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            put(x, y, BLACK if edge else WHITE)
    # The folded flap.
    for y in range(top, top + fold + 1):
        for x in range(right - fold, right + 1):
            d = x - (right - fold)
            if d <= y - top:
                put(x, y, BLACK if (x == right - fold or y == top + fold or d == y - top) else SILVER)
    # Lines of text on the page.
    step = max(2, sc(3))
    for y in range(top + fold + step - 1, bottom - sc(4), step):
        for x in range(left + sc(3), right - sc(3) + 1):
            put(x, y, GREY)

    # The shortcut badge: a white box with a blue arrow rising to the right.
    box = sc(13) if size >= 32 else 8
    bx0, by0 = 0, size - box
    for y in range(by0, size):
        for x in range(bx0, bx0 + box):
            edge = x in (bx0, bx0 + box - 1) or y in (by0, size - 1)
            put(x, y, BLACK if edge else WHITE)
    inner = box - 4  # arrow area inside a one-pixel margin
    ax0, ay1 = bx0 + 2, size - 3  # bottom-left of the arrow
    tip_x, tip_y = ax0 + inner - 1, ay1 - inner + 1
    thick = 2 if size >= 32 else 1
    for i in range(inner):  # the shaft
        for t in range(thick):
            put(ax0 + i + t, ay1 - i, BLUE)
    head = max(3, inner // 2 + 1)
    for i in range(head):  # the head: along the top and down the side
        for t in range(thick):
            put(tip_x - i, tip_y + t, NAVY)
            put(tip_x - t, tip_y + i, NAVY)
    return px


def image(size):
    """One icon image: header, palette, colour bits, mask bits."""
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    colour, mask = bytearray(), bytearray()
    for row in reversed(px):  # bottom row first
        bits = bytearray(colour_row)
        for x, c in enumerate(row):
            bits[x // 2] |= (0 if c is CLEAR else c) << (0 if x % 2 else 4)
        colour += bits
        mbits = bytearray(mask_row)
        for x, c in enumerate(row):
            if c is CLEAR:
                mbits[x // 8] |= 0x80 >> (x % 8)
        mask += mbits
    return header + palette + bytes(colour) + bytes(mask)


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "mklnk.ico")
    with open(target, "wb") as f:
        f.write(icon([32, 16]))


if __name__ == "__main__":
    main()
