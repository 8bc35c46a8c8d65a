#include "CursorImage.h"

#include <algorithm>

#include "Resources.h"

namespace {

int32_t Read16(std::string_view bytes, std::size_t at) {
  return LoadLE16(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

}  // namespace

TCursorPixel TCursorImage::Pixel(int32_t x, int32_t y) const {
  // Indexed by AND bit, then XOR bit.
  static constexpr TCursorPixel Pixels[2][2] = {
      {TCursorPixel::Black, TCursorPixel::White},
      {TCursorPixel::Transparent, TCursorPixel::Inverted}};
  return Pixels[AndBit(x, y)][XorBit(x, y)];
}

std::optional<TCursorImage> ReadCursorImage(std::string_view bytes) {
  if (bytes.size() < CursorImageHeaderSize ||
      !std::equal(std::begin(CursorImageMagic), std::end(CursorImageMagic), bytes.begin())) {
    return std::nullopt;
  }
  TCursorImage image;
  image.Width = Read16(bytes, 4);
  image.Height = Read16(bytes, 6);
  image.HotX = Read16(bytes, 8);
  image.HotY = Read16(bytes, 10);
  auto sideOk = [](int32_t side) { return side >= 1 && side <= CursorImageMaxSide; };
  if (!sideOk(image.Width) || !sideOk(image.Height) || image.HotX >= image.Width ||
      image.HotY >= image.Height) {
    return std::nullopt;
  }
  const auto planeSize = static_cast<std::size_t>(image.RowBytes() * image.Height);
  if (bytes.size() - CursorImageHeaderSize < 2 * planeSize) return std::nullopt;
  const auto* planes = reinterpret_cast<const uint8_t*>(bytes.data()) + CursorImageHeaderSize;
  image.AndPlane.assign(planes, planes + planeSize);
  image.XorPlane.assign(planes + planeSize, planes + 2 * planeSize);
  return image;
}

std::string LoadCursorResource(std::string_view name) {
  std::optional<std::string_view> bytes = FindResource(name);
  if (!bytes || !ReadCursorImage(*bytes)) return {};
  return std::string(*bytes);
}
