#include "Graphics.h"

#include <cmath>

namespace {

// The classic palette of the system colours, as 0x00BBGGRR.
constexpr uint32_t SystemPalette[] = {
    0xC0C0C0,  // scroll bar
    0x808000,  // desktop
    0x800000,  // active caption
    0x808080,  // inactive caption
    0xC0C0C0,  // menu
    0xFFFFFF,  // window
    0x000000,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0xFFFFFF,  // caption text
    0xC0C0C0,  // active border
    0xC0C0C0,  // inactive border
    0x808080,  // application work space
    0x800000,  // highlight
    0xFFFFFF,  // highlight text
    0xC0C0C0,  // button face
    0x808080,  // button shadow
    0x808080,  // grey text
    0x000000,  // button text
    0xC0C0C0,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x000000,  // 3-D dark shadow
    0xDFDFDF,  // 3-D light
    0x000000,  // tool-tip text
    0xE1FFFF,  // tool-tip background
};

const TIdentMapEntry ColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clScrollBar, "clScrollBar"},
    {clBackground, "clBackground"},
    {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"},
    {clMenu, "clMenu"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clMenuText, "clMenuText"},
    {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"},
    {clActiveBorder, "clActiveBorder"},
    {clInactiveBorder, "clInactiveBorder"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"},
    {clBtnText, "clBtnText"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clBtnHighlight, "clBtnHighlight"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clInfoText, "clInfoText"},
    {clInfoBk, "clInfoBk"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
};

const TIdentMapEntry FontStyleNames[] = {{fsBold, "fsBold"},
                                         {fsItalic, "fsItalic"},
                                         {fsUnderline, "fsUnderline"},
                                         {fsStrikeOut, "fsStrikeOut"}};

const TIdentMapEntry CharsetNames[] = {
    {0, "ANSI_CHARSET"}, {1, "DEFAULT_CHARSET"}, {2, "SYMBOL_CHARSET"}, {255, "OEM_CHARSET"}};

const TIdentMapEntry BrushStyleNames[] = {{bsSolid, "bsSolid"}, {bsClear, "bsClear"}};

// Measures as a fixed-pitch font of the font's height would; draws nothing.
class TEstimatingCanvas : public TCanvasPeer {
 public:
  void FillRect(const TRect&, uint32_t) override {}
  void Line(int32_t, int32_t, int32_t, int32_t, uint32_t) override {}
  void TextOut(int32_t, int32_t, const std::string&, const TFont&, uint32_t, bool,
               uint32_t) override {}
  int32_t DrawText(const std::string& text, TRect& rect, uint32_t flags, const TFont& font,
                   uint32_t) override {
    TSize size = TextExtent(text, font);
    if (flags & DT_CALCRECT) {
      rect.Right = rect.Left + size.cx;
      rect.Bottom = rect.Top + size.cy;
    }
    return size.cy;
  }
  TSize TextExtent(const std::string& text, const TFont& font) override {
    int32_t h = font.Height() < 0 ? -font.Height() : font.Height();
    return {static_cast<int32_t>(text.size()) * (h * 6 / 10 + 1), h + h / 5};
  }
  void PushState(int32_t, int32_t, int32_t, int32_t) override {}
  void PopState() override {}
};

TCanvasPeer*& ScreenPeer() {
  static TCanvasPeer* peer = nullptr;
  return peer;
}

}  // namespace

uint32_t ColorToRGB(TColor color) {
  auto u = static_cast<uint32_t>(color);
  if (u & 0x80000000u) {
    uint32_t index = u & 0xFF;
    return index < std::size(SystemPalette) ? SystemPalette[index] : 0;
  }
  return u & 0x00FFFFFFu;
}

std::span<const TIdentMapEntry> ColorIdents() { return ColorNames; }

void OffsetRect(TRect& rect, int32_t dx, int32_t dy) {
  rect.Left += dx;
  rect.Right += dx;
  rect.Top += dy;
  rect.Bottom += dy;
}

// --- TFont ---------------------------------------------------------------------------------------

const TClassInfo& TFont::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TFont",
      &TPersistent::StaticClassInfo(),
      nullptr,
      {IntProp("Charset", &TFont::Charset, &TFont::SetCharset).WithIdents(CharsetNames),
       IntProp("Color", &TFont::Color, &TFont::SetColor).WithIdents(ColorNames),
       IntProp("Height", &TFont::Height, &TFont::SetHeight),
       StrProp("Name", &TFont::Name, &TFont::SetName),
       SetProp("Style", &TFont::Style, &TFont::SetStyle, FontStyleNames)},
      {},
      {}};
  return info;
}

TFont::TFont() = default;

void TFont::Changed() {
  if (OnChange) OnChange();
}

void TFont::SetName(const std::string& value) {
  if (value.empty() || value == FName) return;
  FName = value;
  Changed();
}

void TFont::SetHeight(int32_t value) {
  if (value == FHeight) return;
  FHeight = value;
  Changed();
}

int32_t TFont::Size() const { return static_cast<int32_t>(std::lround(-FHeight * 72.0 / 96.0)); }

void TFont::SetSize(int32_t value) {
  SetHeight(-static_cast<int32_t>(std::lround(value * 96.0 / 72.0)));
}

void TFont::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  Changed();
}

void TFont::SetStyle(TFontStyles value) {
  if (value == FStyle) return;
  FStyle = value;
  Changed();
}

void TFont::SetCharset(int32_t value) {
  if (value == FCharset) return;
  FCharset = value;
  Changed();
}

void TFont::SetEscapement(int32_t value) {
  if (value == FEscapement) return;
  FEscapement = value;
  Changed();
}

void TFont::Assign(const TPersistent& source) {
  const auto* font = dynamic_cast<const TFont*>(&source);
  if (!font) {
    TPersistent::Assign(source);
    return;
  }
  if (*this == *font) return;
  FName = font->FName;
  FHeight = font->FHeight;
  FColor = font->FColor;
  FStyle = font->FStyle;
  FCharset = font->FCharset;
  FEscapement = font->FEscapement;
  Changed();
}

bool TFont::operator==(const TFont& o) const {
  return FName == o.FName && FHeight == o.FHeight && FColor == o.FColor && FStyle == o.FStyle &&
         FCharset == o.FCharset && FEscapement == o.FEscapement;
}

// --- TBrush --------------------------------------------------------------------------------------

const TClassInfo& TBrush::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TBrush",
      &TPersistent::StaticClassInfo(),
      nullptr,
      {IntProp("Color", &TBrush::Color, &TBrush::SetColor).WithIdents(ColorNames),
       EnumProp("Style", &TBrush::Style, &TBrush::SetStyle, BrushStyleNames).WithDefault(bsSolid)},
      {},
      {}};
  return info;
}

void TBrush::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  if (OnChange) OnChange();
}

void TBrush::SetStyle(TBrushStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  if (OnChange) OnChange();
}

// --- TCanvas -------------------------------------------------------------------------------------

TCanvasPeer& ScreenCanvasPeer() {
  static TEstimatingCanvas estimate;
  return ScreenPeer() ? *ScreenPeer() : estimate;
}

void SetScreenCanvasPeer(TCanvasPeer* peer) { ScreenPeer() = peer; }

TSize ScreenTextExtent(const std::string& text, const TFont& font) {
  return ScreenCanvasPeer().TextExtent(text, font);
}

const TClassInfo& TCanvas::StaticClassInfo() {
  static const TClassInfo info{"TCanvas", &TPersistent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

void TCanvas::FillRect(const TRect& rect) {
  if (FPeer && FBrush.Style() != bsClear) FPeer->FillRect(rect, ColorToRGB(FBrush.Color()));
}

void TCanvas::MoveTo(int32_t x, int32_t y) { FPenPos = {x, y}; }

void TCanvas::LineTo(int32_t x, int32_t y, TColor color) {
  if (FPeer) FPeer->Line(FPenPos.X, FPenPos.Y, x, y, ColorToRGB(color));
  FPenPos = {x, y};
}

void TCanvas::TextOut(int32_t x, int32_t y, const std::string& text) {
  if (!FPeer) return;
  FPeer->TextOut(x, y, text, FFont, ColorToRGB(FFont.Color()), FBrush.Style() != bsClear,
                 ColorToRGB(FBrush.Color()));
}

int32_t TCanvas::DrawText(const std::string& text, TRect& rect, uint32_t flags) {
  // Outside a paint a canvas can still measure, on the screen's canvas.
  TCanvasPeer* peer = FPeer ? FPeer : ((flags & DT_CALCRECT) ? &ScreenCanvasPeer() : nullptr);
  if (!peer) return 0;
  return peer->DrawText(text, rect, flags, FFont, ColorToRGB(FFont.Color()));
}

TSize TCanvas::TextExtent(const std::string& text) {
  return FPeer ? FPeer->TextExtent(text, FFont) : ScreenTextExtent(text, FFont);
}
