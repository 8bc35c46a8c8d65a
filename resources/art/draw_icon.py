#!/usr/bin/env python3
"""Draws the setup program's icon MAINICON: 32 x 32 pixels of 16 colours, a globe in blue and
green behind a computer screen, on an aqua background that is not drawn.

Writes resources/MainIcon.cpp, which holds the icon as a Windows bitmap file of 4 bits per pixel
(the form the platform's bitmaps read), and resources/art/mainicon.bmp to look at."""
from pathlib import Path

from bitmap16 import bitmap_file

BLACK, GREEN, NAVY, TEAL, GREY, SILVER, LIME, BLUE, AQUA, WHITE = 0, 2, 4, 6, 7, 8, 10, 12, 14, 15
W = H = 32


def draw():
    px = [[AQUA] * W for _ in range(H)]
    # The globe, up and to the right, partly hidden by the screen.
    cx, cy, r = 20.5, 10.5, 10.0
    for y in range(H):
        for x in range(W):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= r * r:
                px[y][x] = NAVY if d2 > (r - 1.0) ** 2 else BLUE
    for y, x0, x1 in [(4, 17, 21), (5, 16, 22), (6, 16, 20), (7, 17, 19), (9, 24, 27),
                      (10, 23, 28), (11, 23, 28), (12, 24, 27), (13, 25, 26), (15, 18, 21),
                      (16, 17, 22)]:
        for x in range(x0, x1 + 1):
            if px[y][x] == BLUE:
                px[y][x] = GREEN if (x + y) % 3 == 0 else LIME
    # The screen: a silver case, a black frame and a teal glass, in front of the globe.
    for y in range(12, 27):
        for x in range(2, 22):
            px[y][x] = SILVER
    for x in range(2, 22):
        px[12][x] = WHITE
        px[26][x] = GREY
    for y in range(12, 27):
        px[y][2] = WHITE
        px[y][21] = GREY
    for y in range(14, 24):
        for x in range(4, 20):
            edge = y in (14, 23) or x in (4, 19)
            px[y][x] = BLACK if edge else TEAL
    for y, x in [(16, 6), (16, 7), (17, 6)]:
        px[y][x] = WHITE  # the glare of the glass
    # The foot.
    for y in range(27, 29):
        for x in range(9, 15):
            px[y][x] = GREY
    for x in range(5, 19):
        px[29][x] = SILVER
        px[30][x] = GREY
    return px




def main():
    data = bitmap_file(draw())
    here = Path(__file__).parent
    (here / "mainicon.bmp").write_bytes(data)
    lines = []
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02X}" for b in data[i:i + 16]) + ",")
    source = (
        "// MAINICON: the setup program's icon, a 32 x 32 bitmap of 16 colours (a globe behind a\n"
        "// computer screen on an aqua background that is not drawn). Made by\n"
        "// resources/art/draw_icon.py; edit the drawing there and run it again.\n"
        "#include \"ProgramResources.h\"\n\n"
        "namespace {\n\n"
        f"constexpr unsigned char MainIcon[{len(data)}] = {{\n" + "\n".join(lines) + "\n};\n\n"
        "}  // namespace\n\n"
        "std::string_view MainIconResource() {\n"
        "  return {reinterpret_cast<const char*>(MainIcon), sizeof MainIcon};\n"
        "}\n")
    (here.parent / "MainIcon.cpp").write_text(source)


if __name__ == "__main__":
    main()
