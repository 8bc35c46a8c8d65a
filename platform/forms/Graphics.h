// Colours, fonts, brushes and the canvas that controls draw on.
//
// Nothing here draws by itself: a TCanvas hands every operation, with its current font and brush,
// to a TCanvasPeer that the toolkit backend provides while a control paints.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "Classes.h"

using TColor = int32_t;

// 0x00BBGGRR for a colour given by its parts; 0x800000nn for system colour nn.
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index));
}
inline constexpr TColor clScrollBar = SystemColor(0);
inline constexpr TColor clBackground = SystemColor(1);
inline constexpr TColor clActiveCaption = SystemColor(2);
inline constexpr TColor clInactiveCaption = SystemColor(3);
inline constexpr TColor clMenu = SystemColor(4);
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowFrame = SystemColor(6);
inline constexpr TColor clMenuText = SystemColor(7);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clCaptionText = SystemColor(9);
inline constexpr TColor clActiveBorder = SystemColor(10);
inline constexpr TColor clInactiveBorder = SystemColor(11);
inline constexpr TColor clAppWorkSpace = SystemColor(12);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clGrayText = SystemColor(17);
inline constexpr TColor clBtnText = SystemColor(18);
inline constexpr TColor clInactiveCaptionText = SystemColor(19);
inline constexpr TColor clBtnHighlight = SystemColor(20);
inline constexpr TColor cl3DDkShadow = SystemColor(21);
inline constexpr TColor cl3DLight = SystemColor(22);
inline constexpr TColor clInfoText = SystemColor(23);
inline constexpr TColor clInfoBk = SystemColor(24);
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

// The RGB value (0x00BBGGRR) of a colour; system colours come from one fixed classic palette,
// so that drawing is the same on every desktop.
uint32_t ColorToRGB(TColor color);

// The named colours, for form descriptions ("clNavy", "clBtnFace" ...).
std::span<const TIdentMapEntry> ColorIdents();

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {left, top, right, bottom};
}

void OffsetRect(TRect& rect, int32_t dx, int32_t dy);

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = uint8_t;  // one bit per TFontStyle
inline constexpr TFontStyles FontStyleBit(TFontStyle style) {
  return static_cast<TFontStyles>(1u << style);
}

inline constexpr int32_t DEFAULT_CHARSET = 1;

// A font description. Changing an attribute calls OnChange, which the owner uses to repaint.
class TFont : public TPersistent {
  TAVRIX_CLASS(TFont)

 public:
  TFont();

  const std::string& Name() const { return FName; }
  void SetName(const std::string& value);
  // Negative: the height of the characters in pixels; positive: of the cell.
  int32_t Height() const { return FHeight; }
  void SetHeight(int32_t value);
  // The size in points at 96 pixels per inch.
  int32_t Size() const;
  void SetSize(int32_t value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles value);
  int32_t Charset() const { return FCharset; }
  void SetCharset(int32_t value);
  // Turn of the text's baseline in tenths of a degree, counterclockwise.
  int32_t Escapement() const { return FEscapement; }
  void SetEscapement(int32_t value);

  void Assign(const TPersistent& source) override;
  bool operator==(const TFont& other) const;

  std::function<void()> OnChange;

 private:
  void Changed();

  std::string FName = "MS Sans Serif";
  int32_t FHeight = -11;
  TColor FColor = clWindowText;
  TFontStyles FStyle = 0;
  int32_t FCharset = DEFAULT_CHARSET;
  int32_t FEscapement = 0;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TPersistent {
  TAVRIX_CLASS(TBrush)

 public:
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle value);
  std::function<void()> OnChange;

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
};

// Flags of DrawText, as the classic text-drawing call takes them.
inline constexpr uint32_t DT_LEFT = 0x0000;
inline constexpr uint32_t DT_CENTER = 0x0001;
inline constexpr uint32_t DT_RIGHT = 0x0002;
inline constexpr uint32_t DT_WORDBREAK = 0x0010;
inline constexpr uint32_t DT_SINGLELINE = 0x0020;
inline constexpr uint32_t DT_EXPANDTABS = 0x0040;
inline constexpr uint32_t DT_NOCLIP = 0x0100;
inline constexpr uint32_t DT_CALCRECT = 0x0400;
inline constexpr uint32_t DT_NOPREFIX = 0x0800;

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
};

// What the toolkit backend does for a canvas. Coordinates are the canvas's own; colours are
// resolved RGB values (0x00BBGGRR).
class TCanvasPeer {
 public:
  virtual ~TCanvasPeer() = default;
  virtual void FillRect(const TRect& rect, uint32_t rgb) = 0;
  // Lines from (x1, y1) to (x2, y2) one pixel wide, the end point included.
  virtual void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb) = 0;
  // The text at a point (the top-left of the first character cell), turned by the font's
  // escapement about that point; with a background fill when opaque.
  virtual void TextOut(int32_t x, int32_t y, const std::string& text, const TFont& font,
                       uint32_t rgb, bool opaque, uint32_t backgroundRgb) = 0;
  // Text laid out in a rectangle by DrawText flags; returns the height of the text. With
  // DT_CALCRECT nothing is drawn and rect is widened or heightened to the text.
  virtual int32_t DrawText(const std::string& text, TRect& rect, uint32_t flags, const TFont& font,
                           uint32_t rgb) = 0;
  virtual TSize TextExtent(const std::string& text, const TFont& font) = 0;
  // Moves the origin to (x, y) of the current coordinates and clips to width x height from
  // there, until the matching PopState.
  virtual void PushState(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
  virtual void PopState() = 0;
};

// The screen's canvas, for measuring text outside a paint (a label that sizes itself): the
// backend sets one; without one, a fixed-pitch estimate stands in, so headless code still runs.
// Drawing on it does nothing.
TCanvasPeer& ScreenCanvasPeer();
void SetScreenCanvasPeer(TCanvasPeer* peer);
TSize ScreenTextExtent(const std::string& text, const TFont& font);

class TCanvas : public TPersistent {
  TAVRIX_CLASS(TCanvas)

 public:
  explicit TCanvas(TCanvasPeer* peer = nullptr) : FPeer(peer) {}

  TFont& Font() { return FFont; }
  TBrush& Brush() { return FBrush; }
  TCanvasPeer* Peer() const { return FPeer; }
  void SetPeer(TCanvasPeer* peer) { FPeer = peer; }

  void FillRect(const TRect& rect);
  void MoveTo(int32_t x, int32_t y);
  void LineTo(int32_t x, int32_t y, TColor color);
  void TextOut(int32_t x, int32_t y, const std::string& text);
  int32_t DrawText(const std::string& text, TRect& rect, uint32_t flags);
  TSize TextExtent(const std::string& text);

 private:
  TCanvasPeer* FPeer;
  TFont FFont;
  TBrush FBrush;
  TPoint FPenPos;
};
