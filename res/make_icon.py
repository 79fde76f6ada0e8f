#!/usr/bin/env python3
"""Draws the program's icon and writes res/quillmarsh.ico.

Two images, 32x32 and 16x16, 16 colours each (the standard Windows palette):
a memory module in teal whose pins are being pressed down by a white arrow,
for a tool that squeezes programs' memory. Run it again to reproduce the file
byte for byte: python3 res/make_icon.py
"""
import os
import struct

# The 16-colour Windows palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]  # given as (red, green, blue)
BLACK, TEAL, GREY, SILVER, CYAN, WHITE, YELLOW = 0, 6, 8, 7, 14, 15, 11
CLEAR = None


def draw(size):
    """Returns rows of palette indices (CLEAR for transparent), top row first."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    # The module: a dark outline, a teal board, a cyan highlight along the top.
    rect(2, 10, 30, 26, BLACK)
    rect(3, 11, 29, 25, TEAL)
    rect(3, 11, 29, 12, CYAN)
    # Three chips on the board.
    for x in (5, 13, 21):
        rect(x, 14, x + 6, 21, BLACK)
        rect(x + 1, 15, x + 5, 20, GREY)
    # Gold pins along the bottom edge.
    for x in range(4, 29, 4):
        rect(x, 26, x + 2, 29, YELLOW)
    # The arrow pressing down from the top: a white shaft and head, outlined.
    def arrow(grow, colour):
        rect(14 - grow, 0, 18 + grow, 5, colour)
        for i, half in enumerate((6, 4, 2)):
            rect(16 - half - grow, 5 + i * 1.5, 16 + half + grow, 6.5 + i * 1.5 + grow, colour)
    arrow(1, BLACK)
    arrow(0, WHITE)
    return px


def icon_image(size):
    px = draw(size)
    xor_row = ((size * 4 + 31) // 32) * 4
    and_row = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         (xor_row + and_row) * size, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bitmaps are stored bottom-up
        line = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [(32, icon_image(32)), (16, icon_image(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'quillmarsh.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
