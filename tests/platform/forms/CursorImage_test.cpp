// Cursor images: their layout, the drawing they are made from, what the reader refuses, the
// cursor resources and the screen's cursor table.
#include "CursorImage.h"

#include <gtest/gtest.h>

#include <array>

#include "Forms.h"
#include "Resources.h"

namespace {

std::string AsString(const auto& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Ten pixels wide, so that each row has unused bits in its second byte.
constexpr std::array<std::string_view, 3> Drawing = {
    "X.o~XXXXX.",
    "oooooooooo",
    "........~X",
};

TEST(CursorImageTest, DrawingIsReadBackPixelForPixelWithItsHotSpot) {
  const auto bytes = CursorImageFromArt<10, 3>(Drawing, 9, 2);
  ASSERT_EQ(bytes.size(), CursorImageHeaderSize + 2 * 3 * 2);
  std::optional<TCursorImage> image = ReadCursorImage(AsString(bytes));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width, 10);
  EXPECT_EQ(image->Height, 3);
  EXPECT_EQ(image->HotX, 9);
  EXPECT_EQ(image->HotY, 2);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 10; ++x) {
      const TCursorPixel expected = Drawing[y][x] == 'X'   ? TCursorPixel::Black
                                    : Drawing[y][x] == 'o' ? TCursorPixel::White
                                    : Drawing[y][x] == '.' ? TCursorPixel::Transparent
                                                           : TCursorPixel::Inverted;
      EXPECT_EQ(image->Pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST(CursorImageTest, LayoutIsHeaderThenAndPlaneThenXorPlaneHighBitFirst) {
  constexpr std::array<std::string_view, 2> drawing = {"X.o~", "...."};
  constexpr auto bytes = CursorImageFromArt<4, 2>(drawing, 3, 1);
  const std::array<uint8_t, 16> expected = {
      'T',  'C',  'U', 'R', 4,    0,    2, 0,
      3,    0,    1,   0,   0x50, 0xF0,  // AND: transparent '.' and inverted '~' in row 0, all of
                                         // row 1
      0x30, 0x00,                        // XOR: white 'o' and inverted '~'
  };
  EXPECT_EQ(bytes, expected);
}

TEST(CursorImageTest, DrawingsThatAreNotImagesRaise) {
  using TRows = std::array<std::string_view, 2>;
  const struct {
    const char* what;
    TRows rows;
    int hotX;
    int hotY;
  } cases[] = {
      {"a row one pixel short", {"XXXX", "XXX"}, 0, 0},
      {"a row one pixel long", {"XXXX", "XXXXX"}, 0, 0},
      {"an unknown character", {"XXXX", "XX#X"}, 0, 0},
      {"hot spot x at the width", {"XXXX", "XXXX"}, 4, 0},
      {"hot spot y at the height", {"XXXX", "XXXX"}, 0, 2},
      {"negative hot spot", {"XXXX", "XXXX"}, -1, 0},
  };
  for (const auto& c : cases) {
    try {
      CursorImageFromArt<4, 2>(c.rows, c.hotX, c.hotY);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const EConvertError&) {
    }
  }
  const TRows good = {"XXXX", "XXXX"};
  EXPECT_TRUE(ReadCursorImage(AsString(CursorImageFromArt<4, 2>(good, 3, 1))));
}

TEST(CursorImageTest, ReaderRefusesBytesThatAreNotAnImageAndNeverReadsPastThem) {
  constexpr std::array<std::string_view, 2> drawing = {"X.o~X", "....."};
  const std::string valid = AsString(CursorImageFromArt<5, 2>(drawing, 4, 1));
  auto with = [&](std::size_t at, uint8_t value) {
    std::string bytes = valid;
    bytes[at] = static_cast<char>(value);
    return bytes;
  };
  auto with16 = [&](std::size_t at, int value) {
    std::string bytes = with(at, static_cast<uint8_t>(value & 0xFF));
    bytes[at + 1] = static_cast<char>(value >> 8);
    return bytes;
  };
  const struct {
    const char* what;
    std::string bytes;
  } refused[] = {
      {"nothing", ""},
      {"header cut short", valid.substr(0, CursorImageHeaderSize - 1)},
      {"another magic", with(3, 'X')},
      {"width 0", with16(4, 0)},
      {"width 257", with16(4, 257)},
      {"height 0", with16(6, 0)},
      {"height 257", with16(6, 257)},
      {"hot spot x at the width", with16(8, 5)},
      {"hot spot y at the height", with16(10, 2)},
      {"planes one byte short", valid.substr(0, valid.size() - 1)},
      {"header alone", valid.substr(0, CursorImageHeaderSize)},
  };
  for (const auto& c : refused) {
    // A copy of exactly that size, so that a read past it is seen by the sanitizers.
    std::vector<char> exact(c.bytes.begin(), c.bytes.end());
    EXPECT_FALSE(ReadCursorImage(std::string_view(exact.data(), exact.size()))) << c.what;
  }
  EXPECT_TRUE(ReadCursorImage(valid));
  EXPECT_TRUE(ReadCursorImage(valid + "trailing bytes"));
  // The largest sides: 256 x 256 with its planes present.
  std::string largest = with16(4, 256);
  largest = largest.substr(0, 6) + std::string("\x00\x01", 2) + largest.substr(8);
  largest.resize(CursorImageHeaderSize + 2 * 32 * 256);
  std::optional<TCursorImage> image = ReadCursorImage(largest);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width, 256);
  EXPECT_EQ(image->Height, 256);
}

TEST(CursorImageTest, CursorResourceIsItsBytesOnlyWhenItIsThereAndIsAnImage) {
  ClearResources();
  constexpr std::array<std::string_view, 1> drawing = {"Xo"};
  const std::string image = AsString(CursorImageFromArt<2, 1>(drawing, 1, 0));
  EXPECT_EQ(LoadCursorResource("POINTER"), "");
  RegisterResource("POINTER", "not a cursor");
  EXPECT_EQ(LoadCursorResource("POINTER"), "");
  RegisterResource("POINTER", image);
  EXPECT_EQ(LoadCursorResource("pointer"), image);
  ClearResources();
}

TEST(ScreenTest, StoringACursorRemovesTheOldEntryAndStoresOnlyAShape) {
  TScreen screen(nullptr);
  EXPECT_EQ(screen.CursorShape(5), nullptr);
  screen.SetCursorShape(5, "first");
  ASSERT_NE(screen.CursorShape(5), nullptr);
  EXPECT_EQ(*screen.CursorShape(5), "first");
  screen.SetCursorShape(5, "second");
  EXPECT_EQ(*screen.CursorShape(5), "second");
  screen.SetCursorShape(6, "other");
  screen.SetCursorShape(5, "");
  EXPECT_EQ(screen.CursorShape(5), nullptr) << "an empty shape leaves the number without entry";
  ASSERT_NE(screen.CursorShape(6), nullptr);
  EXPECT_EQ(*screen.CursorShape(6), "other");
}

}  // namespace
