// Monochrome cursor images: the form in which cursor resources ("HAND") are stored, read and
// written here, and turned into a native cursor by the backend.
//
// Layout, all numbers 16-bit little-endian:
//   offset 0   "TCUR"
//   offset 4   width in pixels, 1 .. 256
//   offset 6   height in pixels, 1 .. 256
//   offset 8   hot spot x, less than the width
//   offset 10  hot spot y, less than the height
//   offset 12  the AND plane: height rows of (width + 7) / 8 bytes, the top row first, the
//              leftmost pixel in the high bit of a row's first byte; unused low bits are 0
//   then       the XOR plane, laid out alike
// As in the classic monochrome cursor, a pixel with AND 0 and XOR 0 is black, AND 0 and XOR 1
// white, AND 1 and XOR 0 transparent, and AND 1 and XOR 1 inverts the screen under it. Bytes
// after the planes are ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SysUtils.h"

inline constexpr char CursorImageMagic[4] = {'T', 'C', 'U', 'R'};
inline constexpr std::size_t CursorImageHeaderSize = 12;
inline constexpr int32_t CursorImageMaxSide = 256;

enum class TCursorPixel { Black, White, Transparent, Inverted };

struct TCursorImage {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t HotX = 0;
  int32_t HotY = 0;
  // Height rows of RowBytes() bytes each, as in the layout above.
  std::vector<uint8_t> AndPlane;
  std::vector<uint8_t> XorPlane;

  int32_t RowBytes() const { return (Width + 7) / 8; }
  bool AndBit(int32_t x, int32_t y) const { return Bit(AndPlane, x, y); }
  bool XorBit(int32_t x, int32_t y) const { return Bit(XorPlane, x, y); }
  // (x, y) must lie inside the image.
  TCursorPixel Pixel(int32_t x, int32_t y) const;

 private:
  bool Bit(const std::vector<uint8_t>& plane, int32_t x, int32_t y) const {
    return (plane[static_cast<std::size_t>(y * RowBytes() + x / 8)] >> (7 - x % 8)) & 1;
  }
};

// Reads a cursor image. Nothing when the bytes are not one: another magic, a side outside
// 1 .. 256, the hot spot outside the image, or planes cut short. Never reads past the bytes.
std::optional<TCursorImage> ReadCursorImage(std::string_view bytes);

// The bytes of a Width x Height cursor image drawn as rows of characters: '.' transparent,
// 'X' black, 'o' white, '~' inverted. Any other character, a row of another length or a hot
// spot outside the image raises EConvertError; evaluated at compile time, that stops the build.
template <std::size_t Width, std::size_t Height>
constexpr auto CursorImageFromArt(const std::array<std::string_view, Height>& rows, int hotX,
                                  int hotY) {
  static_assert(Width >= 1 && Width <= CursorImageMaxSide && Height >= 1 &&
                Height <= CursorImageMaxSide);
  constexpr std::size_t rowBytes = (Width + 7) / 8;
  constexpr std::size_t planeSize = rowBytes * Height;
  std::array<uint8_t, CursorImageHeaderSize + 2 * planeSize> bytes{};
  if (hotX < 0 || hotY < 0 || static_cast<std::size_t>(hotX) >= Width ||
      static_cast<std::size_t>(hotY) >= Height) {
    throw EConvertError("Cursor hot spot lies outside the image");
  }
  auto put16 = [&bytes](std::size_t at, std::size_t value) {
    StoreLE16(bytes.data() + at, static_cast<uint16_t>(value));
  };
  for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(CursorImageMagic[i]);
  put16(4, Width);
  put16(6, Height);
  put16(8, static_cast<std::size_t>(hotX));
  put16(10, static_cast<std::size_t>(hotY));
  for (std::size_t y = 0; y < Height; ++y) {
    if (rows[y].size() != Width) throw EConvertError("Cursor row of the wrong length");
    for (std::size_t x = 0; x < Width; ++x) {
      bool andBit = false;
      bool xorBit = false;
      switch (rows[y][x]) {
        case 'X':
          break;
        case 'o':
          xorBit = true;
          break;
        case '.':
          andBit = true;
          break;
        case '~':
          andBit = xorBit = true;
          break;
        default:
          throw EConvertError("Unknown character in a cursor drawing");
      }
      const std::size_t at = y * rowBytes + x / 8;
      const auto bit = static_cast<uint8_t>(0x80 >> (x % 8));
      if (andBit) bytes[CursorImageHeaderSize + at] |= bit;
      if (xorBit) bytes[CursorImageHeaderSize + planeSize + at] |= bit;
    }
  }
  return bytes;
}

// The cursor resource of that name (see Resources.h) as a shape for the screen's cursor table:
// its bytes when it is there and is a cursor image, else empty.
std::string LoadCursorResource(std::string_view name);
