// The resources compiled into the program: the hand cursor's drawing and its registration.
#include "ProgramResources.h"

#include "Graphics.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "CursorImage.h"
#include "Graphics.h"
#include "Resources.h"

namespace {

TCursorImage Hand() {
  std::optional<TCursorImage> image = ReadCursorImage(HandCursorResource());
  if (!image) throw std::runtime_error("HAND is not a cursor image");
  return *image;
}

TEST(HandCursorTest, Is32By32WithItsHotSpotOnTheFingertip) {
  const TCursorImage hand = Hand();
  EXPECT_EQ(hand.Width, 32);
  EXPECT_EQ(hand.Height, 32);
  EXPECT_EQ(hand.HotX, 5);
  EXPECT_EQ(hand.HotY, 0);
  EXPECT_EQ(hand.Pixel(5, 0), TCursorPixel::Black);
  // The top row is the fingertip alone: nothing but the outline around the hot spot.
  for (int x = 0; x < hand.Width; ++x) {
    if (x < 4 || x > 7) {
      EXPECT_EQ(hand.Pixel(x, 0), TCursorPixel::Transparent) << x;
    }
  }
  // The finger goes straight down from there: a white core under the tip, outlined left and
  // right, for the first rows.
  for (int y = 1; y < 5; ++y) {
    EXPECT_EQ(hand.Pixel(4, y), TCursorPixel::Black) << y;
    EXPECT_EQ(hand.Pixel(5, y), TCursorPixel::White) << y;
    EXPECT_EQ(hand.Pixel(7, y), TCursorPixel::Black) << y;
  }
}

TEST(HandCursorTest, IsWhiteInsideABlackOutlineWithNoHoles) {
  const TCursorImage hand = Hand();
  int black = 0;
  int white = 0;
  for (int y = 0; y < hand.Height; ++y) {
    for (int x = 0; x < hand.Width; ++x) {
      const TCursorPixel pixel = hand.Pixel(x, y);
      EXPECT_NE(pixel, TCursorPixel::Inverted) << x << "," << y;
      black += pixel == TCursorPixel::Black;
      if (pixel != TCursorPixel::White) continue;
      ++white;
      // A white pixel never touches the transparent outside or the image's edge.
      const int dx[] = {1, -1, 0, 0};
      const int dy[] = {0, 0, 1, -1};
      for (int i = 0; i < 4; ++i) {
        const int nx = x + dx[i];
        const int ny = y + dy[i];
        ASSERT_TRUE(nx >= 0 && ny >= 0 && nx < hand.Width && ny < hand.Height) << x << "," << y;
        EXPECT_NE(hand.Pixel(nx, ny), TCursorPixel::Transparent) << x << "," << y;
      }
    }
  }
  EXPECT_GT(white, black) << "a white hand, outlined";
  // Every transparent pixel is reached from the edge: no see-through hole inside the hand.
  std::vector<bool> seen(static_cast<std::size_t>(hand.Width * hand.Height));
  std::vector<std::pair<int, int>> todo;
  for (int i = 0; i < hand.Width; ++i) {
    todo.insert(todo.end(), {{i, 0}, {i, hand.Height - 1}, {0, i}, {hand.Width - 1, i}});
  }
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    if (x < 0 || y < 0 || x >= hand.Width || y >= hand.Height) continue;
    auto at = static_cast<std::size_t>(y * hand.Width + x);
    if (seen[at] || hand.Pixel(x, y) != TCursorPixel::Transparent) continue;
    seen[at] = true;
    todo.insert(todo.end(), {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}});
  }
  for (int y = 0; y < hand.Height; ++y) {
    for (int x = 0; x < hand.Width; ++x) {
      if (hand.Pixel(x, y) == TCursorPixel::Transparent) {
        EXPECT_TRUE(seen[static_cast<std::size_t>(y * hand.Width + x)]) << x << "," << y;
      }
    }
  }
}

TEST(ProgramResourcesTest, RegisteringMakesHandALoadableCursor) {
  ClearResources();
  EXPECT_EQ(LoadCursorResource("HAND"), "");
  RegisterProgramResources();
  EXPECT_EQ(LoadCursorResource("HAND"), std::string(HandCursorResource()));
  EXPECT_EQ(LoadCursorResource("hand"), std::string(HandCursorResource()));
  ASSERT_EQ(ProgramResources().size(), 2u);
  EXPECT_EQ(ProgramResources()[0].Name, "HAND");
  EXPECT_EQ(ProgramResources()[1].Name, "MAINICON");
  EXPECT_EQ(FindResource("MainIcon"), MainIconResource());
  ClearResources();
}

TEST(MainIconTest, Is32By32Of16ColoursWithAnAquaBackground) {
  TBitmap icon;
  const std::string_view data = MainIconResource();
  icon.LoadFromMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 32);
  EXPECT_EQ(icon.PixelFormat(), pf4bit);
  EXPECT_EQ(icon.TransparentColor(), ColorToRGB(clAqua)) << "the bottom-left pixel";
  // The globe's sea shows above the screen, the screen's teal glass in front.
  int blue = 0, teal = 0;
  for (uint32_t p : icon.Pixels()) {
    blue += p == ColorToRGB(clBlue);
    teal += p == ColorToRGB(clTeal);
  }
  EXPECT_GT(blue, 50);
  EXPECT_GT(teal, 50);
}

}  // namespace
