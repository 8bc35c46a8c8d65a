// The arithmetic of the rotated three-dimensional label: how a turned caption is placed and how
// much room it takes. The label control itself builds on these.
#pragma once

#include <cstdint>

#include "Controls.h"

// The three-dimensional look of a caption.
enum TTextStyle : uint8_t {
  tsNone,      // the face only
  tsRaised,    // a dark layer one pixel right and down, a light one left and up, then the face
  tsRecessed,  // the light layer right and down, the dark one left and up, then the face
};

// An escapement as the label stores it: negative values end in 0 to 359 (-360 gives 0), values
// above 360 are reduced by whole turns to 1 to 360 (360 stays 360, 720 gives 360).
int32_t FoldEscapement(int32_t value);

// Where a caption cell of width x height, turned counterclockwise by angle degrees (1 to 360)
// about its top-left corner, must start so that its bounding box begins at the rectangle's
// top-left corner (Dx, Dy), and the size of that box. Computed in 80-bit extended precision,
// each product truncated toward zero as the label has always done, so that the results are the
// same pixel for pixel (at 270 degrees Dx is height - 1: the cosine there is a tiny positive
// number).
struct TRotatedCell {
  int32_t Dx = 0;
  int32_t Dy = 0;
  int32_t BoxWidth = 0;
  int32_t BoxHeight = 0;
  bool operator==(const TRotatedCell&) const = default;
};
TRotatedCell RotateCell(int32_t angle, int32_t width, int32_t height);

// How far a turned caption moves right in a box of the given width that does not size itself:
// half the spare room for centred text (the quotient truncated toward zero), all of it for
// right-aligned text, none for left-aligned text.
int32_t AlignmentShift(TAlignment alignment, int32_t width, int32_t boxWidth);
