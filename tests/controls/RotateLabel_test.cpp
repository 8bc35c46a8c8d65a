// The rotated label: its arithmetic on given caption sizes (folding of the escapement, the origin
// offsets and bounding box of a turned caption, the shift of an aligned one), its properties, what
// it paints on a recording canvas, and its form descriptions.
#include "RotateLabel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Forms.h"
#include "ObjectText.h"
#include "RecordingCanvas.h"

namespace {

TEST(RotateLabelTest, EscapementFoldsIntoOneTurn) {
  const struct {
    int32_t value;
    int32_t folded;
  } cases[] = {
      {-720, 0}, {-361, 359}, {-360, 0}, {-1, 359},  {0, 0},
      {45, 45},  {360, 360},  {361, 1},  {720, 360}, {1000, 280},
  };
  for (const auto& c : cases) EXPECT_EQ(FoldEscapement(c.value), c.folded) << c.value;
}

TEST(RotateLabelTest, TurnedCellOffsetsAndBoxAtEveryQuadrant) {
  const struct {
    int32_t angle, width, height;
    TRotatedCell cell;  // Dx, Dy, box width, box height
  } cases[] = {
      {3, 200, 20, {0, 10, 200, 29}},
      {45, 100, 20, {0, 70, 84, 84}},
      {90, 100, 20, {0, 100, 20, 100}},  // 0, W, H x W
      {135, 100, 20, {70, 84, 84, 84}},
      {180, 100, 20, {100, 20, 100, 20}},  // W, H, W x H
      {225, 100, 20, {84, 14, 84, 84}},
      // The cosine of the computed 270 degrees is a tiny positive number: H - 1, not H.
      {270, 100, 20, {19, 0, 20, 100}},
      {315, 100, 20, {14, 0, 84, 84}},
      {360, 100, 20, {0, 0, 100, 20}},  // looks level, W x H
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RotateCell(c.angle, c.width, c.height), c.cell) << c.angle << " degrees";
  }
}

TEST(RotateLabelTest, AlignedCaptionShiftsByTheSpareRoom) {
  const struct {
    TAlignment alignment;
    int32_t width, boxWidth, shift;
  } cases[] = {
      {taCenter, 240, 200, 20},       {taCenter, 199, 200, 0},  // -1 / 2 truncates toward zero
      {taCenter, 197, 200, -1},                                 // -3 / 2
      {taRightJustify, 240, 200, 40}, {taLeftJustify, 240, 200, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AlignmentShift(c.alignment, c.width, c.boxWidth), c.shift)
        << c.alignment << " " << c.width;
  }
}

}  // namespace

namespace {

// A rotated label that counts its repaint requests and opens its drawing steps to the tests.
class TCountingRotateLabel : public TRotateLabel {
 public:
  using TRotateLabel::CalcRotatedOrigin;
  using TRotateLabel::TRotateLabel;
  int Invalidations = 0;
  void Invalidate() override {
    ++Invalidations;
    TRotateLabel::Invalidate();
  }
};

// Measures text on a recording canvas (7 pixels a character, 13 high) while it lives.
class TScreenOnRecordingCanvas {
 public:
  TScreenOnRecordingCanvas() { SetScreenCanvasPeer(&FScreen); }
  ~TScreenOnRecordingCanvas() { SetScreenCanvasPeer(nullptr); }
  TScreenOnRecordingCanvas(const TScreenOnRecordingCanvas&) = delete;
  TScreenOnRecordingCanvas& operator=(const TScreenOnRecordingCanvas&) = delete;

 private:
  TRecordingCanvas FScreen;
};

// What the form's windowless children paint, without the form's own state changes.
std::vector<TDrawCall> PaintOf(TForm& form) {
  TRecordingCanvas canvas;
  form.PaintWindow(canvas);
  std::vector<TDrawCall> calls;
  for (const TDrawCall& call : canvas.Calls) {
    if (call.Op != "push" && call.Op != "pop") calls.push_back(call);
  }
  return calls;
}

// A label on a form at (10, 20), 100 x 30, not sizing itself.
struct TLabelOnForm {
  TForm Form{nullptr};
  TCountingRotateLabel* Label = nullptr;
  explicit TLabelOnForm(const std::string& caption = "Ab") {
    Label = new TCountingRotateLabel(&Form);
    Label->SetParent(&Form);
    Label->SetAutoSize(false);
    Label->SetBounds(10, 20, 100, 30);
    Label->SetCaption(caption);
    Label->Font().SetColor(clNavy);
  }
};

TEST(RotateLabelTest, NewLabelIsRaisedAt45DegreesWithItsOwnArialFontAndTheBaseSize) {
  TScreenOnRecordingCanvas screen;  // a font change would size the label to an empty caption
  TForm form(nullptr);
  form.Font().SetName("Times New Roman");
  auto* label = new TRotateLabel(&form);
  EXPECT_EQ(label->Escapement(), 45);
  EXPECT_EQ(label->TextStyle(), tsRaised);
  EXPECT_EQ(label->Width(), 65);
  EXPECT_EQ(label->Height(), 17);
  EXPECT_TRUE(label->AutoSize());
  EXPECT_TRUE(label->ShowAccelChar());
  EXPECT_FALSE(label->Transparent());
  EXPECT_FALSE(label->WordWrap());
  EXPECT_EQ(label->Alignment(), taLeftJustify);
  EXPECT_FALSE(label->ParentFont()) << "the label has a font of its own";
  label->SetParent(&form);
  EXPECT_EQ(label->Font().Name(), "Arial") << "not the parent's font";
}

TEST(RotateLabelTest, EscapementSetterFoldsIntoOneTurn) {
  const struct {
    int32_t value, stored;
  } cases[] = {
      {-720, 0},  {-361, 359}, {-360, 0},  {-1, 359},   {0, 0},
      {360, 360}, {361, 1},    {720, 360}, {1000, 280},
  };
  for (const auto& c : cases) {
    TRotateLabel label(nullptr);
    label.SetEscapement(c.value);
    EXPECT_EQ(label.Escapement(), c.stored) << c.value;
  }
}

TEST(RotateLabelTest, SettersRepaintOnlyWhenTheValueDiffersFromTheStoredOne) {
  TCountingRotateLabel label(nullptr);
  label.SetEscapement(45);
  label.SetTextStyle(tsRaised);
  EXPECT_EQ(label.Invalidations, 0) << "the stored values again";

  label.SetEscapement(405);  // compared before folding: differs from 45, folds to 45
  EXPECT_EQ(label.Escapement(), 45);
  EXPECT_EQ(label.Invalidations, 1);
  label.SetEscapement(90);
  EXPECT_EQ(label.Invalidations, 2);

  label.SetTextStyle(tsRecessed);
  EXPECT_EQ(label.TextStyle(), tsRecessed);
  EXPECT_EQ(label.Invalidations, 3);
  label.SetTextStyle(tsRecessed);
  EXPECT_EQ(label.Invalidations, 3);
}

// One drawn layer: where its rectangle or point is relative to the face's, and its colour.
struct TLayer {
  int32_t offset;
  TColor color;
};

TEST(RotateLabelTest, LayersAreDrawnRightDownThenLeftUpThenTheFace) {
  const struct {
    TTextStyle style;
    bool enabled;
    std::vector<TLayer> layers;
  } cases[] = {
      {tsNone, true, {{0, clNavy}}},
      {tsRaised, true, {{1, clBtnShadow}, {-1, clBtnHighlight}, {0, clNavy}}},
      {tsRecessed, true, {{1, clBtnHighlight}, {-1, clBtnShadow}, {0, clNavy}}},
      // Disabled: the face greys, the layers keep their colours.
      {tsNone, false, {{0, clGrayText}}},
      {tsRaised, false, {{1, clBtnShadow}, {-1, clBtnHighlight}, {0, clGrayText}}},
      {tsRecessed, false, {{1, clBtnHighlight}, {-1, clBtnShadow}, {0, clGrayText}}},
  };
  TScreenOnRecordingCanvas screen;
  for (const int32_t escapement : {0, 90}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "style " << int{c.style} << (c.enabled ? "" : " disabled")
                                      << " escapement " << escapement);
      TLabelOnForm on("abcd");  // 28 x 13: at 90 degrees the line starts 28 down
      on.Label->SetEscapement(escapement);
      on.Label->SetTextStyle(c.style);
      on.Label->SetEnabled(c.enabled);
      const std::vector<TDrawCall> calls = PaintOf(on.Form);
      ASSERT_EQ(calls.size(), c.layers.size() + 1);
      EXPECT_EQ(calls[0].Op, "fill");
      for (std::size_t i = 0; i < c.layers.size(); ++i) {
        const TDrawCall& call = calls[i + 1];
        const int32_t d = c.layers[i].offset;
        EXPECT_EQ(call.Rgb, ColorToRGB(c.layers[i].color)) << "layer " << i;
        EXPECT_EQ(call.Text, "abcd");
        if (escapement == 0) {
          EXPECT_EQ(call.Op, "draw");
          EXPECT_EQ(call.Rect, Rect(d, d, 100 + d, 30 + d)) << "layer " << i;
        } else {
          EXPECT_EQ(call.Op, "text");
          EXPECT_EQ(call.Rect.Left, d) << "layer " << i;
          EXPECT_EQ(call.Rect.Top, 28 + d) << "layer " << i;
        }
      }
    }
  }
}

TEST(RotateLabelTest, OpaqueLabelFillsItsClientRectangleBeforeAnyText) {
  const struct {
    bool transparent;
    TColor color;  // clDefault: the parent's
  } cases[] = {{false, clDefault}, {false, clYellow}, {true, clYellow}};
  for (const auto& c : cases) {
    TLabelOnForm on;
    if (c.color != clDefault) on.Label->SetColor(c.color);
    on.Label->SetTransparent(c.transparent);
    const std::vector<TDrawCall> calls = PaintOf(on.Form);
    ASSERT_FALSE(calls.empty());
    if (c.transparent) {
      for (const TDrawCall& call : calls) EXPECT_NE(call.Op, "fill");
      continue;
    }
    EXPECT_EQ(calls[0].Op, "fill");
    EXPECT_EQ(calls[0].Rect, Rect(0, 0, 100, 30));
    EXPECT_EQ(calls[0].Rgb, ColorToRGB(c.color == clDefault ? clBtnFace : c.color));
    EXPECT_EQ(calls.size(), 4u) << "one fill, three layers";
  }
}

TEST(RotateLabelTest, LevelCaptionTakesAlignmentWordWrapTabAndPrefixFlags) {
  const struct {
    TAlignment alignment;
    bool wordWrap, showAccelChar;
    uint32_t flags;
  } cases[] = {
      {taLeftJustify, false, true, DT_LEFT | DT_EXPANDTABS},
      {taRightJustify, false, true, DT_RIGHT | DT_EXPANDTABS},
      {taCenter, true, true, DT_CENTER | DT_WORDBREAK | DT_EXPANDTABS},
      {taLeftJustify, true, false, DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX},
      {taCenter, false, false, DT_CENTER | DT_EXPANDTABS | DT_NOPREFIX},
  };
  for (const auto& c : cases) {
    TLabelOnForm on("A&b\tc");
    on.Label->SetEscapement(0);
    on.Label->SetAlignment(c.alignment);
    on.Label->SetWordWrap(c.wordWrap);
    on.Label->SetShowAccelChar(c.showAccelChar);
    const std::vector<TDrawCall> calls = PaintOf(on.Form);
    ASSERT_EQ(calls.size(), 4u);
    for (std::size_t i = 1; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].Op, "draw");
      EXPECT_EQ(calls[i].Text, "A&b\tc");
      EXPECT_EQ(calls[i].Flags, c.flags) << c.alignment << " layer " << i;
    }
  }
}

TEST(RotateLabelTest, TurnedCaptionIsOneTextOutPerLayerFromTheTurnedOrigin) {
  TScreenOnRecordingCanvas screen;
  const std::string caption = "a&b\tc\r\nde";  // 9 characters: 63 x 13
  const struct {
    int32_t angle, dx, dy;
  } cases[] = {
      {90, 0, 63},    // 0, W
      {180, 63, 13},  // W, H
      {270, 12, 0},   // H - 1, 0
      {360, 0, 0},    // looks level, still one line
      {30, 0, 31},    // 0, sin 30 x W = 31.5
  };
  for (const auto& c : cases) {
    TLabelOnForm on(caption);
    on.Label->SetWordWrap(true);  // no effect on a turned line
    on.Label->SetEscapement(c.angle);
    on.Label->SetTextStyle(tsNone);
    const std::vector<TDrawCall> calls = PaintOf(on.Form);
    ASSERT_EQ(calls.size(), 2u) << c.angle;
    EXPECT_EQ(calls[1].Op, "text");
    EXPECT_EQ(calls[1].Text, caption) << "drawn as it stands: no prefix, tab or line handling";
    EXPECT_EQ(calls[1].Escapement, c.angle * 10);
    EXPECT_FALSE(calls[1].Opaque);
    EXPECT_EQ(calls[1].Rect.Left, c.dx) << c.angle;
    EXPECT_EQ(calls[1].Rect.Top, c.dy) << c.angle;
    EXPECT_EQ(on.Label->Canvas().Font().Escapement(), 0) << "the canvas's font is put back";
  }
}

TEST(RotateLabelTest, TurnedCaptionIsMeasuredInTheLabelsFontByItsFirst255Characters) {
  TScreenOnRecordingCanvas screen;
  TForm form(nullptr);
  auto* label = new TRotateLabel(&form);
  label->SetParent(&form);
  label->SetEscapement(360);  // offsets (0, 0): the box is the measured W x H
  label->SetTextStyle(tsNone);
  label->SetCaption(std::string(300, 'x'));
  const std::vector<TDrawCall> calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].Text.size(), 300u) << "the whole caption is drawn";
  EXPECT_EQ(label->Width(), 255 * TRecordingCanvas::CharWidth);
  EXPECT_EQ(label->Height(), TRecordingCanvas::LineHeight);
}

TEST(RotateLabelTest, AutoSizeTakesTheTurnedBoxAtTheFirstPaintAndKeepsIt) {
  TScreenOnRecordingCanvas screen;
  TForm form(nullptr);
  auto* label = new TCountingRotateLabel(&form);
  label->SetParent(&form);
  label->SetBounds(16, 48, 241, 28);
  label->SetEscapement(3);
  label->SetCaption(std::string(20, 'w'));  // 140 x 13
  EXPECT_EQ(label->BoundsRect(), Rect(16, 48, 156, 61)) << "the base label's level measure";
  std::vector<TDrawCall> first = PaintOf(form);
  // sin 3 x 140 = 7.33; cos 3 x 140 = 139.8, sin 3 x 13 = 0.68; cos 3 x 13 = 12.98.
  EXPECT_EQ(label->BoundsRect(), Rect(16, 48, 16 + 139, 48 + 7 + 12));
  const int invalidations = label->Invalidations;
  std::vector<TDrawCall> second = PaintOf(form);
  EXPECT_EQ(label->BoundsRect(), Rect(16, 48, 155, 67));
  EXPECT_EQ(label->Invalidations, invalidations) << "the second paint changes nothing";
  ASSERT_EQ(first.size(), 4u);
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0].Rect, Rect(0, 0, 139, 19)) << "the fill covers the new box";
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(second[i].Rect, first[i].Rect) << "the origin is not moved by the resize";
    EXPECT_EQ(second[i].Rect.Top, 7 + (i == 1 ? 1 : i == 2 ? -1 : 0));
  }
}

TEST(RotateLabelTest, TurnedCaptionShiftsRightByTheSpareRoomWhenNotSizingItself) {
  TScreenOnRecordingCanvas screen;
  const struct {
    TAlignment alignment;
    int32_t width, shift;
  } cases[] = {
      // At 90 degrees "abcd" (28 x 13) has a box 13 wide.
      {taLeftJustify, 100, 0},
      {taCenter, 100, 43},  // (100 - 13) / 2
      {taCenter, 10, -1},   // (10 - 13) / 2 truncates toward zero
      {taRightJustify, 100, 87},
  };
  for (const auto& c : cases) {
    TLabelOnForm on("abcd");
    on.Label->SetWidth(c.width);
    on.Label->SetEscapement(90);
    on.Label->SetAlignment(c.alignment);
    const std::vector<TDrawCall> calls = PaintOf(on.Form);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].Rect.Left, c.shift) << c.alignment << " " << c.width;
    EXPECT_EQ(calls[3].Rect.Top, 28);
    EXPECT_EQ(on.Label->Width(), c.width) << "the box is left as it is";
  }
}

// The readable text of a form's description.
std::string DescriptionText(TForm& form) {
  TMemoryStream binary;
  WriteComponentToStream(binary, &form);
  binary.SetPosition(0);
  TMemoryStream text;
  ObjectBinaryToText(binary, text);
  return std::string(reinterpret_cast<const char*>(text.Memory()),
                     static_cast<std::size_t>(text.Size()));
}

void ReadText(const std::string& text, TForm& form) {
  TMemoryStream input;
  input.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  input.SetPosition(0);
  TMemoryStream binary;
  ObjectTextToBinary(input, binary);
  binary.SetPosition(0);
  ReadComponentFromStream(binary, &form);
}

TEST(RotateLabelTest, DescriptionAlwaysCarriesEscapementAndTextStyleAndReadsBack) {
  TForm form(nullptr);
  form.SetName("Form1");
  auto* label = new TRotateLabel(&form);
  label->SetName("RotateLabel1");
  label->SetParent(&form);
  label->SetCaption("Title");
  // The values of a new label: nothing would be written if either had a recorded default.
  const std::string text = DescriptionText(form);
  EXPECT_NE(text.find("Escapement = 45"), std::string::npos) << text;
  EXPECT_NE(text.find("TextStyle = tsRaised"), std::string::npos) << text;
  EXPECT_NE(text.find("ParentFont = False"), std::string::npos) << text;
  EXPECT_NE(text.find("Font.Name = 'Arial'"), std::string::npos) << text;

  label->SetEscapement(3);
  label->SetTextStyle(tsRecessed);
  TForm copy(nullptr);
  ReadText(DescriptionText(form), copy);
  ASSERT_EQ(copy.ControlCount(), 1);
  auto* read = dynamic_cast<TRotateLabel*>(copy.Controls(0));
  ASSERT_NE(read, nullptr) << "the reader finds the class by its name";
  EXPECT_EQ(read->Name(), "RotateLabel1");
  EXPECT_EQ(read->Escapement(), 3);
  EXPECT_EQ(read->TextStyle(), tsRecessed);
  EXPECT_EQ(read->Caption(), "Title");
}

TEST(RotateLabelTest, DescriptionFoldsEscapementAndKeepsItsOwnFont) {
  const struct { int32_t stored, read; } cases[] = {{-1, 359}, {405, 45}, {720, 360}, {0, 0}};
  for (const auto& c : cases) {
    TForm form(nullptr);
    form.Font().SetName("MS Sans Serif");
    ReadText(
        "object Form1: TForm\n"
        "  object RotateLabel2: TRotateLabel\n"
        "    Left = 144\n"
        "    Top = 24\n"
        "    Width = 187\n"
        "    Height = 22\n"
        "    Escapement = " +
            std::to_string(c.stored) +
            "\n"
            "    TextStyle = tsNone\n"
            "    Caption = 'TAVRIX '\n"
            "    Font.Charset = DEFAULT_CHARSET\n"
            "    Font.Color = clNavy\n"
            "    Font.Height = -19\n"
            "    Font.Name = 'Arial'\n"
            "    Font.Style = [fsBold]\n"
            "    ParentFont = False\n"
            "  end\n"
            "end\n",
        form);
    ASSERT_EQ(form.ControlCount(), 1);
    auto* label = dynamic_cast<TRotateLabel*>(form.Controls(0));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->Escapement(), c.read) << c.stored;
    EXPECT_EQ(label->TextStyle(), tsNone);
    EXPECT_FALSE(label->ParentFont());
    EXPECT_EQ(label->Font().Name(), "Arial");
    EXPECT_EQ(label->Font().Height(), -19);
    EXPECT_EQ(label->Font().Color(), clNavy);
    EXPECT_EQ(label->Font().Style(), FontStyleBit(fsBold));
    EXPECT_EQ(label->Left(), 144);
    EXPECT_EQ(label->Top(), 24);
  }
}

}  // namespace
