#include "RotateLabel.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

static_assert(std::numeric_limits<long double>::digits == 64,
              "the label's arithmetic needs the 80-bit extended type");

constexpr long double Pi = 3.14159265358979323846264338327950288L;
constexpr long double OneOver180 = 1.0L / 180.0L;

// Degrees to radians in two steps, in this order: the order decides the last bit, and with it
// some truncated results.
long double Radians(long double degrees) {
  const long double turned = degrees * Pi;
  return turned * OneOver180;
}

int32_t Truncate(long double value) { return static_cast<int32_t>(value); }

}  // namespace

int32_t FoldEscapement(int32_t value) {
  if (value < 0) {
    while (value < -360) value += 360;
    value += 360;
  }
  while (value > 360) value -= 360;
  return value;
}

TRotatedCell RotateCell(int32_t angle, int32_t width, int32_t height) {
  const long double w = width;
  const long double h = height;
  const long double a = angle;
  TRotatedCell cell;
  if (angle <= 90) {
    cell.Dy = Truncate(sinl(Radians(a)) * w);
  } else if (angle <= 180) {
    cell.Dx = Truncate(-cosl(Radians(a)) * w);
    cell.Dy = Truncate(cosl(Radians(180 - a)) * h + sinl(Radians(a)) * w);
  } else if (angle <= 270) {
    cell.Dx = Truncate(sinl(Radians(a - 180)) * h + (-cosl(Radians(a)) * w));
    cell.Dy = Truncate(sinl(Radians(270 - a)) * h);
  } else {
    cell.Dx = Truncate(sinl(Radians(360 - a)) * h);
  }
  cell.BoxWidth =
      std::abs(Truncate(cosl(Radians(a)) * w)) + std::abs(Truncate(sinl(Radians(a)) * h));
  cell.BoxHeight =
      std::abs(Truncate(sinl(Radians(a)) * w)) + std::abs(Truncate(cosl(Radians(a)) * h));
  return cell;
}

int32_t AlignmentShift(TAlignment alignment, int32_t width, int32_t boxWidth) {
  switch (alignment) {
    case taCenter:
      return (width - boxWidth) / 2;
    case taRightJustify:
      return width - boxWidth;
    case taLeftJustify:
      break;
  }
  return 0;
}
