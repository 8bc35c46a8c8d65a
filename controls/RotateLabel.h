// The rotated three-dimensional label: a label without a window of its own that paints its caption
// raised or recessed and, with an escapement other than 0, as one line turned counterclockwise by
// whole degrees. Below the control, the arithmetic it builds on: how a turned caption is placed and
// how much room it takes.
#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "StdCtrls.h"

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

// A label that draws its caption with a one-pixel light and dark layer under the face (TextStyle),
// turned by Escapement degrees counterclockwise about the top-left corner of the first character
// cell. Everything else (caption, font, colour, transparency, alignment, sizing, word wrap,
// accelerator characters, enabling) is the base label's.
//
// Level text (Escapement 0) is laid out in the client rectangle by the alignment, word-wrap, tab
// and accelerator rules. Turned text is one line: no flags apply, the whole caption is drawn as it
// stands, and with AutoSize each paint sets Width and Height to the turned caption's bounding box
// (the resize repaints once more, which yields the same box). Nothing is raised.
class TRotateLabel : public TCustomLabel {
  TAVRIX_CLASS(TRotateLabel)

 public:
  // Escapement 45, raised text and a font of its own named "Arial", with the base label's size.
  explicit TRotateLabel(TComponent* owner);

  // The angle in whole degrees, 0 to 360 once set through SetEscapement.
  int32_t Escapement() const { return FEscapement; }
  // Does nothing when value equals the stored angle (compared before folding); otherwise stores
  // the folded value (FoldEscapement) and repaints. So 405 while 45 is stored repaints.
  void SetEscapement(int32_t value);
  TTextStyle TextStyle() const { return FTextStyle; }
  void SetTextStyle(TTextStyle value);

  // The background unless Transparent, then the caption's layers in the client rectangle.
  void Paint() override;

 protected:
  // The layers right-down and left-up (tsRaised: dark then light; tsRecessed: light then dark),
  // then the face in Font.Color, or clGrayText when disabled. rect is not changed.
  void DrawStyledText(const TRect& rect, uint32_t flags);
  // One line of text turned by angle degrees, its bounding box beginning at rect's top-left
  // corner; drawn without a background, leaving canvas's font and brush as they were.
  void DrawRotatedText(TCanvas& canvas, TRect rect, int32_t angle, const std::string& text);
  // Moves origin's Left and Top to where the turned line must start, measuring text in the
  // label's own font on the screen's canvas. With AutoSize the label then takes the turned
  // box's size (Left and Top stay); otherwise a centred or right-aligned line moves right by the
  // spare room.
  void CalcRotatedOrigin(TRect& origin, int32_t angle, const std::string& text);

 private:
  int32_t FEscapement = 45;
  TTextStyle FTextStyle = tsRaised;
};
