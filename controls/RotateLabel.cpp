#include "RotateLabel.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
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

// --- TRotateLabel --------------------------------------------------------------------------------

namespace {

const TIdentMapEntry TextStyleNames[] = {
    {tsNone, "tsNone"}, {tsRaised, "tsRaised"}, {tsRecessed, "tsRecessed"}};

// The colours of the layer drawn one pixel right and down and of the one drawn one pixel left and
// up, by text style; tsNone draws neither.
struct TLayerColors {
  TColor RightDown;
  TColor LeftUp;
};
constexpr TLayerColors LayerColors[] = {
    {clNone, clNone},               // tsNone
    {clBtnShadow, clBtnHighlight},  // tsRaised
    {clBtnHighlight, clBtnShadow},  // tsRecessed
};

// The classic measuring buffer holds this many characters and a terminating zero: a longer
// caption is measured by its first MeasuredLength characters, though the whole of it is drawn.
constexpr std::size_t MeasuredLength = 255;

// Turns a canvas's font and clears its brush for the time of one rotated line, and puts both back
// on every path.
class TRotatedTextState {
 public:
  TRotatedTextState(TCanvas& canvas, int32_t angle)
      : FCanvas(canvas),
        FEscapement(canvas.Font().Escapement()),
        FBrushStyle(canvas.Brush().Style()) {
    canvas.Font().SetEscapement(angle * 10);  // the font's unit is tenths of a degree
    canvas.Brush().SetStyle(bsClear);
  }
  ~TRotatedTextState() {
    FCanvas.Font().SetEscapement(FEscapement);
    FCanvas.Brush().SetStyle(FBrushStyle);
  }
  TRotatedTextState(const TRotatedTextState&) = delete;
  TRotatedTextState& operator=(const TRotatedTextState&) = delete;

 private:
  TCanvas& FCanvas;
  int32_t FEscapement;
  TBrushStyle FBrushStyle;
};

}  // namespace

const TClassInfo& TRotateLabel::StaticClassInfo() {
  using namespace PropBuilders;
  // Neither property has a recorded default: a form description always carries both.
  static const TClassInfo info{
      "TRotateLabel",
      &TCustomLabel::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TRotateLabel(owner); },
      {IntProp("Escapement", &TRotateLabel::Escapement, &TRotateLabel::SetEscapement),
       EnumProp("TextStyle", &TRotateLabel::TextStyle, &TRotateLabel::SetTextStyle,
                TextStyleNames)},
      {},
      {}};
  return info;
}

namespace {
// Form descriptions name the class without a published field to find it by.
const bool GRotateLabelRegistered = (RegisterClass(TRotateLabel::StaticClassInfo()), true);
}  // namespace

TRotateLabel::TRotateLabel(TComponent* owner) : TCustomLabel(owner) {
  // Setting the name gives the label a font of its own (ParentFont turns False, as for any control
  // whose font is set), so it stays Arial on whatever parent it is placed. The base label sizes
  // itself on every font change; a new label keeps the base label's size until it has a caption.
  const TRect bounds = BoundsRect();
  Font().SetName("Arial");
  SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
}

void TRotateLabel::SetEscapement(int32_t value) {
  // Compared before folding, so an equal angle of another turn still repaints.
  if (value == FEscapement) return;
  FEscapement = FoldEscapement(value);
  Invalidate();
}

void TRotateLabel::SetTextStyle(TTextStyle value) {
  if (value == FTextStyle) return;
  FTextStyle = value;
  Invalidate();
}

void TRotateLabel::Paint() {
  const TRect rect = ClientRect();
  if (!Transparent()) {
    Canvas().Brush().SetColor(Color());
    Canvas().Brush().SetStyle(bsSolid);
    Canvas().FillRect(rect);
  }
  Canvas().Brush().SetStyle(bsClear);
  DrawStyledText(rect, DT_EXPANDTABS | TextFlags());
}

void TRotateLabel::DrawStyledText(const TRect& rect, uint32_t flags) {
  const std::string text = Caption();
  if (!ShowAccelChar()) flags |= DT_NOPREFIX;
  Canvas().Font().Assign(Font());

  const auto drawIn = [&](TRect r) {
    if (FEscapement != 0) {
      DrawRotatedText(Canvas(), r, FEscapement, text);
    } else {
      Canvas().DrawText(text, r, flags);
    }
  };

  if (FTextStyle != tsNone && static_cast<std::size_t>(FTextStyle) < std::size(LayerColors)) {
    const TLayerColors& colors = LayerColors[FTextStyle];
    // The layers move along the screen's axes, also for turned text.
    TRect r = rect;
    OffsetRect(r, 1, 1);
    Canvas().Font().SetColor(colors.RightDown);
    drawIn(r);
    r = rect;
    OffsetRect(r, -1, -1);
    Canvas().Font().SetColor(colors.LeftUp);
    drawIn(r);
  }
  Canvas().Font().SetColor(Enabled() ? Font().Color() : clGrayText);
  drawIn(rect);
}

void TRotateLabel::DrawRotatedText(TCanvas& canvas, TRect rect, int32_t angle,
                                   const std::string& text) {
  CalcRotatedOrigin(rect, angle, text);
  const TRotatedTextState state(canvas, angle);
  canvas.TextOut(rect.Left, rect.Top, text);
}

void TRotateLabel::CalcRotatedOrigin(TRect& origin, int32_t angle, const std::string& text) {
  // The label's own font, not the canvas's: the measure is the same for every layer.
  const TSize size = ScreenTextExtent(text.substr(0, MeasuredLength), Font());
  const TRotatedCell cell = RotateCell(angle, size.cx, size.cy);
  origin.Left += cell.Dx;
  origin.Top += cell.Dy;
  if (AutoSize()) {
    // Resizing repaints; the next paint measures the same box and changes nothing more.
    SetWidth(cell.BoxWidth);
    SetHeight(cell.BoxHeight);
  } else {
    origin.Left += AlignmentShift(Alignment(), Width(), cell.BoxWidth);
  }
}
