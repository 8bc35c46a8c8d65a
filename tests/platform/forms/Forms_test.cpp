// The portable forms layer without a toolkit: message texts, the application title, line
// splitting, the notebook and font inheritance.
#include "Forms.h"

#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "StdCtrls.h"
#include "StringList.h"

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

TEST(FormsTest, MemoRefusesTextBeyondItsCapacity) {
  TMemo memo(nullptr);
  memo.Lines().SetText("short");
  std::string huge(TMemo::Capacity + 1, 'x');
  try {
    memo.Lines().SetText(huge);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "Text exceeds memo capacity");
  }
  EXPECT_EQ(memo.Lines().Count(), 0);
}

}  // namespace
