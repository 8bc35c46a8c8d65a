// The rotated label's arithmetic on given caption sizes: folding of the escapement, the origin
// offsets and bounding box of a turned caption, and the shift of an aligned one.
#include "RotateLabel.h"

#include <gtest/gtest.h>

namespace {

TEST(RotateLabelTest, EscapementFoldsIntoOneTurn) {
  const struct {
    int32_t value;
    int32_t folded;
  } cases[] = {
      {-720, 0}, {-361, 359}, {-360, 0}, {-1, 359},  {0, 0},
      {45, 45},  {360, 360},  {361, 1},  {720, 360}, {1000, 280},
  };
  for (const auto& c : cases) EXPECT_EQ(FoldEscapement(c.value), c.folded) << c.value;
}

TEST(RotateLabelTest, TurnedCellOffsetsAndBoxAtEveryQuadrant) {
  const struct {
    int32_t angle, width, height;
    TRotatedCell cell;  // Dx, Dy, box width, box height
  } cases[] = {
      {3, 200, 20, {0, 10, 200, 29}},
      {45, 100, 20, {0, 70, 84, 84}},
      {90, 100, 20, {0, 100, 20, 100}},  // 0, W, H x W
      {135, 100, 20, {70, 84, 84, 84}},
      {180, 100, 20, {100, 20, 100, 20}},  // W, H, W x H
      {225, 100, 20, {84, 14, 84, 84}},
      // The cosine of the computed 270 degrees is a tiny positive number: H - 1, not H.
      {270, 100, 20, {19, 0, 20, 100}},
      {315, 100, 20, {14, 0, 84, 84}},
      {360, 100, 20, {0, 0, 100, 20}},  // looks level, W x H
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RotateCell(c.angle, c.width, c.height), c.cell) << c.angle << " degrees";
  }
}

TEST(RotateLabelTest, AlignedCaptionShiftsByTheSpareRoom) {
  const struct {
    TAlignment alignment;
    int32_t width, boxWidth, shift;
  } cases[] = {
      {taCenter, 240, 200, 20},       {taCenter, 199, 200, 0},  // -1 / 2 truncates toward zero
      {taCenter, 197, 200, -1},                                 // -3 / 2
      {taRightJustify, 240, 200, 40}, {taLeftJustify, 240, 200, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AlignmentShift(c.alignment, c.width, c.boxWidth), c.shift)
        << c.alignment << " " << c.width;
  }
}

}  // namespace
