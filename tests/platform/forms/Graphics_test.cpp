// Bitmaps and pictures: reading and writing Windows bitmap files, malformed files, and the
// picture data that form descriptions store.
#include "Graphics.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// The standard 16-colour palette as a file stores it: blue, green, red, 0.
const uint8_t StandardPaletteBgr[16][4] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0x80, 0x80, 0x80, 0},
    {0xC0, 0xC0, 0xC0, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

// Offsets of the header fields that the tests change.
constexpr std::size_t OffSize = 2;
constexpr std::size_t OffBits = 10;
constexpr std::size_t OffInfoSize = 14;
constexpr std::size_t OffWidth = 18;
constexpr std::size_t OffHeight = 22;
constexpr std::size_t OffPlanes = 26;
constexpr std::size_t OffBitCount = 28;
constexpr std::size_t OffCompression = 30;
constexpr std::size_t OffColoursUsed = 46;

void Put16(TBytes& b, std::size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(TBytes& b, std::size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
uint32_t Get32(const TBytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A bitmap file put together field by field: the palette entries (4 bytes each) and the rows
// as they are stored, bottom row first, each padded here to four bytes.
TBytes BitmapFile(int32_t width, int32_t height, uint16_t bits, const TBytes& palette,
                  const std::vector<TBytes>& storedRows) {
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  const std::size_t offBits = 54 + palette.size();
  TBytes b(offBits + stride * storedRows.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, OffSize, static_cast<uint32_t>(b.size()));
  Put32(b, OffBits, static_cast<uint32_t>(offBits));
  Put32(b, OffInfoSize, 40);
  Put32(b, OffWidth, static_cast<uint32_t>(width));
  Put32(b, OffHeight, static_cast<uint32_t>(height));
  Put16(b, OffPlanes, 1);
  Put16(b, OffBitCount, bits);
  Put32(b, 34, static_cast<uint32_t>(stride * storedRows.size()));
  std::copy(palette.begin(), palette.end(), b.begin() + 54);
  for (std::size_t r = 0; r < storedRows.size(); ++r) {
    std::copy(storedRows[r].begin(), storedRows[r].end(), b.begin() + offBits + r * stride);
  }
  return b;
}

TBytes StandardPalette() {
  TBytes palette;
  for (const auto& entry : StandardPaletteBgr) palette.insert(palette.end(), entry, entry + 4);
  return palette;
}

// A 4-bit file with the standard palette; rows of palette indices as hex digits, top row first.
TBytes FourBitFile(const std::vector<std::string>& rows) {
  std::vector<TBytes> stored;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    TBytes row((it->size() + 1) / 2, 0);
    for (std::size_t x = 0; x < it->size(); ++x) {
      auto index = static_cast<uint8_t>(std::stoi(std::string(1, (*it)[x]), nullptr, 16));
      row[x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
    }
    stored.push_back(row);
  }
  return BitmapFile(static_cast<int32_t>(rows.front().size()), static_cast<int32_t>(rows.size()), 4,
                    StandardPalette(), stored);
}

void Load(TBitmap& bitmap, const TBytes& bytes) {
  // A copy of exactly the given length, so that a read past it is a read past the allocation.
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  bitmap.LoadFromMemory(exact.data(), exact.size());
}

TBytes Save(const TGraphic& graphic) {
  TMemoryStream s;
  graphic.SaveToStream(s);
  return s.Bytes();
}

// The emblem's layout: 50 x 44 at 4 bits, aqua around a figure.
std::vector<std::string> EmblemRows() {
  std::vector<std::string> rows(44, std::string(50, 'e'));
  for (int y = 4; y < 24; ++y) {
    for (int x = 15; x < 35; ++x) rows[y][x] = (x + y) % 2 ? 'c' : 'a';  // blue and lime
  }
  for (int y = 28; y < 40; ++y) {
    for (int x = 10; x < 40; ++x) rows[y][x] = "b34"[(x / 10) % 3];  // yellow, olive, navy
  }
  return rows;
}

TEST(BitmapTest, ReadsFourBitRowsBottomFirstWithTheStandardPalette) {
  // Five pixels a row: the last byte of each row holds one pixel and three bytes of padding.
  TBytes file = FourBitFile({"01234", "56789", "abcde", "fffff"});
  TBitmap bitmap;
  Load(bitmap, file);
  ASSERT_EQ(bitmap.Width(), 5);
  ASSERT_EQ(bitmap.Height(), 4);
  EXPECT_EQ(bitmap.PixelFormat(), pf4bit);
  const uint32_t expected[4][5] = {
      {clBlack, clMaroon, clGreen, clOlive, clNavy},
      {clPurple, clTeal, clGray, clSilver, clRed},
      {clLime, clYellow, clBlue, clFuchsia, clAqua},
      {clWhite, clWhite, clWhite, clWhite, clWhite},
  };
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.Pixel(x, y), expected[y][x]) << x << "," << y;
  }
  ASSERT_EQ(bitmap.Palette().size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(bitmap.Palette()[i], StandardPalette16()[i]);
}

TEST(BitmapTest, StandardPaletteIsInItsClassicOrder) {
  const TColor order[] = {clBlack, clMaroon,  clGreen,  clOlive, clNavy, clPurple,
                          clTeal,  clGray,    clSilver, clRed,   clLime, clYellow,
                          clBlue,  clFuchsia, clAqua,   clWhite};
  ASSERT_EQ(StandardPalette16().size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(StandardPalette16()[i], ColorToRGB(order[i]));
}

TEST(BitmapTest, EmblemSizedFileIs1350BytesAndItsTransparentColourIsTheBottomLeftPixel) {
  std::vector<std::string> rows = EmblemRows();
  rows[43][0] = 'e';
  rows[0][0] = '0';  // the top-left pixel is not the one that counts
  TBytes file = FourBitFile(rows);
  ASSERT_EQ(file.size(), 1350u);
  TBitmap bitmap;
  Load(bitmap, file);
  EXPECT_EQ(bitmap.Width(), 50);
  EXPECT_EQ(bitmap.Height(), 44);
  EXPECT_EQ(bitmap.TransparentColor(), ColorToRGB(clAqua));
  EXPECT_EQ(bitmap.Pixel(20, 10), ColorToRGB(clLime));
  EXPECT_EQ(bitmap.Pixel(21, 10), ColorToRGB(clBlue));
}

TEST(BitmapTest, ReadsOneEightTwentyFourAndThirtyTwoBitsAndTopDownRows) {
  const struct {
    const char* what;
    uint16_t bits;
    int32_t height;  // negative: top row first
    TBytes palette;
    std::vector<TBytes> stored;
    std::vector<uint32_t> pixels;  // top row first, two pixels a row
  } cases[] = {
      {"1 bit",
       1,
       2,
       {0, 0, 0xFF, 0, 0xFF, 0, 0, 0},
       {{0x80}, {0x40}},
       {0x0000FF, 0xFF0000, 0xFF0000, 0x0000FF}},
      {"8 bits, palette of three",
       8,
       1,
       {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0},
       {{2, 1}},
       {0x070809, 0x040506}},
      {"24 bits: blue, green, red",
       24,
       1,
       {},
       {{0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC}},
       {0x112233, 0xAABBCC}},
      {"32 bits",
       32,
       1,
       {},
       {{0x11, 0x22, 0x33, 0x99, 0xAA, 0xBB, 0xCC, 0x99}},
       {0x112233, 0xAABBCC}},
      {"top-down 4 bits",
       4,
       -2,
       StandardPalette(),
       {{0x9A}, {0xCE}},
       {clRed, clLime, clBlue, clAqua}},
  };
  for (const auto& c : cases) {
    TBytes file = BitmapFile(2, c.height, c.bits, c.palette, c.stored);
    if (!c.palette.empty())
      Put32(file, OffColoursUsed, static_cast<uint32_t>(c.palette.size() / 4));
    TBitmap bitmap;
    Load(bitmap, file);
    ASSERT_EQ(bitmap.Width(), 2) << c.what;
    ASSERT_EQ(bitmap.Height(), static_cast<int32_t>(c.pixels.size() / 2)) << c.what;
    std::vector<uint32_t> pixels(bitmap.Pixels().begin(), bitmap.Pixels().end());
    EXPECT_EQ(pixels, c.pixels) << c.what;
  }
}

TEST(BitmapTest, FileCutShortAtEveryByteFailsCleanly) {
  const TBytes file = FourBitFile({"0123456", "789abcd", "eeeeeee"});
  for (std::size_t n = 1; n < file.size(); ++n) {
    TBitmap bitmap;
    try {
      Load(bitmap, TBytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)));
      ADD_FAILURE() << "accepted " << n << " bytes of " << file.size();
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(e.Message().find("cut short"), std::string::npos) << n << ": " << e.Message();
    }
  }
}

TEST(BitmapTest, MalformedHeadersFailWithWhatIsWrong) {
  const struct {
    const char* what;
    std::size_t offset;
    uint32_t value;
    int width;  // 2 or 4 bytes
    const char* message;
  } cases[] = {
      {"signature", 0, 'B' | 'N' << 8, 2, "does not begin with \"BM\""},
      {"core header", OffInfoSize, 12, 4, "information header of 12 bytes"},
      {"header past the end", OffInfoSize, 0x7FFFFFF0, 4, "information header is cut short"},
      {"16 bits", OffBitCount, 16, 2, "16 bits per pixel"},
      {"zero bits", OffBitCount, 0, 2, "0 bits per pixel"},
      {"run-length coded", OffCompression, 2, 4, "compressed"},
      {"two planes", OffPlanes, 2, 2, "2 colour planes"},
      {"zero width", OffWidth, 0, 4, "width of 0"},
      {"negative width", OffWidth, static_cast<uint32_t>(-3), 4, "width of -3"},
      {"huge width", OffWidth, 0x7FFFFFFF, 4, "width of 2147483647"},
      {"zero height", OffHeight, 0, 4, "height of 0"},
      {"lowest height", OffHeight, static_cast<uint32_t>(INT_MIN), 4, "height of -2147483648"},
      {"tall enough to overflow", OffHeight, 32767, 4, "pixels are cut short"},
      {"palette too long", OffColoursUsed, 17, 4, "palette of 17 colours"},
      {"palette beyond the end", OffColoursUsed, 0xFFFFFFFF, 4, "palette of 4294967295"},
      {"pixels inside the palette", OffBits, 60, 4, "overlap the headers"},
      {"pixels past the end", OffBits, 0xFFFFFFFF, 4, "pixels are cut short"},
      {"palette of two, bottom row first", OffColoursUsed, 2, 4,
       "refers to colour 4 of a palette of 2"},
  };
  const TBytes good = FourBitFile({"0123", "4567"});
  for (const auto& c : cases) {
    TBytes file = good;
    if (c.width == 2) {
      Put16(file, c.offset, c.value);
    } else {
      Put32(file, c.offset, c.value);
    }
    TBitmap bitmap;
    try {
      Load(bitmap, file);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << c.what << ": " << e.Message();
      EXPECT_EQ(e.Message().rfind("Bitmap image is not valid: ", 0), 0u) << e.Message();
    }
  }
}

TEST(BitmapTest, FailedLoadLeavesTheBitmapAsItWas) {
  TBitmap bitmap;
  Load(bitmap, FourBitFile({"9a", "bc"}));
  TBytes bad = FourBitFile({"012", "345"});
  Put16(bad, OffBitCount, 16);
  EXPECT_THROW(Load(bitmap, bad), EInvalidGraphic);
  EXPECT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(bitmap.Pixel(1, 1), ColorToRGB(clBlue));
  EXPECT_EQ(Save(bitmap), FourBitFile({"9a", "bc"}));
}

TEST(BitmapTest, LoadedFileIsSavedByteForByteUntilChanged) {
  TBytes file = FourBitFile({"0f0", "f0f"});
  Put32(file, 38, 3780);  // a resolution, which the encoder would not write
  TBitmap bitmap;
  Load(bitmap, file);
  EXPECT_EQ(Save(bitmap), file);
  bitmap.SetPixel(1, 0, ColorToRGB(clBlack));
  EXPECT_EQ(Save(bitmap), FourBitFile({"000", "f0f"})) << "re-encoded in its format and palette";
}

TEST(BitmapTest, EncodesTheSameBytesAsAHandBuiltFourBitFile) {
  const std::vector<std::string> rows = EmblemRows();
  TBitmap bitmap;
  bitmap.SetSize(50, 44);
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 50; ++x) {
      bitmap.SetPixel(x, y,
                      StandardPalette16()[std::stoi(std::string(1, rows[y][x]), nullptr, 16)]);
    }
  }
  bitmap.SetPixelFormat(pf4bit);
  bitmap.SetPalette(StandardPalette16());
  EXPECT_EQ(Save(bitmap), FourBitFile(rows));
}

TEST(BitmapTest, EveryFormatRoundTripsItsPixels) {
  const std::vector<uint32_t> twoColours = {0x000000, 0xFFFFFF};
  const std::vector<uint32_t> manyColours = {0x010203, 0xFFFFFF, 0x102030, 0x808080, 0x00FF00};
  const struct {
    TPixelFormat format;
    const std::vector<uint32_t>& colours;
    uint16_t bits;
  } cases[] = {
      {pf1bit, twoColours, 1},    {pf4bit, manyColours, 4},   {pf8bit, manyColours, 8},
      {pf24bit, manyColours, 24}, {pf32bit, manyColours, 32},
  };
  for (const auto& c : cases) {
    TBitmap bitmap;
    bitmap.SetSize(13, 3);  // 13 pixels: rows need padding at every depth
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 13; ++x) {
        bitmap.SetPixel(x, y, c.colours[static_cast<std::size_t>(x * 3 + y) % c.colours.size()]);
      }
    }
    bitmap.SetPixelFormat(c.format);
    TBytes file = Save(bitmap);
    EXPECT_EQ(file[OffBitCount], c.bits);
    EXPECT_EQ(Get32(file, OffSize), file.size());
    TBitmap back;
    Load(back, file);
    EXPECT_EQ(back.PixelFormat(), c.format);
    EXPECT_TRUE(std::equal(back.Pixels().begin(), back.Pixels().end(), bitmap.Pixels().begin(),
                           bitmap.Pixels().end()))
        << "format " << c.bits;
  }
}

TEST(BitmapTest, EncodingRefusesColoursThatTheFormatCannotHold) {
  TBitmap bitmap;
  bitmap.SetSize(3, 1);
  bitmap.SetPixel(0, 0, 0x112233);
  bitmap.SetPixel(1, 0, 0x445566);
  bitmap.SetPixelFormat(pf1bit);
  EXPECT_THROW(Save(bitmap), EInvalidGraphic) << "three colours for one bit";
  bitmap.SetPixelFormat(pf4bit);
  bitmap.SetPalette(StandardPalette16());
  try {
    Save(bitmap);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "The colour 112233 of pixel (0, 0) is not in the bitmap's palette");
  }
}

TEST(BitmapTest, NoBytesMakeAnEmptyBitmapThatWritesNone) {
  TBitmap bitmap;
  Load(bitmap, FourBitFile({"1"}));
  bitmap.LoadFromMemory(nullptr, 0);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_TRUE(Save(bitmap).empty());
  EXPECT_THROW(bitmap.Pixel(0, 0), EInvalidGraphic);
}

// --- Picture data
// ---------------------------------------------------------------------------------

TBytes PictureData(const std::string& className, const TBytes& file) {
  TBytes data(1 + className.size() + 4 + file.size());
  data[0] = static_cast<uint8_t>(className.size());
  std::copy(className.begin(), className.end(), data.begin() + 1);
  Put32(data, 1 + className.size(), static_cast<uint32_t>(file.size()));
  std::copy(file.begin(), file.end(),
            data.begin() + static_cast<std::ptrdiff_t>(5 + className.size()));
  return data;
}

void ReadPicture(TPicture& picture, const TBytes& data) {
  TReadOnlyMemoryStream s(data.data(), static_cast<int64_t>(data.size()));
  picture.ReadData(s);
}

TEST(PictureTest, DataIsClassNameLengthAndBitmapFile) {
  const TBytes file = FourBitFile(EmblemRows());
  const TBytes data = PictureData("TBitmap", file);
  ASSERT_EQ(data.size(), 1u + 7u + 4u + 1350u);
  TPicture picture;
  ReadPicture(picture, data);
  ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 50);
  EXPECT_EQ(picture.Height(), 44);
  TMemoryStream out;
  picture.WriteData(out);
  EXPECT_EQ(out.Bytes(), data);
}

TEST(PictureTest, DataCutShortAtEveryByteFailsAndKeepsThePicture) {
  const TBytes data = PictureData("TBitmap", FourBitFile({"12", "34"}));
  TPicture picture;
  ReadPicture(picture, PictureData("TBitmap", FourBitFile({"5"})));
  for (std::size_t n = 0; n < data.size(); ++n) {
    try {
      ReadPicture(picture, TBytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n)));
      ADD_FAILURE() << "accepted " << n << " bytes";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Picture data is cut short") << n;
    }
    ASSERT_EQ(picture.Width(), 1) << n;
  }
}

TEST(PictureTest, UnknownClassAndTrailingBytesAreRefused) {
  const TBytes file = FourBitFile({"12"});
  const struct {
    TBytes data;
    const char* message;
  } cases[] = {
      {PictureData("TIcon", file), "Unknown graphic class TIcon in picture data"},
      {PictureData("", file), "Unknown graphic class  in picture data"},
      {[&] {
         TBytes d = PictureData("TBitmap", file);
         d.push_back(0);
         return d;
       }(),
       "Picture data goes on after its graphic"},
  };
  for (const auto& c : cases) {
    TPicture picture;
    try {
      ReadPicture(picture, c.data);
      ADD_FAILURE() << c.message;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(picture.Graphic(), nullptr);
  }
}

TEST(PictureTest, EmptyBitmapIsStoredWithLengthZeroAndReadBack) {
  TPicture picture;
  picture.Bitmap();
  TMemoryStream out;
  picture.WriteData(out);
  EXPECT_EQ(out.Bytes(), PictureData("TBitmap", {}));
  TPicture back;
  ReadPicture(back, out.Bytes());
  ASSERT_NE(back.Graphic(), nullptr);
  EXPECT_TRUE(back.Graphic()->Empty());
}

TEST(PictureTest, AssignCopiesTheGraphicAndChangesCallOnChange) {
  TPicture source;
  TBitmap& bitmap = source.Bitmap();
  Load(bitmap, FourBitFile({"ab"}));
  TPicture copy;
  int changes = 0;
  copy.OnChange = [&changes] { ++changes; };
  copy.Assign(source);
  EXPECT_EQ(changes, 1);
  ASSERT_NE(copy.Graphic(), source.Graphic()) << "a copy, not a shared graphic";
  EXPECT_EQ(copy.Bitmap().Pixel(1, 0), ColorToRGB(clYellow));
  copy.Bitmap().SetPixel(0, 0, 0);
  EXPECT_EQ(changes, 2) << "a change of the graphic reaches the picture";
  EXPECT_EQ(source.Bitmap().Pixel(0, 0), ColorToRGB(clLime));
  copy.SetGraphic(nullptr);
  EXPECT_EQ(copy.Graphic(), nullptr);
  EXPECT_EQ(changes, 3);
}

}  // namespace
