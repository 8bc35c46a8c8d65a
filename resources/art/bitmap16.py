"""Windows bitmap files of 16 colours (4 bits per pixel) with the standard palette, for the
drawings of this folder."""
import struct

# The standard 16-colour palette, as (red, green, blue), by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (128, 128, 128), (192, 192, 192), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def bitmap_file(px):
    """The bytes of a bitmap file of the palette indexes px[y][x] (y = 0 at the top): a file
    header, a 40-byte info header, the palette and the rows bottom first, each padded to 4
    bytes."""
    height, width = len(px), len(px[0])
    row_bytes = ((width * 4 + 31) // 32) * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(0, width, 2):
            lo = px[y][x + 1] if x + 1 < width else 0
            row.append((px[y][x] << 4) | lo)
        row += b"\0" * (row_bytes - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 0, 0, 16, 16)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels
