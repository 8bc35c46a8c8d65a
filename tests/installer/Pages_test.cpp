// The two pages of the setup program rendered by the real form under Qt's offscreen platform,
// checked on pixels: the frame, the emblem, the captions, the feature list and the link.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>
#include <filesystem>

#include "ObjectText.h"
#include "ProgramResources.h"
#include "Project1.h"
#include "QtTestEnvironment.h"
#include "Resources.h"
#include "TestSupport.h"
#include "Unit1.h"

namespace {

const auto* const GQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtTestEnvironment);

constexpr QRgb PageColour = 0xFFC0C0C0;  // button face
constexpr QRgb Highlight = 0xFFFFFFFF;
constexpr QRgb Shadow = 0xFF808080;

// The installer's own form, without files: the pages do not need them.
class PagesTest : public ::testing::Test {
 protected:
  PagesTest() : FTmp(true) {
    TBytes text = ReadWholeFile(TAVRIX_FORM_TEXT);
    TMemoryStream in, out;
    in.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    in.SetPosition(0);
    ObjectTextToBinary(in, out);
    RegisterResource("TFORM1", std::string(reinterpret_cast<const char*>(out.Memory()),
                                           static_cast<std::size_t>(out.Size())));
    RegisterProgramResources();
    InitApplicationObjects().SetExeName("/opt/tavrix-setup");
    Application->MessageBoxHook = [](const std::string&, const std::string&, uint32_t) {
      return 1;
    };
    Application->Initialize();
    Form1 = static_cast<TForm1*>(Application->CreateForm(TForm1::StaticClassInfo()));
    Form1->Show();
    QApplication::processEvents();
  }
  ~PagesTest() override {
    DoneApplicationObjects();
    Form1 = nullptr;
    ClearResources();
  }

  static QWidget* Window() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "Form1") return w;
    }
    return nullptr;
  }
  static QImage Grab() { return Window()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

  static int CountInRect(const QImage& image, QRect rect, QRgb colour) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      for (int x = rect.left(); x <= rect.right(); ++x) count += image.pixel(x, y) == colour;
    }
    return count;
  }
  // The topmost row of the rectangle's columns [x0, x1] that holds the colour, or -1.
  static int TopRowOf(const QImage& image, QRect rect, QRgb colour) {
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      for (int x = rect.left(); x <= rect.right(); ++x) {
        if (image.pixel(x, y) == colour) return y;
      }
    }
    return -1;
  }

 private:
  TTempDir FTmp;
};

TEST_F(PagesTest, FrameTopEdgeIsBrokenBehindTheEditionLabel) {
  QImage page = Grab();
  const int labelRight = Form1->Label1->Left() + Form1->Label1->Width();
  ASSERT_GT(labelRight, 290);
  // Left of the label the etched frame runs along rows 8 (shadow) and 9 (highlight).
  for (int x : {20, 150, 270}) {
    EXPECT_EQ(page.pixel(x, 8), Shadow) << x;
    EXPECT_EQ(page.pixel(x, 9), Highlight) << x;
  }
  // Under the label's leading blank the page colour covers both rows.
  EXPECT_EQ(page.pixel(281, 8), PageColour);
  EXPECT_EQ(page.pixel(281, 9), PageColour);
  // Past its trailing blank the frame shows again.
  EXPECT_EQ(page.pixel(labelRight + 2, 8), Shadow);
  EXPECT_EQ(page.pixel(labelRight + 2, 9), Highlight);
}

TEST_F(PagesTest, EmblemSitsSevenRightSixDownWithItsAquaNotDrawn) {
  QImage page = Grab();
  const QRect box(16, 16, 65, 57);
  EXPECT_EQ(CountInRect(page, box, 0xFF00FFFF), 0) << "aqua pixels must let the page show";
  // The globe's sea at emblem pixel (24, 15), lime land at (20, 6) beside the white shine.
  EXPECT_EQ(page.pixel(16 + 7 + 24, 16 + 6 + 15), 0xFF0000FF);
  EXPECT_EQ(page.pixel(16 + 7 + 20, 16 + 6 + 6), 0xFF00FF00);
  EXPECT_EQ(page.pixel(16 + 7 + 18, 16 + 6 + 6), 0xFFFFFFFF);
  // The stand's navy foot ends one pixel above the emblem's transparent bottom rows.
  EXPECT_EQ(page.pixel(16 + 7 + 12, 16 + 6 + 41), 0xFF000080);
  EXPECT_EQ(page.pixel(16 + 7 + 12, 16 + 6 + 42), PageColour);
  // Nothing of it strays left of or above its place.
  EXPECT_EQ(CountInRect(page, QRect(16, 16, 7, 57), 0xFF000080), 0);
  EXPECT_EQ(CountInRect(page, QRect(16, 16, 65, 6), 0xFF000080), 0);
}

TEST_F(PagesTest, SloganAloneIsTurned) {
  QImage page = Grab();
  constexpr QRgb Maroon = 0xFF800000;
  constexpr QRgb Navy = 0xFF000080;
  const TRotateLabel* slogan = Form1->RotateLabel6;
  const QRect box(slogan->Left(), slogan->Top(), slogan->Width(), slogan->Height());
  const int quarter = box.width() / 4;
  const int leftTop = TopRowOf(page, QRect(box.left(), box.top(), quarter, box.height()), Maroon);
  const int rightTop =
      TopRowOf(page, QRect(box.right() - quarter, box.top(), quarter, box.height()), Maroon);
  ASSERT_GE(leftTop, 0);
  ASSERT_GE(rightTop, 0);
  EXPECT_GE(leftTop - rightTop, 6) << "turned 3 degrees counterclockwise, the end rises";

  // The title, level: its capitals start on one row from end to end.
  const TRotateLabel* title = Form1->RotateLabel2;
  const QRect tbox(title->Left(), title->Top(), title->Width(), title->Height());
  const int tq = tbox.width() / 4;
  const int titleLeft = TopRowOf(page, QRect(tbox.left(), tbox.top(), tq, tbox.height()), Navy);
  const int titleRight =
      TopRowOf(page, QRect(tbox.left() + tq, tbox.top(), tq, tbox.height()), Navy);
  ASSERT_GE(titleLeft, 0);
  EXPECT_LE(std::abs(titleLeft - titleRight), 1);
}

TEST_F(PagesTest, FeatureListStaysInItsBoxUnderTheClosingLine) {
  QImage page = Grab();
  const TRotateLabel* features = Form1->RotateLabel3;
  EXPECT_EQ(features->Width(), 361);
  EXPECT_EQ(features->Height(), 65);
  // Its text is drawn inside the box ...
  EXPECT_GT(CountInRect(page, QRect(16, 112, 361, 60), 0xFF000000), 50);
  // ... and nothing of it below the box, where only the frame's inner rows follow.
  EXPECT_EQ(CountInRect(page, QRect(16, 177, 361, 6), 0xFF000000), 0);
  // The closing line lies over the box's last two rows: highlight, then shadow.
  for (int x : {16, 100, 200, 384}) {
    EXPECT_EQ(page.pixel(x, 175), Highlight) << x;
    EXPECT_EQ(page.pixel(x, 176), Shadow) << x;
  }
  // The opening line: highlight on row 104, shadow on 105.
  EXPECT_EQ(page.pixel(200, 104), Highlight);
  EXPECT_EQ(page.pixel(200, 105), Shadow);
}

TEST_F(PagesTest, LinkIsNavyNotUnderlinedWithTheHandCursor) {
  QImage page = Grab();
  constexpr QRgb Navy = 0xFF000080;
  const TUrlLabel* link = Form1->UrlLabel1;
  const QRect box(link->Left(), link->Top(), link->Width(), link->Height());
  EXPECT_GT(CountInRect(page, box, Navy), 20);
  EXPECT_EQ(CountInRect(page, box, 0xFF0000FF), 0) << "not the link colour of its class";
  // No row of the box is an underline: none is navy over most of the text's width.
  for (int y = box.top(); y <= box.bottom(); ++y) {
    EXPECT_LT(CountInRect(page, QRect(box.left(), y, box.width(), 1), Navy), box.width() / 2)
        << "row " << y;
  }
  // Hovering over it shows the hand pointer.
  QWidget* splash = Window()->childAt(box.center());
  ASSERT_NE(splash, nullptr);
  const QPoint at = splash->mapFrom(Window(), box.center());
  QMouseEvent move(QEvent::MouseMove, at, splash->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(splash, &move);
  EXPECT_EQ(splash->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(PagesTest, LicencePageShowsItsHeadingAndNotice) {
  Form1->Notebook1->SetActivePage("License");
  QApplication::processEvents();
  QImage page = Grab();
  constexpr QRgb Navy = 0xFF000080;
  EXPECT_GT(CountInRect(page, QRect(8, 8, 310, 19), Navy), 50) << "the heading";
  EXPECT_GT(CountInRect(page, QRect(8, 216, 201, 14), 0xFF000000), 30) << "the rights notice";
  // Raised lettering: the highlight layer shows up and left of the navy face.
  EXPECT_GT(CountInRect(page, QRect(8, 8, 310, 19), Highlight), 20);
}

TEST_F(PagesTest, WindowsCarryTheProgramIconWithoutItsAquaBackground) {
  const QIcon icon = QApplication::windowIcon();
  ASSERT_FALSE(icon.isNull());
  const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(32, 32));
  EXPECT_EQ(qAlpha(image.pixel(0, 31)), 0) << "the aqua corner is not drawn";
  EXPECT_EQ(image.pixel(10, 18) & 0xFFFFFF, 0x008080u) << "the screen's teal glass";
}

}  // namespace
