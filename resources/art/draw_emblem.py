#!/usr/bin/env python3
"""Draws the splash page's emblem: a 50 x 44 bitmap of 16 colours (4 bits per pixel) on an
aqua background, a globe in blue and lime green above a yellow, olive and navy stand.

Writes resources/art/emblem.bmp and prints the picture data that a form description stores for
it ("Picture.Data": the class name TBitmap as a short string, the file's length, the file) as
hex lines for resources/TFORM1.txt."""
import struct
import sys
from pathlib import Path

from bitmap16 import bitmap_file

BLACK, OLIVE, NAVY, LIME, YELLOW, BLUE, AQUA, WHITE = 0, 3, 4, 10, 11, 12, 14, 15
W, H = 50, 44


def draw():
    px = [[AQUA] * W for _ in range(H)]  # px[y][x], y = 0 at the top
    # The globe: a disc of blue sea with lime land, a navy rim.
    cx, cy, r = 24.5, 15.5, 14.0
    for y in range(H):
        for x in range(W):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= r * r:
                px[y][x] = NAVY if d2 > (r - 1.2) ** 2 else BLUE
    land = [
        (6, 18, 23), (7, 16, 25), (8, 15, 26), (9, 15, 24), (10, 16, 22), (11, 17, 21),
        (12, 18, 20), (13, 27, 33), (14, 26, 35), (15, 26, 36), (16, 27, 36), (17, 28, 35),
        (18, 29, 34), (19, 30, 33), (20, 14, 19), (21, 13, 20), (22, 14, 21), (23, 15, 20),
        (24, 23, 28), (25, 22, 29), (26, 24, 27),
    ]
    for y, x0, x1 in land:
        for x in range(x0, x1 + 1):
            if px[y][x] == BLUE:
                px[y][x] = LIME
    # A white shine on the sea.
    for y, x in [(5, 19), (5, 20), (6, 18)]:
        px[y][x] = WHITE
    # The stand: a yellow collar, an olive column and a navy foot.
    for y in range(30, 33):
        for x in range(19, 31):
            px[y][x] = YELLOW
    for y in range(33, 38):
        for x in range(22, 28):
            px[y][x] = OLIVE
    for y in range(38, 42):
        for x in range(12, 38):
            px[y][x] = NAVY if y > 38 else YELLOW
    return px




def main():
    data = bitmap_file(draw())
    assert len(data) == 1350, len(data)
    out = Path(__file__).with_name("emblem.bmp")
    out.write_bytes(data)
    picture = bytes([7]) + b"TBitmap" + struct.pack("<I", len(data)) + data
    hexed = picture.hex().upper()
    for i in range(0, len(hexed), 64):
        sys.stdout.write("        " + hexed[i:i + 64] + "\n")


if __name__ == "__main__":
    main()
