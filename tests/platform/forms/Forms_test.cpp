// The portable forms layer without a toolkit: message texts, the application title, line
// splitting, the notebook and font inheritance.
#include "Forms.h"

#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "RecordingCanvas.h"
#include "StdCtrls.h"
#include "StringList.h"
#include "TestSupport.h"

namespace {

TEST(FormsTest, MessageGetsAPeriodOnlyAfterCharactersThatSortAfterIt) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Stream read error", "Stream read error."},
      {"Cannot move file ", "Cannot move file "},  // a blank sorts before "."
      {"Done.", "Done."},
      {"", ""},
      {"Value 42", "Value 42."},
      {"What?", "What?."},  // "?" sorts after "."
      {"a-", "a-"},         // "-" sorts before "."
      {"x)", "x)"},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageWithPeriod(c.message), c.shown) << c.message;
}

TEST(FormsTest, TitleIsTheProgramNameUpToItsFirstPointInLowerCaseAfterTheFirstCharacter) {
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"/opt/tavrix-setup", "tavrix-setup"},
      {"C/Project1.EXE", "Project1"},
      {"/x/SETUP.tar.gz", "Setup"},
      {"Install", "Install"},
  };
  for (const auto& c : cases) {
    TApplication app(nullptr);
    app.SetExeName(c.path);
    EXPECT_EQ(app.Title(), c.title) << c.path;
  }
}

TEST(FormsTest, LinesBreakAtCrLfLoneCrAndLoneLf) {
  const struct {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\r\n", {"a"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\r\r\n", {"", ""}},
      {"", {}},
  };
  for (const auto& c : cases) {
    TStrings lines;
    lines.SetText(c.text);
    EXPECT_EQ(lines.Items(), c.lines) << c.text;
    // The measure taken before the split agrees with the split.
    const TStrings::TTextMeasure measure = TStrings::Measure(c.text);
    std::size_t characters = 0;
    for (const std::string& line : c.lines) characters += line.size();
    if (!c.lines.empty()) characters += c.lines.size() - 1;
    EXPECT_EQ(measure.Lines, c.lines.size()) << c.text;
    EXPECT_EQ(measure.Characters, characters) << c.text;
  }
}

TEST(FormsTest, NotebookSelectsPagesByCaptionAndIgnoresUnknownOnes) {
  TForm form(nullptr);
  auto* notebook = new TNotebook(&form);
  notebook->SetParent(&form);
  for (const char* caption : {"Setup", "License"}) {
    auto* page = new TPage(notebook);
    page->SetParent(notebook);
    page->SetCaption(caption);
  }
  notebook->Loaded();
  EXPECT_EQ(notebook->ActivePage(), "Setup");
  EXPECT_TRUE(notebook->Pages(0)->Visible());
  EXPECT_FALSE(notebook->Pages(1)->Visible());
  notebook->SetActivePage("license");
  EXPECT_EQ(notebook->PageIndex(), 1);
  EXPECT_FALSE(notebook->Pages(0)->Visible());
  EXPECT_TRUE(notebook->Pages(1)->Visible());
  notebook->SetActivePage("Nowhere");
  EXPECT_EQ(notebook->PageIndex(), 1);
}

TEST(FormsTest, NotebookPageShownLaterFillsTheNotebook) {
  TForm form(nullptr);
  auto* notebook = new TNotebook(&form);
  notebook->SetParent(&form);
  notebook->SetBounds(0, 0, 401, 245);
  for (const char* caption : {"Setup", "License"}) {
    auto* page = new TPage(notebook);
    page->SetParent(notebook);
    page->SetCaption(caption);
  }
  // Both pages are hidden while the notebook is laid out; each must fill it once shown.
  notebook->Loaded();
  const TRect filled{0, 0, 401, 245};
  EXPECT_EQ(notebook->Pages(0)->BoundsRect(), filled);
  notebook->SetActivePage("License");
  EXPECT_EQ(notebook->Pages(1)->BoundsRect(), filled);
}

TEST(FormsTest, ControlsFollowTheirParentsFontUntilGivenTheirOwn) {
  TForm form(nullptr);
  form.Font().SetName("Arial");
  auto* a = new TButton(&form);
  auto* b = new TButton(&form);
  a->SetParent(&form);
  b->SetParent(&form);
  EXPECT_EQ(a->Font().Name(), "Arial");
  b->Font().SetHeight(-20);
  EXPECT_FALSE(b->ParentFont());
  form.Font().SetName("Times New Roman");
  EXPECT_EQ(a->Font().Name(), "Times New Roman");
  EXPECT_EQ(b->Font().Name(), "Arial") << "a font of its own is kept";
}

// A licence of line feeds alone packs small (8 million of them into 10.5 KB) but used to be split
// into as many strings before the memo's limit was checked: 1.16 GB of memory (and a crash at 60
// million). The limits hold before the split now, for the text's size and its number of lines.
TEST(FormsTest, MemoRefusesTextBeyondItsCapacityBeforeSplittingIt) {
  const struct {
    const char* what;
    std::string text;
    bool fits;
  } cases[] = {
      {"the most characters", std::string(TMemo::Capacity, 'x'), true},
      {"a character more", std::string(TMemo::Capacity + 1, 'x'), false},
      {"the most lines", std::string(TMemo::MaxLines, '\n'), true},
      {"a line more", std::string(TMemo::MaxLines + 1, '\n'), false},
      {"8 million line feeds", std::string(8'000'000, '\n'), false},
  };
  for (const auto& c : cases) {
    TMemo memo(nullptr);
    memo.Lines().SetText("short");
    std::size_t measured = 0;
    // A hook of the test's own in front of the memo's shows what was split by the time the
    // memo decided.
    const auto memoCheck = memo.Lines().OnCheckText;
    memo.Lines().OnCheckText = [&](const TStrings::TTextMeasure& measure) {
      measured = static_cast<std::size_t>(memo.Lines().Count());
      memoCheck(measure);
    };
    if (c.fits) {
      memo.Lines().SetText(c.text);
      EXPECT_GT(memo.Lines().Count(), 0) << c.what;
      continue;
    }
    try {
      memo.Lines().SetText(c.text);
      ADD_FAILURE() << c.what << " was taken";
    } catch (const EInvalidOperation& e) {
      EXPECT_EQ(e.Message(), "Text exceeds memo capacity") << c.what;
    }
    EXPECT_EQ(measured, 1u) << c.what << ": decided before the text was split";
    EXPECT_EQ(memo.Lines().Count(), 0) << c.what;
  }
}

TEST(FormsTest, MemoRefusesAFileBeyondItsCapacityBeforeReadingItWhole) {
  TTempDir dir;
  const std::string file = dir / "licence.txt";
  WriteWholeFile(file, TBytes(TMemo::Capacity + 8 * 1024 * 1024, 'x'));
  TMemo memo(nullptr);
  std::size_t checks = 0;
  const auto memoCheck = memo.Lines().OnCheckText;
  memo.Lines().OnCheckText = [&](const TStrings::TTextMeasure& measure) {
    ++checks;
    memoCheck(measure);
  };
  EXPECT_THROW(memo.Lines().LoadFromFile(file), EInvalidOperation);
  EXPECT_EQ(checks, TMemo::Capacity / (1 << 20) + 1) << "refused a piece past the capacity";
}

}  // namespace

namespace {

// Paints one control on a recording canvas, as its parent would.
std::vector<TDrawCall> PaintOf(TForm& form) {
  TRecordingCanvas canvas;
  form.PaintWindow(canvas);
  return canvas.Calls;
}

TEST(LabelTest, PaintsItsBackgroundThenItsCaptionWithTheAlignmentFlags) {
  TForm form(nullptr);
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->SetAutoSize(false);
  label->SetBounds(10, 20, 100, 30);
  label->SetCaption("A&bc");
  label->SetAlignment(taRightJustify);
  label->SetWordWrap(true);
  label->Font().SetColor(clNavy);
  std::vector<TDrawCall> calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].Op, "push");
  EXPECT_EQ(calls[0].Rect, Rect(10, 20, 110, 50));
  EXPECT_EQ(calls[1].Op, "fill");
  EXPECT_EQ(calls[1].Rect, Rect(0, 0, 100, 30));
  EXPECT_EQ(calls[1].Rgb, ColorToRGB(clBtnFace)) << "the parent's colour";
  EXPECT_EQ(calls[2].Op, "draw");
  EXPECT_EQ(calls[2].Text, "A&bc");
  EXPECT_EQ(calls[2].Flags, DT_RIGHT | DT_WORDBREAK | DT_EXPANDTABS);
  EXPECT_EQ(calls[2].Rgb, ColorToRGB(clNavy));

  label->SetTransparent(true);
  label->SetShowAccelChar(false);
  label->SetEnabled(false);
  calls = PaintOf(form);
  ASSERT_EQ(calls.size(), 4u) << "transparent: no fill; disabled: two etched layers";
  EXPECT_EQ(calls[1].Op, "draw");
  EXPECT_EQ(calls[1].Rect, Rect(1, 1, 101, 31));
  EXPECT_EQ(calls[1].Rgb, ColorToRGB(clBtnHighlight));
  EXPECT_EQ(calls[2].Rect, Rect(0, 0, 100, 30));
  EXPECT_EQ(calls[2].Rgb, ColorToRGB(clBtnShadow));
  EXPECT_TRUE(calls[2].Flags & DT_NOPREFIX);
}

TEST(LabelTest, AutoSizeTakesTheCaptionsSizeKeepingTheRightEdgeWhenRightAligned) {
  TRecordingCanvas screen;
  SetScreenCanvasPeer(&screen);
  TForm form(nullptr);
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->SetBounds(100, 5, 65, 17);
  label->SetCaption("abcd");  // 4 x 7 wide, 13 high
  EXPECT_EQ(label->BoundsRect(), Rect(100, 5, 128, 18));
  label->SetAlignment(taRightJustify);
  label->SetCaption("ab");
  EXPECT_EQ(label->BoundsRect(), Rect(114, 5, 128, 18)) << "the right edge stays at 128";
  label->SetAutoSize(false);
  label->SetCaption("abcdefgh");
  EXPECT_EQ(label->Width(), 14);
  SetScreenCanvasPeer(nullptr);
}

}  // namespace
