#include "Graphics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

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
  void DrawBitmap(const TRect&, const TBitmap&, bool, uint32_t) override {}
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

void TCanvas::Draw(int32_t x, int32_t y, const TGraphic& graphic) {
  StretchDraw(Rect(x, y, x + graphic.Width(), y + graphic.Height()), graphic);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
  if (FPeer && !graphic.Empty()) graphic.Draw(*this, rect);
}

// --- TGraphic ------------------------------------------------------------------------------------

const TClassInfo& TGraphic::StaticClassInfo() {
  static const TClassInfo info{"TGraphic", &TPersistent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

void TGraphic::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  Changed();
}

void TGraphic::Changed() {
  if (OnChange) OnChange();
}

// --- TBitmap -------------------------------------------------------------------------------------

namespace {

constexpr uint32_t StandardColours[] = {clBlack, clMaroon,  clGreen,  clOlive, clNavy, clPurple,
                                        clTeal,  clGray,    clSilver, clRed,   clLime, clYellow,
                                        clBlue,  clFuchsia, clAqua,   clWhite};

// Bits per pixel of each TPixelFormat, in its order.
constexpr uint16_t FormatBits[] = {1, 4, 8, 24, 32};

constexpr std::size_t FileHeaderSize = 14;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0;

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t bytes[2];
  StoreLE16(bytes, static_cast<uint16_t>(v));
  out.insert(out.end(), bytes, bytes + 2);
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t bytes[4];
  StoreLE32(bytes, v);
  out.insert(out.end(), bytes, bytes + 4);
}

// Palette entries and 24/32-bit pixels are stored blue, green, red.
uint32_t RgbOfBgr(const uint8_t* p) {
  return static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[0]) << 16;
}
void PutBgr(uint8_t* p, uint32_t rgb) {
  p[0] = static_cast<uint8_t>(rgb >> 16);
  p[1] = static_cast<uint8_t>(rgb >> 8);
  p[2] = static_cast<uint8_t>(rgb);
}

// Bytes per stored row: the bits of a row padded to a multiple of 32.
uint64_t RowStride(int64_t width, uint16_t bits) {
  return (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
}

[[noreturn]] void BadBitmap(const std::string& why) {
  throw EInvalidGraphic("Bitmap image is not valid: " + why);
}

struct TDecodedBitmap {
  int32_t Width = 0;
  int32_t Height = 0;
  TPixelFormat Format = pf24bit;
  std::vector<uint32_t> Palette;
  std::vector<uint32_t> Pixels;
};

// Every offset and length is checked against size before the bytes there are read.
TDecodedBitmap DecodeBitmapFile(const uint8_t* data, std::size_t size) {
  if (size < FileHeaderSize) BadBitmap("the file header is cut short");
  if (data[0] != 'B' || data[1] != 'M') BadBitmap("it does not begin with \"BM\"");
  const uint64_t offBits = LoadLE32(data + 10);
  if (size < FileHeaderSize + 4) BadBitmap("the information header is cut short");
  const uint64_t infoSize = LoadLE32(data + FileHeaderSize);
  if (infoSize < InfoHeaderSize) {
    BadBitmap(Format("an information header of %d bytes is not supported",
                     {static_cast<long long>(infoSize)}));
  }
  if (infoSize > size - FileHeaderSize) BadBitmap("the information header is cut short");
  const uint8_t* info = data + FileHeaderSize;
  const int64_t width = static_cast<int32_t>(LoadLE32(info + 4));
  const int64_t height = static_cast<int32_t>(LoadLE32(info + 8));
  const uint16_t planes = LoadLE16(info + 12);
  const uint16_t bits = LoadLE16(info + 14);
  const uint32_t compression = LoadLE32(info + 16);
  const uint64_t coloursUsed = LoadLE32(info + 32);

  TDecodedBitmap result;
  const auto* format = std::find(std::begin(FormatBits), std::end(FormatBits), bits);
  if (format == std::end(FormatBits)) {
    BadBitmap(Format("%d bits per pixel are not supported", {static_cast<int>(bits)}));
  }
  result.Format = static_cast<TPixelFormat>(format - std::begin(FormatBits));
  if (planes != 1) BadBitmap(Format("it has %d colour planes", {static_cast<int>(planes)}));
  if (compression != BI_RGB) BadBitmap("compressed bitmaps are not supported");
  if (width <= 0 || width > TBitmap::MaxSide) {
    BadBitmap(Format("a width of %d is out of range", {static_cast<long long>(width)}));
  }
  const int64_t rows = height < 0 ? -height : height;
  if (rows == 0 || rows > TBitmap::MaxSide) {
    BadBitmap(Format("a height of %d is out of range", {static_cast<long long>(height)}));
  }

  const uint64_t paletteStart = FileHeaderSize + infoSize;
  uint64_t paletteEnd = paletteStart;
  if (bits <= 8) {
    const uint64_t maxColours = uint64_t{1} << bits;
    const uint64_t count = coloursUsed == 0 ? maxColours : coloursUsed;
    if (count > maxColours) {
      BadBitmap(Format("a palette of %d colours is too long for %d bits per pixel",
                       {static_cast<long long>(count), static_cast<int>(bits)}));
    }
    paletteEnd = paletteStart + 4 * count;
    if (paletteEnd > size) BadBitmap("the palette is cut short");
    for (uint64_t i = 0; i < count; ++i)
      result.Palette.push_back(RgbOfBgr(data + paletteStart + 4 * i));
  }
  if (offBits < paletteEnd) BadBitmap("the pixels overlap the headers");
  const uint64_t stride = RowStride(width, bits);
  if (offBits > size || stride * static_cast<uint64_t>(rows) > size - offBits) {
    BadBitmap("the pixels are cut short");
  }

  result.Width = static_cast<int32_t>(width);
  result.Height = static_cast<int32_t>(rows);
  result.Pixels.resize(static_cast<std::size_t>(width * rows));
  const auto paletteSize = static_cast<uint32_t>(result.Palette.size());
  for (int64_t r = 0; r < rows; ++r) {
    const uint8_t* row = data + offBits + stride * static_cast<uint64_t>(r);
    // Rows are stored bottom first unless the height is negative.
    const int64_t y = height > 0 ? rows - 1 - r : r;
    uint32_t* out = result.Pixels.data() + y * width;
    for (int64_t x = 0; x < width; ++x) {
      uint32_t index = 0;
      switch (bits) {
        case 1:
          index = (row[x >> 3] >> (7 - (x & 7))) & 1u;
          break;
        case 4:
          index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu;
          break;
        case 8:
          index = row[x];
          break;
        case 24:
          out[x] = RgbOfBgr(row + 3 * x);
          continue;
        default:
          out[x] = RgbOfBgr(row + 4 * x);
          continue;
      }
      if (index >= paletteSize) {
        BadBitmap(Format("a pixel refers to colour %d of a palette of %d",
                         {static_cast<long long>(index), static_cast<long long>(paletteSize)}));
      }
      out[x] = result.Palette[index];
    }
  }
  return result;
}

}  // namespace

std::span<const uint32_t> StandardPalette16() { return StandardColours; }

const TClassInfo& TBitmap::StaticClassInfo() {
  static const TClassInfo info{"TBitmap", &TGraphic::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

void TBitmap::SetSize(int32_t width, int32_t height) {
  if (width < 0 || height < 0 || width > MaxSide || height > MaxSide) {
    throw EInvalidGraphic(Format("A bitmap of %d x %d pixels cannot be made", {width, height}));
  }
  FPixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  FWidth = width;
  FHeight = height;
  Modified();
}

uint32_t TBitmap::Pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) {
    throw EInvalidGraphic(Format("Pixel (%d, %d) lies outside the bitmap", {x, y}));
  }
  return FPixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
                 static_cast<std::size_t>(x)];
}

void TBitmap::SetPixel(int32_t x, int32_t y, uint32_t rgb) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) {
    throw EInvalidGraphic(Format("Pixel (%d, %d) lies outside the bitmap", {x, y}));
  }
  FPixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
          static_cast<std::size_t>(x)] = rgb & 0x00FFFFFFu;
  Modified();
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == FPixelFormat) return;
  FPixelFormat = value;
  Modified();
}

void TBitmap::SetPalette(std::span<const uint32_t> colours) {
  FPalette.clear();
  for (uint32_t c : colours) FPalette.push_back(c & 0x00FFFFFFu);
  Modified();
}

uint32_t TBitmap::TransparentColor() const { return Empty() ? 0 : Pixel(0, FHeight - 1); }

void TBitmap::Modified() {
  FFile.clear();
  Changed();
}

void TBitmap::LoadFromMemory(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    // No bytes at all stand for an empty bitmap, as an empty one writes none.
    FWidth = 0;
    FHeight = 0;
    FPixels.clear();
    FPalette.clear();
    FPixelFormat = pf24bit;
    FFile.clear();
    Changed();
    return;
  }
  TDecodedBitmap decoded = DecodeBitmapFile(data, size);
  std::vector<uint8_t> file(data, data + size);
  FWidth = decoded.Width;
  FHeight = decoded.Height;
  FPixels = std::move(decoded.Pixels);
  FPalette = std::move(decoded.Palette);
  FPixelFormat = decoded.Format;
  FFile = std::move(file);
  Changed();
}

void TBitmap::LoadFromStream(TStream& stream) {
  int64_t remaining = stream.Size() - stream.Position();
  if (remaining < 0) remaining = 0;
  if (remaining > std::numeric_limits<int32_t>::max()) BadBitmap("the file is too large");
  std::vector<uint8_t> bytes(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(bytes.data(), static_cast<int32_t>(remaining));
  LoadFromMemory(bytes.data(), bytes.size());
}

std::vector<uint8_t> TBitmap::Encode() const {
  const uint16_t bits = FormatBits[FPixelFormat];
  std::vector<uint32_t> palette;
  std::unordered_map<uint32_t, uint32_t> indexOf;
  if (bits <= 8) {
    const std::size_t maxColours = std::size_t{1} << bits;
    if (!FPalette.empty()) {
      if (FPalette.size() > maxColours) {
        throw EInvalidGraphic(Format("A palette of %d colours does not fit %d bits per pixel",
                                     {static_cast<long long>(FPalette.size()), bits}));
      }
      palette = FPalette;
      // The first entry of a colour is the one used.
      for (std::size_t i = palette.size(); i-- > 0;) indexOf[palette[i]] = static_cast<uint32_t>(i);
    } else {
      for (uint32_t c : FPixels) {
        if (indexOf.contains(c)) continue;
        if (palette.size() == maxColours) {
          throw EInvalidGraphic(Format("The bitmap has more than %d colours for %d bits per pixel",
                                       {static_cast<long long>(maxColours), bits}));
        }
        indexOf[c] = static_cast<uint32_t>(palette.size());
        palette.push_back(c);
      }
      // A palette needs one colour at least.
      if (palette.empty()) palette.push_back(0);
    }
  }
  const uint64_t stride = RowStride(FWidth, bits);
  const uint64_t offBits = FileHeaderSize + InfoHeaderSize + 4 * palette.size();
  const uint64_t imageSize = stride * static_cast<uint64_t>(FHeight);
  if (offBits + imageSize > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw EInvalidGraphic("The bitmap is too large to store");
  }
  std::vector<uint8_t> out;
  out.reserve(static_cast<std::size_t>(offBits + imageSize));
  out.push_back('B');
  out.push_back('M');
  PutU32(out, static_cast<uint32_t>(offBits + imageSize));
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(offBits));
  PutU32(out, InfoHeaderSize);
  PutU32(out, static_cast<uint32_t>(FWidth));
  PutU32(out, static_cast<uint32_t>(FHeight));
  PutU16(out, 1);
  PutU16(out, bits);
  PutU32(out, BI_RGB);
  PutU32(out, static_cast<uint32_t>(imageSize));
  PutU32(out, 0);  // no resolution given
  PutU32(out, 0);
  // A full palette is written as "all colours" (0).
  PutU32(out, bits <= 8 && palette.size() < (std::size_t{1} << bits)
                  ? static_cast<uint32_t>(palette.size())
                  : 0);
  PutU32(out, 0);
  for (uint32_t c : palette) {
    uint8_t entry[4] = {0, 0, 0, 0};
    PutBgr(entry, c);
    out.insert(out.end(), entry, entry + 4);
  }
  out.resize(static_cast<std::size_t>(offBits + imageSize), 0);
  for (int32_t r = 0; r < FHeight; ++r) {
    uint8_t* row = out.data() + offBits + stride * static_cast<uint64_t>(r);
    const uint32_t* in = FPixels.data() + static_cast<std::size_t>(FHeight - 1 - r) *
                                              static_cast<std::size_t>(FWidth);
    for (int32_t x = 0; x < FWidth; ++x) {
      if (bits > 8) {
        PutBgr(row + (bits / 8) * x, in[x]);
        continue;
      }
      auto found = indexOf.find(in[x]);
      if (found == indexOf.end()) {
        throw EInvalidGraphic(
            Format("The colour %x of pixel (%d, %d) is not in the bitmap's palette",
                   {static_cast<long long>(in[x]), x, FHeight - 1 - r}));
      }
      const uint32_t index = found->second;
      if (bits == 1) {
        row[x >> 3] |= static_cast<uint8_t>(index << (7 - (x & 7)));
      } else if (bits == 4) {
        row[x >> 1] |= static_cast<uint8_t>(index << ((x & 1) ? 0 : 4));
      } else {
        row[x] = static_cast<uint8_t>(index);
      }
    }
  }
  return out;
}

void TBitmap::SaveToStream(TStream& stream) const {
  if (Empty()) return;
  if (!FFile.empty()) {
    stream.WriteBuffer(FFile.data(), static_cast<int32_t>(FFile.size()));
    return;
  }
  std::vector<uint8_t> file = Encode();
  stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
}

void TBitmap::Draw(TCanvas& canvas, const TRect& dest) const {
  if (TCanvasPeer* peer = canvas.Peer(); peer && !Empty()) {
    peer->DrawBitmap(dest, *this, Transparent(), TransparentColor());
  }
}

void TBitmap::Assign(const TPersistent& source) {
  const auto* bitmap = dynamic_cast<const TBitmap*>(&source);
  if (!bitmap) {
    TGraphic::Assign(source);
    return;
  }
  if (bitmap == this) return;
  FWidth = bitmap->FWidth;
  FHeight = bitmap->FHeight;
  FPixels = bitmap->FPixels;
  FPixelFormat = bitmap->FPixelFormat;
  FPalette = bitmap->FPalette;
  FFile = bitmap->FFile;
  SetTransparent(bitmap->Transparent());
  Changed();
}

// --- TPicture ------------------------------------------------------------------------------------

namespace {

// The graphic classes that picture data may name.
struct TGraphicClass {
  const char* Name;
  std::unique_ptr<TGraphic> (*Create)();
};
const TGraphicClass GraphicClasses[] = {
    {"TBitmap", []() -> std::unique_ptr<TGraphic> { return std::make_unique<TBitmap>(); }},
};

std::unique_ptr<TGraphic> CreateGraphic(std::string_view className) {
  for (const TGraphicClass& c : GraphicClasses) {
    if (SameText(c.Name, className)) return c.Create();
  }
  throw EInvalidGraphic(Format("Unknown graphic class %s in picture data", {className}));
}

[[noreturn]] void PictureDataCutShort() { throw EInvalidGraphic("Picture data is cut short"); }

}  // namespace

const TClassInfo& TPicture::StaticClassInfo() {
  static const TClassInfo info{"TPicture", &TPersistent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

TPicture::~TPicture() {
  // The graphic must not call back into an owner that is going away.
  if (FGraphic) FGraphic->OnChange = nullptr;
}

void TPicture::Changed() {
  if (OnChange) OnChange();
}

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
  if (FGraphic) FGraphic->OnChange = nullptr;
  FGraphic = std::move(graphic);
  if (FGraphic) FGraphic->OnChange = [this] { Changed(); };
  Changed();
}

void TPicture::SetGraphic(const TGraphic* value) {
  if (value == FGraphic.get()) return;
  if (!value) {
    Adopt(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy = CreateGraphic(value->ClassName());
  copy->Assign(*value);
  Adopt(std::move(copy));
}

TBitmap& TPicture::Bitmap() {
  if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get())) return *bitmap;
  Adopt(std::make_unique<TBitmap>());
  return static_cast<TBitmap&>(*FGraphic);
}

void TPicture::Assign(const TPersistent& source) {
  if (const auto* picture = dynamic_cast<const TPicture*>(&source)) {
    SetGraphic(picture->Graphic());
  } else if (const auto* graphic = dynamic_cast<const TGraphic*>(&source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data", [this](TStream& s) { ReadData(s); }, [this](TStream& s) { WriteData(s); },
      FGraphic != nullptr);
}

void TPicture::ReadData(TStream& stream) {
  int64_t remaining = stream.Size() - stream.Position();
  uint8_t nameLength = 0;
  if (remaining < 1) PictureDataCutShort();
  stream.ReadBuffer(&nameLength, 1);
  remaining -= 1;
  if (remaining < nameLength + 4) PictureDataCutShort();
  std::string className(nameLength, '\0');
  stream.ReadBuffer(className.data(), nameLength);
  uint8_t lengthBytes[4];
  stream.ReadBuffer(lengthBytes, 4);
  remaining -= nameLength + 4;
  const int64_t length = LoadLE32(lengthBytes);
  if (length > remaining) PictureDataCutShort();
  if (length < remaining) throw EInvalidGraphic("Picture data goes on after its graphic");
  std::unique_ptr<TGraphic> graphic = CreateGraphic(className);
  graphic->LoadFromStream(stream);
  Adopt(std::move(graphic));
}

void TPicture::WriteData(TStream& stream) const {
  if (!FGraphic) return;
  const std::string name = FGraphic->ClassName();
  TMemoryStream file;
  FGraphic->SaveToStream(file);
  const auto length = static_cast<uint32_t>(file.Size());
  const auto nameLength = static_cast<uint8_t>(name.size());
  stream.WriteBuffer(&nameLength, 1);
  stream.WriteBuffer(name.data(), nameLength);
  uint8_t lengthBytes[4];
  StoreLE32(lengthBytes, length);
  stream.WriteBuffer(lengthBytes, 4);
  stream.WriteBuffer(file.Memory(), static_cast<int32_t>(file.Size()));
}
