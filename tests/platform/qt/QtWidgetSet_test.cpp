// The Qt backend's popup menus, clipboard and cursors, in-process under the offscreen platform.
// Menus are popped up without waiting, and their actions are triggered from the test.
#include "QtWidgetSet.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBitmap>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <array>
#include <vector>

#include "Clipbrd.h"
#include "CursorImage.h"
#include "Forms.h"
#include "Menus.h"
#include "QtTestEnvironment.h"
#include "StdCtrls.h"

namespace {

const auto* const GQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtTestEnvironment);

// Counts the clicks of menu items, by sender.
struct TClickLog : TObject {
  std::vector<TObject*> Senders;
  void ItemClick(TObject* sender) { Senders.push_back(sender); }
  void Raise(TObject* /*sender*/) { throw EInvalidOperation("Refused"); }
};
const TMethodInfo ItemClickMethod = TAVRIX_METHOD(TClickLog, ItemClick);
const TMethodInfo RaiseMethod = TAVRIX_METHOD(TClickLog, Raise);

// Records the mouse events of every control it is bound to, with the sender's name.
struct TMouseLog : TObject {
  std::vector<std::string> Events;
  void Click(TObject* sender) { Add(sender, "click"); }
  void DblClick(TObject* sender) { Add(sender, "dblclick"); }
  void Down(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
    Add(sender, std::string("down") + (button == mbRight ? " R" : " L") +
                    (shift & ssDouble ? " double" : "") + " at " + std::to_string(x) + "," +
                    std::to_string(y));
  }
  void Up(TObject* sender, TMouseButton button, TShiftState /*shift*/, int32_t x, int32_t y) {
    Add(sender, std::string("up") + (button == mbRight ? " R" : " L") + " at " + std::to_string(x) +
                    "," + std::to_string(y));
  }
  void Add(TObject* sender, const std::string& event) {
    Events.push_back(static_cast<TComponent*>(sender)->Name() + " " + event);
  }
  // Binds all four events of control to this log.
  void Watch(TControl& control);
};
const TMethodInfo ClickMethod = TAVRIX_METHOD(TMouseLog, Click);
const TMethodInfo DblClickMethod = TAVRIX_METHOD(TMouseLog, DblClick);
const TMethodInfo DownMethod = TAVRIX_METHOD(TMouseLog, Down);
const TMethodInfo UpMethod = TAVRIX_METHOD(TMouseLog, Up);

void TMouseLog::Watch(TControl& control) {
  control.OnClick = TNotifyEvent(this, &ClickMethod);
  control.OnDblClick = TNotifyEvent(this, &DblClickMethod);
  control.OnMouseDown = TMouseEvent(this, &DownMethod);
  control.OnMouseUp = TMouseEvent(this, &UpMethod);
}

std::vector<std::string> GReported;
void Report(const Exception& e) { GReported.push_back(e.Message()); }

// A form with the application objects around it; menus closed and objects gone afterwards.
class QtBackendTest : public ::testing::Test {
 protected:
  QtBackendTest() {
    InitApplicationObjects();
    GReported.clear();
    SetGuardExceptionHandler(&Report);
    Form = new TForm(Application);
    Form->SetBounds(40, 30, 300, 200);
    Form->Show();
  }
  ~QtBackendTest() override {
    CloseMenus();
    SetGuardExceptionHandler(nullptr);
    DoneApplicationObjects();
  }

  TMenuItem* AddItem(TPopupMenu& menu, const std::string& caption, const TMethodInfo* method) {
    auto* item = new TMenuItem(&menu);
    item->SetCaption(caption);
    if (method) item->OnClick = TNotifyEvent(&Log, method);
    menu.Items().Add(item);
    return item;
  }

  QWidget* FormWidget() const { return WidgetOf(*Form); }

  TForm* Form;
  TClickLog Log;
};

std::vector<std::string> ActionTexts(const QMenu& menu) {
  std::vector<std::string> texts;
  for (QAction* action : menu.actions()) {
    texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  return texts;
}

TEST_F(QtBackendTest, PopupMenuShowsOneActionPerItemAtThePointAndReturnsAtOnce) {
  auto* menu = new TPopupMenu(Form);
  TMenuItem* one = AddItem(*menu, "One", &ItemClickMethod);
  AddItem(*menu, "-", nullptr);
  TMenuItem* two = AddItem(*menu, "Two", &ItemClickMethod);

  WidgetSet()->PopupMenu(*menu, 60, 70);
  std::vector<QMenu*> shown = VisibleMenus();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(ActionTexts(*shown[0]), (std::vector<std::string>{"One", "-", "Two"}));
  EXPECT_EQ(shown[0]->pos(), QPoint(60, 70));

  QPointer<QMenu> popup = shown[0];
  shown[0]->actions()[2]->trigger();
  shown[0]->actions()[0]->trigger();
  EXPECT_EQ(Log.Senders, (std::vector<TObject*>{two, one}));
  CloseMenus();
  EXPECT_TRUE(popup.isNull()) << "a hidden popup deletes itself";
}

TEST_F(QtBackendTest, ItemFreedWhileItsMenuIsOpenIsNotClicked) {
  auto* menu = new TPopupMenu(Form);
  TMenuItem* item = AddItem(*menu, "Gone", &ItemClickMethod);
  WidgetSet()->PopupMenu(*menu, 10, 10);
  ASSERT_EQ(VisibleMenus().size(), 1u);
  QAction* action = VisibleMenus()[0]->actions()[0];
  delete item;
  action->trigger();
  EXPECT_TRUE(Log.Senders.empty());
}

TEST_F(QtBackendTest, ExceptionFromAnItemIsReportedAndStopsAtTheGuard) {
  auto* menu = new TPopupMenu(Form);
  AddItem(*menu, "Fail", &RaiseMethod);
  WidgetSet()->PopupMenu(*menu, 10, 10);
  ASSERT_EQ(VisibleMenus().size(), 1u);
  VisibleMenus()[0]->actions()[0]->trigger();
  EXPECT_EQ(GReported, (std::vector<std::string>{"Refused"}));
}

TEST_F(QtBackendTest, DoubleClickEventStandsForTheSecondPressWhichIsNoClick) {
  auto* label = new TLabel(Form);
  label->SetName("Label1");
  label->SetParent(Form);
  label->SetAutoSize(false);
  label->SetBounds(20, 20, 80, 20);
  Form->SetName("Form1");
  TMouseLog log;
  log.Watch(*label);
  log.Watch(*Form);
  QWidget* widget = FormWidget();
  ASSERT_NE(widget, nullptr);

  const struct {
    const char* what;
    void (*send)(QWidget*);
    std::vector<std::string> events;
  } cases[] = {
      {"a click on the label",
       [](QWidget* w) { SendClick(w, Qt::LeftButton, QPoint(30, 25), QPoint(30, 25)); },
       {"Label1 down L at 10,5", "Label1 click", "Label1 up L at 10,5"}},
      {"a double click on the label",
       [](QWidget* w) { SendDoubleClick(w, Qt::LeftButton, QPoint(30, 25)); },
       {"Label1 down L at 10,5", "Label1 click", "Label1 up L at 10,5", "Label1 dblclick",
        "Label1 down L double at 10,5", "Label1 up L at 10,5"}},
      {"a right double click on the label",
       [](QWidget* w) { SendDoubleClick(w, Qt::RightButton, QPoint(30, 25)); },
       {"Label1 down R at 10,5", "Label1 up R at 10,5", "Label1 down R double at 10,5",
        "Label1 up R at 10,5"}},
      {"pressed on the label, released off it",
       [](QWidget* w) { SendClick(w, Qt::LeftButton, QPoint(30, 25), QPoint(200, 150)); },
       {"Label1 down L at 10,5", "Label1 up L at 180,130"}},
      {"a double click on the form itself",
       [](QWidget* w) { SendDoubleClick(w, Qt::LeftButton, QPoint(200, 150)); },
       {"Form1 down L at 200,150", "Form1 click", "Form1 up L at 200,150", "Form1 dblclick",
        "Form1 down L double at 200,150", "Form1 up L at 200,150"}},
  };
  for (const auto& c : cases) {
    log.Events.clear();
    c.send(widget);
    EXPECT_EQ(log.Events, c.events) << c.what;
    CloseMenus();
  }
}

TEST_F(QtBackendTest, RightReleaseOverAWindowlessControlPopsUpItsMenuOrItsParentsMenu) {
  auto* label = new TLabel(Form);
  label->SetParent(Form);
  label->SetCaption("label");
  label->SetBounds(20, 20, 80, 20);
  auto* labelMenu = new TPopupMenu(Form);
  AddItem(*labelMenu, "Label item", nullptr);
  auto* formMenu = new TPopupMenu(Form);
  AddItem(*formMenu, "Form item", nullptr);
  QWidget* widget = FormWidget();
  ASSERT_NE(widget, nullptr);

  const struct {
    const char* what;
    TPopupMenu* labelHas;
    TPopupMenu* formHas;
    QPoint press;
    QPoint release;
    const char* shownItem;  // nullptr: no menu
    TComponent* popupComponent;
  } cases[] = {
      {"the label's own", labelMenu, formMenu, {30, 25}, {30, 25}, "Label item", label},
      {"the parent's", nullptr, formMenu, {30, 25}, {30, 25}, "Form item", label},
      {"the form's, off the label", labelMenu, formMenu, {200, 150}, {200, 150}, "Form item", Form},
      {"released off the label it was pressed on",
       labelMenu,
       nullptr,
       {30, 25},
       {200, 150},
       nullptr,
       nullptr},
      {"nobody has one", nullptr, nullptr, {30, 25}, {30, 25}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    label->SetPopupMenu(c.labelHas);
    Form->SetPopupMenu(c.formHas);
    SendClick(widget, Qt::RightButton, c.press, c.release);
    std::vector<QMenu*> shown = VisibleMenus();
    if (!c.shownItem) {
      EXPECT_TRUE(shown.empty()) << c.what;
    } else if (shown.size() != 1u) {
      ADD_FAILURE() << c.what << ": " << shown.size() << " menus shown";
    } else {
      EXPECT_EQ(ActionTexts(*shown[0]), (std::vector<std::string>{c.shownItem})) << c.what;
      EXPECT_EQ(shown[0]->pos(), widget->mapToGlobal(c.release)) << c.what;
      TPopupMenu* menu = c.labelHas && c.popupComponent == label ? c.labelHas : c.formHas;
      EXPECT_EQ(menu->PopupComponent(), c.popupComponent) << c.what;
    }
    CloseMenus();
  }
}

TEST_F(QtBackendTest, ContextMenuOfAWindowedControlShowsItsPopupMenu) {
  auto* button = new TButton(Form);
  button->SetParent(Form);
  button->SetBounds(10, 10, 75, 25);
  auto* menu = new TPopupMenu(Form);
  AddItem(*menu, "Button item", nullptr);
  QWidget* widget = WidgetOf(*button);
  ASSERT_NE(widget, nullptr);

  QContextMenuEvent without(QContextMenuEvent::Mouse, QPoint(5, 5),
                            widget->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(widget, &without);
  EXPECT_TRUE(VisibleMenus().empty());

  button->SetPopupMenu(menu);
  QContextMenuEvent with(QContextMenuEvent::Mouse, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(widget, &with);
  ASSERT_EQ(VisibleMenus().size(), 1u);
  EXPECT_EQ(ActionTexts(*VisibleMenus()[0]), (std::vector<std::string>{"Button item"}));
  EXPECT_EQ(menu->PopupComponent(), button);
}

TEST_F(QtBackendTest, ClipboardTextGoesToTheDesktopsClipboardInTheCodePage) {
  Clipboard().SetAsText("caf\xE9 au lait");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("caf\u00e9 au lait"));
  EXPECT_EQ(Clipboard().AsText(), "caf\xE9 au lait");

  Clipboard().SetAsText(std::string("up to\0here", 10));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("up to"));

  QGuiApplication::clipboard()->setText(QString::fromUtf8("\u20ac 5"));
  EXPECT_EQ(Clipboard().AsText(), "? 5") << "a character outside the code page";
}

// A 4 x 3 cursor with every kind of pixel; its hot spot at (2, 1).
constexpr std::array<std::string_view, 3> SmallCursor = {"Xo.~", "oXXo", "...."};

TEST_F(QtBackendTest, CursorOfARegisteredNumberIsItsBitmapWithItsHotSpot) {
  const auto bytes = CursorImageFromArt<4, 3>(SmallCursor, 2, 1);
  Screen->SetCursorShape(7, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  auto* label = new TLabel(Form);
  label->SetParent(Form);
  label->SetBounds(0, 0, 50, 20);
  QWidget* widget = FormWidget();
  ASSERT_NE(widget, nullptr);

  const struct {
    TCursor cursor;
    Qt::CursorShape shape;
  } cases[] = {
      {7, Qt::BitmapCursor},
      {8, Qt::ArrowCursor},  // a positive number without an entry
      {crHandPoint, Qt::PointingHandCursor},
      {crIBeam, Qt::IBeamCursor},
  };
  for (const auto& c : cases) {
    label->SetCursor(c.cursor);
    SendMouse(widget, QEvent::MouseMove, QPoint(10, 10));
    EXPECT_EQ(widget->cursor().shape(), c.shape) << c.cursor;
  }

  label->SetCursor(7);
  SendMouse(widget, QEvent::MouseMove, QPoint(10, 10));
  const QCursor cursor = widget->cursor();
  ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
  EXPECT_EQ(cursor.hotSpot(), QPoint(2, 1));
  const QImage bitmap = cursor.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage mask = cursor.mask().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(bitmap.size(), QSize(4, 3));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const char pixel = SmallCursor[y][x];
      // A bitmap bit of 1 (black) where the pixel is black or inverted; mask 1 where opaque.
      const bool bitmapSet = bitmap.pixel(x, y) == qRgb(0, 0, 0);
      const bool maskSet = mask.pixel(x, y) == qRgb(0, 0, 0);
      EXPECT_EQ(bitmapSet, pixel == 'X' || pixel == '~') << x << "," << y;
      EXPECT_EQ(maskSet, pixel == 'X' || pixel == 'o') << x << "," << y;
    }
  }

  // Off the label, the form's own cursor (the default) again.
  SendMouse(widget, QEvent::MouseMove, QPoint(200, 150));
  EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(QtBackendTest, WindowedControlTakesARegisteredCursorToo) {
  const auto bytes = CursorImageFromArt<4, 3>(SmallCursor, 3, 2);
  Screen->SetCursorShape(9, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  auto* button = new TButton(Form);
  button->SetParent(Form);
  button->SetCursor(9);
  QWidget* widget = WidgetOf(*button);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(3, 2));
}

}  // namespace
