// Colours, fonts, brushes, the canvas that controls draw on, and the graphics drawn on it
// (bitmaps, and the pictures that hold them in form descriptions).
//
// Nothing here draws by itself: a TCanvas hands every operation, with its current font and brush,
// to a TCanvasPeer that the toolkit backend provides while a control paints.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

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

class TBitmap;
class TGraphic;

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
  // The bitmap's pixels scaled (nearest pixel) to fill dest, which is its own size when it is
  // not stretched. With transparent, pixels of the colour transparentRgb are not drawn and what
  // lies below shows through.
  virtual void DrawBitmap(const TRect& dest, const TBitmap& bitmap, bool transparent,
                          uint32_t transparentRgb) = 0;
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
  // The graphic at its own size with its top-left at (x, y); an empty graphic draws nothing.
  void Draw(int32_t x, int32_t y, const TGraphic& graphic);
  // The graphic scaled to fill rect.
  void StretchDraw(const TRect& rect, const TGraphic& graphic);

 private:
  TCanvasPeer* FPeer;
  TFont FFont;
  TBrush FBrush;
  TPoint FPenPos;
};

// --- Graphics: bitmaps and pictures
// ---------------------------------------------------------------

// A graphic that cannot be decoded or encoded: a malformed bitmap file, a format not supported,
// an unknown graphic class in picture data.
TAVRIX_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

// An image that can be drawn on a canvas and stored as bytes. Changes call OnChange, which the
// owning picture uses to repaint its control.
class TGraphic : public TPersistent {
  TAVRIX_CLASS(TGraphic)

 public:
  virtual bool Empty() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Whether the transparent colour lets what lies below show through when drawn.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);

  // Replaces the image with the one in the stream from its position to its end. Raises
  // EInvalidGraphic for malformed data, leaving the image as it was.
  virtual void LoadFromStream(TStream& stream) = 0;
  // Writes the image at the stream's position.
  virtual void SaveToStream(TStream& stream) const = 0;
  // Draws the image scaled to fill dest.
  virtual void Draw(TCanvas& canvas, const TRect& dest) const = 0;

  std::function<void()> OnChange;

 protected:
  void Changed();

 private:
  bool FTransparent = false;
};

// How a bitmap is stored as a file: bits per pixel, with a palette up to 8 bits.
enum TPixelFormat { pf1bit, pf4bit, pf8bit, pf24bit, pf32bit };

// The sixteen colours of the standard 16-colour palette, in its order: black, maroon, green,
// olive, navy, purple, teal, grey, silver, red, lime, yellow, blue, fuchsia, aqua, white.
std::span<const uint32_t> StandardPalette16();

// A bitmap held as 32-bit pixels 0x00BBGGRR (as ColorToRGB gives them), rows top first, and
// stored as a Windows bitmap file: a 14-byte file header, a 40-byte information header, the
// palette of up to 2^bits colours for 1, 4 and 8 bits per pixel, then the rows, each padded to
// four bytes, bottom row first.
//
// Loading accepts 1, 4, 8, 24 and 32 bits per pixel without compression, information headers
// of 40 bytes or the longer later ones, and top-down files (negative height). It checks every
// size and offset against the data before it reads, so no malformed file makes it read outside
// the data: each fails with EInvalidGraphic and a message saying what is wrong.
//
// A loaded bitmap keeps its file and saves exactly those bytes again until it is changed; a
// changed one is encoded in its PixelFormat with its Palette.
class TBitmap : public TGraphic {
  TAVRIX_CLASS(TBitmap)

 public:
  // The largest width and height taken from a file.
  static constexpr int32_t MaxSide = 32767;

  TBitmap() = default;

  bool Empty() const override { return FWidth == 0 || FHeight == 0; }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  // Resizes to width x height, every pixel black; raises EInvalidGraphic for a negative side.
  void SetSize(int32_t width, int32_t height);

  uint32_t Pixel(int32_t x, int32_t y) const;
  // Raises EInvalidGraphic for a point outside the bitmap.
  void SetPixel(int32_t x, int32_t y, uint32_t rgb);
  // Width x Height pixels, rows top first.
  std::span<const uint32_t> Pixels() const { return FPixels; }

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TPixelFormat value);
  // The colours that an indexed format stores; a loaded bitmap has its file's palette.
  std::span<const uint32_t> Palette() const { return FPalette; }
  void SetPalette(std::span<const uint32_t> colours);

  // The colour that is not drawn when Transparent: the bottom-left pixel's; black when empty.
  uint32_t TransparentColor() const;

  // Reads a whole bitmap file from memory.
  void LoadFromMemory(const uint8_t* data, std::size_t size);
  void LoadFromStream(TStream& stream) override;
  // Writes the bitmap file. Raises EInvalidGraphic when an indexed format's palette lacks a
  // colour of the pixels, or an empty palette cannot take all of them (an empty palette is
  // made of the pixels' colours in the order met, top row first).
  void SaveToStream(TStream& stream) const override;
  void Draw(TCanvas& canvas, const TRect& dest) const override;
  void Assign(const TPersistent& source) override;

 private:
  // The pixels changed: the kept file no longer says the same.
  void Modified();
  std::vector<uint8_t> Encode() const;

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::vector<uint32_t> FPixels;
  TPixelFormat FPixelFormat = pf24bit;
  std::vector<uint32_t> FPalette;
  // The bytes the bitmap was loaded from, while they still describe it.
  std::vector<uint8_t> FFile;
};

// Holds one graphic (or none) and stores it in form descriptions as the binary property "Data":
// the graphic's class name as a short string (a length byte, then the characters), a 4-byte
// little-endian length, then that many bytes of the graphic's own file (none for an empty
// one). Changes call OnChange.
class TPicture : public TPersistent {
  TAVRIX_CLASS(TPicture)

 public:
  TPicture() = default;
  ~TPicture() override;

  // The graphic, owned by the picture, or nullptr.
  TGraphic* Graphic() const { return FGraphic.get(); }
  // Takes a copy of value (of the same class); nullptr empties the picture.
  void SetGraphic(const TGraphic* value);
  // The graphic as a bitmap; a picture that holds something else, or nothing, gets an empty
  // bitmap first.
  TBitmap& Bitmap();
  int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }

  void Assign(const TPersistent& source) override;
  void DefineProperties(TFiler& filer) override;

  // The "Data" value. ReadData raises EInvalidGraphic for an unknown class name and for a
  // length that does not match the data, and leaves the picture as it was when it fails.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;

  std::function<void()> OnChange;

 private:
  void Changed();
  void Adopt(std::unique_ptr<TGraphic> graphic);

  std::unique_ptr<TGraphic> FGraphic;
};
