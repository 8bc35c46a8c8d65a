// The hyperlink label, in-process under Qt's offscreen platform (for the clipboard, the menu
// and the cursor): what a new one looks like, what a click opens, the colours while the left
// button is held, the Copy item, its cursor and its menu's life. The shell is watched, never
// asked.
#include "UrlLabel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBitmap>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Clipbrd.h"
#include "CursorImage.h"
#include "Forms.h"
#include "ObjectText.h"
#include "ProgramResources.h"
#include "QtTestEnvironment.h"
#include "Resources.h"
#include "Shell.h"

namespace {

const auto* const GQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtTestEnvironment);

// Counts OnClick calls.
struct TClickLog : TObject {
  int Clicks = 0;
  void LabelClick(TObject* /*sender*/) { ++Clicks; }
};
const TMethodInfo LabelClickMethod = TAVRIX_METHOD(TClickLog, LabelClick);

// Watches components of other owners and records each one that is destroyed.
class TWatcher : public TComponent {
 public:
  TWatcher() : TComponent(nullptr) {}
  std::vector<TComponent*> Gone;
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) Gone.push_back(component);
  }
};

struct TShellRequest {
  std::string Verb;
  std::string File;
  TColor FontColor;  // the label's font colour while the shell was asked
};

struct TShownMenu {
  TPopupMenu* Menu;
  int32_t X;
  int32_t Y;
};

class UrlLabelTest : public ::testing::Test {
 protected:
  UrlLabelTest() {
    InitApplicationObjects();
    RegisterProgramResources();
    SetShellExecuteHook([this](const std::string& verb, const std::string& file) {
      Requests.push_back({verb, file, Watched ? Watched->Font().Color() : TColor(-1)});
    });
  }
  ~UrlLabelTest() override {
    CloseMenus();
    SetPopupMenuHook(nullptr);
    SetShellExecuteHook(nullptr);
    DoneApplicationObjects();
    ClearResources();
  }

  // A shown form with one label on it, at (20, 20).
  TUrlLabel* LabelOnForm() {
    Form = new TForm(Application);
    Form->SetBounds(40, 30, 300, 200);
    auto* label = new TUrlLabel(Form);
    label->SetParent(Form);
    label->SetAutoSize(false);
    label->SetBounds(20, 20, 120, 16);
    label->SetCaption("Home page");
    label->SetURL("http://home.example/");
    Form->Show();
    Watched = label;
    return label;
  }

  std::vector<TShellRequest> Requests;
  TUrlLabel* Watched = nullptr;
  TForm* Form = nullptr;
};

TEST_F(UrlLabelTest, NewLabelIsBlueAndUnderlinedWithTheHandCursorAndAMenuOfItsOwn) {
  TUrlLabel label(nullptr);
  EXPECT_EQ(label.Font().Color(), clBlue);
  EXPECT_EQ(label.Font().Color(), 0xFF0000);
  EXPECT_EQ(label.Font().Style(), FontStyleBit(fsUnderline)) << "underlined and nothing else";
  EXPECT_EQ(label.Cursor(), 5);
  EXPECT_EQ(label.ActiveColor(), 0x800080);
  EXPECT_EQ(label.URL(), "");
  // What a label is, unchanged.
  EXPECT_TRUE(label.AutoSize());
  EXPECT_TRUE(label.ShowAccelChar());
  EXPECT_FALSE(label.Transparent());

  TPopupMenu* menu = label.PopupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->Owner(), &label);
  ASSERT_EQ(menu->Items().Count(), 1);
  TMenuItem* copy = menu->Items().Items(0);
  EXPECT_EQ(copy->Caption(), "Copy");
  EXPECT_EQ(copy->Owner(), menu);
  EXPECT_TRUE(copy->OnClick);
}

TEST_F(UrlLabelTest, ClassIsRegisteredAndPublishesUrlAndActiveColorAfterTheLabels) {
  const TClassInfo* info = GetClass("TUrlLabel");
  ASSERT_EQ(info, &TUrlLabel::StaticClassInfo());
  EXPECT_TRUE(info->InheritsFrom(TLabel::StaticClassInfo()));
  std::unique_ptr<TComponent> made(info->Create(nullptr));
  EXPECT_NE(dynamic_cast<TUrlLabel*>(made.get()), nullptr);

  std::vector<const TPropInfo*> props = info->AllProps();
  ASSERT_GE(props.size(), 2u);
  EXPECT_EQ(props[props.size() - 2]->Name, "URL");
  EXPECT_EQ(props[props.size() - 2]->Kind, TPropKind::String);
  EXPECT_EQ(props.back()->Name, "ActiveColor");
  EXPECT_EQ(props.back()->Default, std::optional<int64_t>(0x800080));
}

TEST_F(UrlLabelTest, ClickOpensTheUrlOrElseTheCaptionAndNothingWhenBothAreBlank) {
  const struct {
    const char* what;
    std::string url;
    std::string caption;
    std::optional<std::string> opened;
  } cases[] = {
      {"the URL", "http://a.example/", "Caption", "http://a.example/"},
      {"blanks kept", "  http://a.example/\t", "Caption", "  http://a.example/\t"},
      {"empty URL", "", "http://b.example/", "http://b.example/"},
      {"URL of blanks and controls", " \t\r\n\x01\x1f", "http://b.example/", "http://b.example/"},
      {"caption opened as it is", "", " b.example ", " b.example "},
      {"both blank", " ", "\x20\x0a", std::nullopt},
      {"both empty", "", "", std::nullopt},
      {"a zero character is blank too", std::string("\0", 1), "", std::nullopt},
      {"DEL is not blank", "\x7f", "Caption", "\x7f"},
      {"high characters are not blank", "\xA0", "Caption", "\xA0"},
  };
  for (const auto& c : cases) {
    TUrlLabel label(nullptr);
    TClickLog log;
    label.OnClick = TNotifyEvent(&log, &LabelClickMethod);
    label.SetURL(c.url);
    label.SetCaption(c.caption);
    Requests.clear();
    label.Click();
    EXPECT_EQ(log.Clicks, 1) << c.what << ": OnClick fires in every case";
    if (!c.opened) {
      EXPECT_TRUE(Requests.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(Requests.size(), 1u) << c.what;
    EXPECT_EQ(Requests[0].Verb, "open") << c.what;
    EXPECT_EQ(Requests[0].File, *c.opened) << c.what;
  }
}

TEST_F(UrlLabelTest, LeftButtonShowsActiveColorWhileHeldAndGivesTheColourBackOnRelease) {
  const struct {
    const char* what;
    TMouseButton button;
    int32_t releaseX;
    TColor whileHeld;
    bool opens;
  } cases[] = {
      {"left, released inside", mbLeft, 5, clPurple, true},
      {"left, released to the right of it", mbLeft, 120, clPurple, false},
      {"left, released to the left of it", mbLeft, -1, clPurple, false},
      {"right", mbRight, 5, clNavy, false},
      {"middle", mbMiddle, 5, clNavy, false},
  };
  for (const auto& c : cases) {
    TUrlLabel label(nullptr);
    label.SetAutoSize(false);
    label.SetBounds(0, 0, 120, 16);
    label.SetURL("http://a.example/");
    label.Font().SetColor(clNavy);  // the colour to come back is the one at the press
    Watched = &label;
    Requests.clear();
    label.MousePressed(c.button, 0, 5, 5, false);
    EXPECT_EQ(label.Font().Color(), c.whileHeld) << c.what;
    label.MouseReleased(c.button, 0, c.releaseX, 5);
    EXPECT_EQ(label.Font().Color(), clNavy) << c.what;
    if (c.opens) {
      ASSERT_EQ(Requests.size(), 1u) << c.what;
      EXPECT_EQ(Requests[0].FontColor, clPurple) << c.what << ": still active while opening";
    } else {
      EXPECT_TRUE(Requests.empty()) << c.what;
    }
    Watched = nullptr;
  }
}

TEST_F(UrlLabelTest, LeftReleaseWithoutAPressGivesBlackTheColourRememberedFirst) {
  TUrlLabel label(nullptr);
  label.MouseUp(mbLeft, 0, -5, -5);
  EXPECT_EQ(label.Font().Color(), clBlack);
}

TEST_F(UrlLabelTest, ActiveColorAssignedWhileTheButtonIsUpShowsOnlyAtTheNextPress) {
  TUrlLabel label(nullptr);
  label.SetActiveColor(clRed);
  EXPECT_EQ(label.Font().Color(), clBlue);
  label.MouseDown(mbLeft, 0, 1, 1);
  EXPECT_EQ(label.Font().Color(), clRed);
  label.SetActiveColor(clGreen);  // while held: the caption keeps the colour of the press
  EXPECT_EQ(label.Font().Color(), clRed);
  label.MouseUp(mbLeft, 0, -1, -1);
  EXPECT_EQ(label.Font().Color(), clBlue);
}

TEST_F(UrlLabelTest, LeftClickOnTheFormOpensTheUrlInActiveColour) {
  TUrlLabel* label = LabelOnForm();
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);

  SendMouse(widget, QEvent::MouseButtonPress, QPoint(30, 25), Qt::LeftButton);
  EXPECT_EQ(label->Font().Color(), clPurple);
  SendMouse(widget, QEvent::MouseButtonRelease, QPoint(30, 25), Qt::LeftButton);
  ASSERT_EQ(Requests.size(), 1u);
  EXPECT_EQ(Requests[0].Verb, "open");
  EXPECT_EQ(Requests[0].File, "http://home.example/");
  EXPECT_EQ(Requests[0].FontColor, clPurple);
  EXPECT_EQ(label->Font().Color(), clBlue);

  // Pressed on the label, released off it: no click, the colour comes back all the same.
  SendClick(widget, Qt::LeftButton, QPoint(30, 25), QPoint(250, 150));
  EXPECT_EQ(Requests.size(), 1u);
  EXPECT_EQ(label->Font().Color(), clBlue);
}

TEST_F(UrlLabelTest, DoubleClickOpensTheUrlOnceAndShowsActiveColourOnBothPresses) {
  TUrlLabel* label = LabelOnForm();
  TClickLog log;
  label->OnDblClick = TNotifyEvent(&log, &LabelClickMethod);
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);

  SendClick(widget, Qt::LeftButton, QPoint(30, 25), QPoint(30, 25));
  SendMouse(widget, QEvent::MouseButtonDblClick, QPoint(30, 25), Qt::LeftButton);
  EXPECT_EQ(label->Font().Color(), clPurple) << "the second press is a press all the same";
  EXPECT_EQ(log.Clicks, 1) << "OnDblClick";
  SendMouse(widget, QEvent::MouseButtonRelease, QPoint(30, 25), Qt::LeftButton);
  EXPECT_EQ(label->Font().Color(), clBlue);
  ASSERT_EQ(Requests.size(), 1u) << "the second release is no click";
  EXPECT_EQ(Requests[0].File, "http://home.example/");

  // The press after a double click is a single one again, and opens the address once more.
  SendClick(widget, Qt::LeftButton, QPoint(30, 25), QPoint(30, 25));
  EXPECT_EQ(Requests.size(), 2u);
}

TEST_F(UrlLabelTest, RightClickBringsUpCopyWhichPutsTheCaptionOnTheClipboard) {
  TUrlLabel* label = LabelOnForm();
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);
  QGuiApplication::clipboard()->setText("before");

  SendMouse(widget, QEvent::MouseButtonPress, QPoint(30, 25), Qt::RightButton);
  EXPECT_EQ(label->Font().Color(), clBlue) << "a right press changes no colour";
  SendMouse(widget, QEvent::MouseButtonRelease, QPoint(30, 25), Qt::RightButton);
  EXPECT_EQ(label->Font().Color(), clBlue);
  std::vector<QMenu*> shown = VisibleMenus();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0]->pos(), widget->mapToGlobal(QPoint(30, 25)));
  ASSERT_EQ(shown[0]->actions().size(), 1);
  EXPECT_EQ(shown[0]->actions()[0]->text(), QString("Copy"));
  EXPECT_TRUE(Requests.empty());

  shown[0]->actions()[0]->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("Home page"))
      << "the caption, not the URL";
  EXPECT_EQ(Clipboard().AsText(), "Home page");
}

TEST_F(UrlLabelTest, RightReleaseAsksForTheLabelsOwnMenuAtTheScreenPoint) {
  TUrlLabel* label = LabelOnForm();
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);
  std::vector<TShownMenu> shown;
  SetPopupMenuHook([&shown](TPopupMenu& menu, int32_t x, int32_t y) {
    shown.push_back({&menu, x, y});
  });
  SendClick(widget, Qt::RightButton, QPoint(25, 30), QPoint(25, 30));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].Menu, label->PopupMenu());
  const QPoint global = widget->mapToGlobal(QPoint(25, 30));
  EXPECT_EQ(shown[0].X, global.x());
  EXPECT_EQ(shown[0].Y, global.y());
  EXPECT_EQ(label->PopupMenu()->PopupComponent(), label);
  EXPECT_TRUE(VisibleMenus().empty());
}

TEST_F(UrlLabelTest, DestroyingTheLabelFreesItsMenuAndTheMenusItem) {
  TWatcher watcher;
  auto* label = new TUrlLabel(nullptr);
  TPopupMenu* menu = label->PopupMenu();
  TMenuItem* copy = menu->Items().Items(0);
  menu->FreeNotification(&watcher);
  copy->FreeNotification(&watcher);
  delete label;
  EXPECT_EQ(std::count(watcher.Gone.begin(), watcher.Gone.end(), menu), 1);
  EXPECT_EQ(std::count(watcher.Gone.begin(), watcher.Gone.end(), copy), 1);
}

TEST_F(UrlLabelTest, EveryNewLabelRegistersTheHandAsCursorFive) {
  Screen->SetCursorShape(5, "something else");
  TUrlLabel label(nullptr);
  const std::string* shape = Screen->CursorShape(5);
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(*shape, std::string(HandCursorResource()));
}

TEST_F(UrlLabelTest, HandCursorIsShownOverTheLabelWithItsHotSpotOnTheFingertip) {
  LabelOnForm();
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);
  SendMouse(widget, QEvent::MouseMove, QPoint(30, 25));
  const QCursor cursor = widget->cursor();
  ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
  EXPECT_EQ(cursor.hotSpot(), QPoint(5, 0));
  const QImage bitmap = cursor.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage mask = cursor.mask().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(bitmap.size(), QSize(32, 32));
  EXPECT_EQ(bitmap.pixel(5, 0), qRgb(0, 0, 0)) << "the fingertip's outline is black";
  EXPECT_EQ(mask.pixel(5, 0), qRgb(0, 0, 0)) << "and opaque";
  EXPECT_EQ(bitmap.pixel(5, 2), qRgb(255, 255, 255)) << "the finger is white";
  EXPECT_EQ(mask.pixel(5, 2), qRgb(0, 0, 0));
  EXPECT_EQ(mask.pixel(31, 31), qRgb(255, 255, 255)) << "the corner is transparent";
}

TEST_F(UrlLabelTest, MissingHandResourceLeavesCursorFiveWithoutEntry) {
  ClearResources();
  TUrlLabel* label = LabelOnForm();
  EXPECT_EQ(label->Cursor(), 5);
  EXPECT_EQ(Screen->CursorShape(5), nullptr);
  QWidget* widget = WidgetOf(*Form);
  ASSERT_NE(widget, nullptr);
  SendMouse(widget, QEvent::MouseMove, QPoint(30, 25));
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
}

// A form description of a label that stores its own cursor, font and the reference to its own
// menu, as a designer writes it.
const char* const Description = R"(object Form1: TForm
  object UrlLabel1: TUrlLabel
    Left = 240
    Top = 88
    Width = 138
    Height = 13
    Cursor = crHandPoint
    Caption = 'http://home.example/'
    Font.Color = clNavy
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    PopupMenu = UrlLabel1.
    URL = 'http://home.example/'
  end
end
)";

TEST_F(UrlLabelTest, DescriptionReplacesTheDefaultsButNotTheOwnMenu) {
  TMemoryStream text, binary;
  text.WriteBuffer(Description, static_cast<int32_t>(std::strlen(Description)));
  text.SetPosition(0);
  ObjectTextToBinary(text, binary);
  binary.SetPosition(0);
  auto form = std::make_unique<TForm>(nullptr);
  ReadComponentFromStream(binary, form.get());
  auto* label = dynamic_cast<TUrlLabel*>(form->FindComponent("UrlLabel1"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->Cursor(), crHandPoint);
  EXPECT_EQ(label->Font().Color(), clNavy);
  EXPECT_EQ(label->Font().Style(), 0);
  EXPECT_EQ(label->URL(), "http://home.example/");
  EXPECT_EQ(label->ActiveColor(), clPurple);
  ASSERT_NE(label->PopupMenu(), nullptr) << "the unresolved reference keeps the own menu";
  EXPECT_EQ(label->PopupMenu()->Owner(), label);

  // Written back, the own menu is named by the label's name and a full stop, and the default
  // active colour is left out.
  TMemoryStream written, back;
  WriteComponentToStream(written, form.get());
  written.SetPosition(0);
  ObjectBinaryToText(written, back);
  const std::string out(reinterpret_cast<const char*>(back.Memory()),
                        static_cast<std::size_t>(back.Size()));
  EXPECT_NE(out.find("PopupMenu = UrlLabel1.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("URL = 'http://home.example/'"), std::string::npos) << out;
  EXPECT_EQ(out.find("ActiveColor"), std::string::npos) << out;
  label->SetActiveColor(clRed);
  TMemoryStream written2, back2;
  WriteComponentToStream(written2, form.get());
  written2.SetPosition(0);
  ObjectBinaryToText(written2, back2);
  const std::string out2(reinterpret_cast<const char*>(back2.Memory()),
                         static_cast<std::size_t>(back2.Size()));
  EXPECT_NE(out2.find("ActiveColor = clRed"), std::string::npos) << out2;
}

}  // namespace
