// The bevel's frames and lines pixel by pixel, the image's placement and transparency, and both
// through a form description.
#include "ExtCtrls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Forms.h"
#include "ObjectText.h"
#include "RecordingCanvas.h"
#include "TestSupport.h"

namespace {

std::vector<TDrawCall> PaintOf(TForm& form) {
  TRecordingCanvas canvas;
  form.PaintWindow(canvas);
  return canvas.Calls;
}

// The fills that one control painted, laid onto its w x h box: 'S' button shadow, 'H' button
// highlight, '?' any other colour, '.' not painted. A fill that is empty or reaches outside the
// box is a failure of its own: the bevel is to stay inside its box.
std::vector<std::string> Raster(const std::vector<TDrawCall>& calls, int32_t w, int32_t h) {
  std::vector<std::string> rows(static_cast<std::size_t>(h), std::string(w, '.'));
  for (const TDrawCall& c : calls) {
    if (c.Op == "push" || c.Op == "pop") continue;
    if (c.Op != "fill") {
      ADD_FAILURE() << "unexpected " << c.Op;
      continue;
    }
    const TRect& r = c.Rect;
    if (r.Left >= r.Right || r.Top >= r.Bottom || r.Left < 0 || r.Top < 0 || r.Right > w ||
        r.Bottom > h) {
      ADD_FAILURE() << "fill (" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom
                    << ") in a box of " << w << " x " << h;
      continue;
    }
    char pixel = c.Rgb == ColorToRGB(clBtnShadow)      ? 'S'
                 : c.Rgb == ColorToRGB(clBtnHighlight) ? 'H'
                                                       : '?';
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
      for (int32_t x = r.Left; x < r.Right; ++x) rows[y][x] = pixel;
    }
  }
  return rows;
}

std::vector<std::string> PaintBevel(TBevelShape shape, TBevelStyle style, int32_t w, int32_t h) {
  TForm form(nullptr);
  auto* bevel = new TBevel(&form);
  bevel->SetParent(&form);
  bevel->SetBounds(3, 4, w, h);
  bevel->SetShape(shape);
  bevel->SetStyle(style);
  std::vector<TDrawCall> calls = PaintOf(form);
  if (calls.empty() || calls.front().Op != "push" ||
      calls.front().Rect != Rect(3, 4, 3 + w, 4 + h)) {
    ADD_FAILURE() << "painted outside its own box";
  }
  return Raster(calls, w, h);
}

TEST(BevelTest, ShapesAndStylesPaintTheirEdgesPixelForPixel) {
  const struct {
    TBevelShape shape;
    TBevelStyle style;
    int32_t w, h;
    std::vector<std::string> pixels;
  } cases[] = {
      // Etched: highlight (1, 1)-(5, 4), then shadow (0, 0)-(4, 3) over it.
      {bsFrame, bsLowered, 6, 5, {"SSSSS.", "SHHHSH", "SH..SH", "SSSSSH", ".HHHHH"}},
      {bsFrame, bsRaised, 6, 5, {"HHHHH.", "HSSSHS", "HS..HS", "HHHHHS", ".SSSSS"}},
      // Sunken: the top-right and bottom-left corners go to the bottom-right colour.
      {bsBox, bsLowered, 6, 5, {"SSSSSH", "S....H", "S....H", "S....H", "HHHHHH"}},
      {bsBox, bsRaised, 6, 5, {"HHHHHS", "H....S", "H....S", "H....S", "SSSSSS"}},
      {bsTopLine, bsRaised, 5, 4, {"HHHHH", "SSSSS", ".....", "....."}},
      {bsTopLine, bsLowered, 5, 4, {"SSSSS", "HHHHH", ".....", "....."}},
      {bsBottomLine, bsRaised, 5, 4, {".....", ".....", "HHHHH", "SSSSS"}},
      {bsBottomLine, bsLowered, 5, 4, {".....", ".....", "SSSSS", "HHHHH"}},
      {bsLeftLine, bsLowered, 4, 3, {"SH..", "SH..", "SH.."}},
      {bsLeftLine, bsRaised, 4, 3, {"HS..", "HS..", "HS.."}},
      {bsRightLine, bsLowered, 4, 3, {"..SH", "..SH", "..SH"}},
      {bsRightLine, bsRaised, 4, 3, {"..HS", "..HS", "..HS"}},
      {bsSpacer, bsRaised, 4, 3, {"....", "....", "...."}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PaintBevel(c.shape, c.style, c.w, c.h), c.pixels)
        << "shape " << c.shape << ", style " << c.style;
  }
}

TEST(BevelTest, BoxesTooSmallForAnEdgeGetNoEmptyOrOutsideFills) {
  for (int shape = bsBox; shape <= bsSpacer; ++shape) {
    for (TBevelStyle style : {bsLowered, bsRaised}) {
      for (int32_t w = 0; w <= 2; ++w) {
        for (int32_t h = 0; h <= 2; ++h) {
          SCOPED_TRACE(testing::Message() << "shape " << shape << ", " << w << " x " << h);
          PaintBevel(static_cast<TBevelShape>(shape), style, w, h);
        }
      }
    }
  }
}

TEST(BevelTest, SplashPageFrameAndLinesAtTheirOwnSizes) {
  // The etched frame of 385 x 193.
  std::vector<std::string> frame = PaintBevel(bsFrame, bsLowered, 385, 193);
  const struct {
    int32_t x, y;
    char pixel;
  } points[] = {
      {0, 0, 'S'},     {383, 0, 'S'},   {384, 0, '.'},   {384, 1, 'H'}, {1, 1, 'H'},
      {382, 1, 'H'},   {383, 1, 'S'},   {0, 191, 'S'},   {0, 192, '.'}, {1, 192, 'H'},
      {383, 191, 'S'}, {384, 192, 'H'}, {384, 191, 'H'}, {2, 2, '.'},   {192, 96, '.'},
      {1, 190, 'H'},   {382, 190, '.'},
  };
  for (const auto& p : points) EXPECT_EQ(frame[p.y][p.x], p.pixel) << p.x << ", " << p.y;

  const std::string highlight(369, 'H'), shadow(369, 'S'), untouched(369, '.');
  std::vector<std::string> top = PaintBevel(bsTopLine, bsRaised, 369, 9);
  std::vector<std::string> bottom = PaintBevel(bsBottomLine, bsRaised, 369, 9);
  for (std::size_t y = 0; y < 9; ++y) {
    EXPECT_EQ(top[y], y == 0 ? highlight : y == 1 ? shadow : untouched) << "top line row " << y;
    EXPECT_EQ(bottom[y], y == 7   ? highlight
                         : y == 8 ? shadow
                                  : untouched)
        << "bottom line row " << y;
  }
}

// --- TImage
// ---------------------------------------------------------------------------------------

// A bitmap of w x h in one colour, with another at its bottom-left pixel.
void Fill(TBitmap& bitmap, int32_t w, int32_t h, uint32_t colour, uint32_t bottomLeft) {
  bitmap.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) bitmap.SetPixel(x, y, colour);
  }
  bitmap.SetPixel(0, h - 1, bottomLeft);
}

TEST(ImageTest, PlacesThePictureAtTheCornerInTheMiddleOrOverTheWholeBox) {
  const struct {
    int32_t boxW, boxH, picW, picH;
    bool center, stretch;
    TRect dest;
  } cases[] = {
      {65, 57, 50, 44, false, false, Rect(0, 0, 50, 44)},
      {65, 57, 50, 44, true, false, Rect(7, 6, 57, 50)},  // the half pixel dropped
      {66, 58, 50, 44, true, false, Rect(8, 7, 58, 51)},
      {10, 10, 15, 13, true, false, Rect(-2, -1, 13, 12)},  // larger than its box: halves too
      {65, 57, 50, 44, false, true, Rect(0, 0, 65, 57)},
      {65, 57, 50, 44, true, true, Rect(0, 0, 65, 57)},  // stretching wins over centring
  };
  for (const auto& c : cases) {
    TForm form(nullptr);
    auto* image = new TImage(&form);
    image->SetParent(&form);
    image->SetBounds(16, 16, c.boxW, c.boxH);
    image->SetCenter(c.center);
    image->SetStretch(c.stretch);
    Fill(image->Picture().Bitmap(), c.picW, c.picH, clBlue, clAqua);
    EXPECT_EQ(image->DestRect(), c.dest);
    std::vector<TDrawCall> calls = PaintOf(form);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].Rect, Rect(16, 16, 16 + c.boxW, 16 + c.boxH));
    EXPECT_EQ(calls[1].Op, "bitmap");
    EXPECT_EQ(calls[1].Rect, c.dest);
    EXPECT_EQ(calls[1].Source.cx, c.picW);
    EXPECT_EQ(calls[1].Source.cy, c.picH);
    EXPECT_FALSE(calls[1].Transparent);
  }
}

TEST(ImageTest, TransparentColourIsTheBottomLeftPixelsWhenSetBeforeOrAfterThePicture) {
  TForm form(nullptr);
  auto* image = new TImage(&form);
  image->SetParent(&form);
  image->SetTransparent(true);
  // A picture that arrives later (as when a description stores Transparent first) takes it too.
  TBitmap bitmap;
  Fill(bitmap, 4, 3, clBlue, clAqua);
  image->Picture().SetGraphic(&bitmap);
  std::vector<TDrawCall> calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(calls[1].Transparent);
  EXPECT_EQ(calls[1].Rgb, ColorToRGB(clAqua));

  image->SetTransparent(false);
  calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_FALSE(calls[1].Transparent);

  image->SetTransparent(true);
  Fill(image->Picture().Bitmap(), 4, 3, clAqua, clYellow);
  calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(calls[1].Transparent);
  EXPECT_EQ(calls[1].Rgb, ColorToRGB(clYellow));
}

TEST(ImageTest, EmptyPictureDrawsNothing) {
  TForm form(nullptr);
  auto* image = new TImage(&form);
  image->SetParent(&form);
  EXPECT_EQ(PaintOf(form).size(), 2u) << "no graphic";
  image->Picture().Bitmap();
  EXPECT_EQ(PaintOf(form).size(), 2u) << "an empty bitmap";
}

// --- Through a form description -----------------------------------------------------------------

TBytes Describe(TComponent& root) {
  TMemoryStream s;
  WriteComponentToStream(s, &root);
  return s.Bytes();
}

void ReadInto(const TBytes& bytes, TComponent& root) {
  TReadOnlyMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  ReadComponentFromStream(s, &root);
}

std::string AsText(const TBytes& bytes) {
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TMemoryStream out;
  ObjectBinaryToText(in, out);
  return std::string(out.Bytes().begin(), out.Bytes().end());
}

// A splash-page corner: an etched frame, a raised line, the emblem-sized image and an image
// without a picture. The form has no fields for them: their classes come from the registry.
std::unique_ptr<TForm> MakeSplash() {
  auto form = std::make_unique<TForm>(nullptr);
  form->SetName("Form1");
  auto* frame = new TBevel(form.get());
  frame->SetName("Bevel1");
  frame->SetParent(form.get());
  frame->SetBounds(8, 8, 385, 193);
  frame->SetShape(bsFrame);
  auto* line = new TBevel(form.get());
  line->SetName("Bevel2");
  line->SetParent(form.get());
  line->SetShape(bsTopLine);
  line->SetStyle(bsRaised);
  auto* image = new TImage(form.get());
  image->SetName("Image1");
  image->SetParent(form.get());
  image->SetBounds(16, 16, 65, 57);
  image->SetCenter(true);
  image->SetTransparent(true);
  TBitmap& bitmap = image->Picture().Bitmap();
  Fill(bitmap, 50, 44, clLime, clAqua);
  bitmap.SetPixelFormat(pf4bit);
  bitmap.SetPalette(StandardPalette16());
  auto* plain = new TImage(form.get());
  plain->SetName("Image2");
  plain->SetParent(form.get());
  return form;
}

TEST(ImageTest, BevelsAndPictureDataSurviveAFormDescription) {
  std::unique_ptr<TForm> form = MakeSplash();
  const TBytes bytes = Describe(*form);

  const std::string text = AsText(bytes);
  EXPECT_NE(text.find("Shape = bsFrame"), std::string::npos) << text;
  EXPECT_NE(text.find("Shape = bsTopLine"), std::string::npos);
  EXPECT_NE(text.find("Style = bsRaised"), std::string::npos);
  EXPECT_EQ(text.find("bsLowered"), std::string::npos) << "the default is not stored";
  EXPECT_NE(text.find("Center = True"), std::string::npos);
  EXPECT_NE(text.find("Transparent = True"), std::string::npos);
  EXPECT_EQ(text.find("Stretch"), std::string::npos);
  const std::size_t data = text.find("Picture.Data = {");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(text.find("Picture.Data", data + 1), std::string::npos) << "Image2 has none";
  // "TBitmap" with its length byte, then 1350 (0x546) as four bytes, then the file's "BM".
  EXPECT_NE(text.find("07544269746D61704605000042"), std::string::npos) << text;

  TForm back(nullptr);
  ReadInto(bytes, back);
  auto* frame = dynamic_cast<TBevel*>(back.FindComponent("Bevel1"));
  auto* line = dynamic_cast<TBevel*>(back.FindComponent("Bevel2"));
  auto* image = dynamic_cast<TImage*>(back.FindComponent("Image1"));
  auto* plain = dynamic_cast<TImage*>(back.FindComponent("Image2"));
  ASSERT_TRUE(frame && line && image && plain);
  EXPECT_EQ(frame->Shape(), bsFrame);
  EXPECT_EQ(frame->Style(), bsLowered);
  EXPECT_EQ(frame->BoundsRect(), Rect(8, 8, 393, 201));
  EXPECT_EQ(line->Shape(), bsTopLine);
  EXPECT_EQ(line->Style(), bsRaised);
  EXPECT_TRUE(image->Center());
  EXPECT_TRUE(image->Transparent());
  EXPECT_EQ(plain->Picture().Graphic(), nullptr);
  TBitmap& bitmap = image->Picture().Bitmap();
  ASSERT_EQ(bitmap.Width(), 50);
  ASSERT_EQ(bitmap.Height(), 44);
  EXPECT_EQ(bitmap.PixelFormat(), pf4bit);
  EXPECT_EQ(bitmap.Pixel(0, 43), ColorToRGB(clAqua));
  EXPECT_EQ(bitmap.Pixel(49, 0), ColorToRGB(clLime));
  EXPECT_EQ(image->DestRect(), Rect(7, 6, 57, 50));
  EXPECT_EQ(Describe(back), bytes) << "read and written again byte for byte";
}

TEST(ImageTest, MalformedPictureDataNamesTheImageAndTheProperty) {
  std::unique_ptr<TForm> form = MakeSplash();
  TBytes bytes = Describe(*form);
  const std::string marker = "TBitmap";
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  // Past the name and the length: the file, whose bit count sits 28 bytes in.
  const auto bitCount = static_cast<std::size_t>(at - bytes.begin()) + marker.size() + 4 + 28;
  ASSERT_EQ(bytes[bitCount], 4);
  bytes[bitCount] = 16;
  TForm back(nullptr);
  try {
    ReadInto(bytes, back);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(),
              "Error reading Image1.Picture.Data: Bitmap image is not valid: 16 bits per pixel "
              "are not supported");
  }
}

}  // namespace
