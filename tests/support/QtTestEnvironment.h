// One Qt widget set for a whole test program, on Qt's offscreen platform, and ways to reach
// the widgets that the backend made. Header only: include it from tests that link tavrix_qt
// and Qt6::Widgets, and register the environment once per program:
//   const auto* const GQt = ::testing::AddGlobalTestEnvironment(new TQtTestEnvironment);
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QVariant>
#include <QWidget>
#include <memory>

#include "QtWidgetSet.h"

class TQtTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tavrix-test";
    static char* argv[] = {name, nullptr};
    FWidgetSet = std::make_unique<TQtWidgetSet>(argc, argv);
  }
  void TearDown() override { FWidgetSet.reset(); }

 private:
  std::unique_ptr<TQtWidgetSet> FWidgetSet;
};

// The widget that the backend made for a windowed control, or nullptr. The backend links each
// of its widgets to the control through the "tavrixControl" property.
inline QWidget* WidgetOf(const TWinControl& control) {
  for (QWidget* w : QApplication::allWidgets()) {
    QVariant link = w->property("tavrixControl");
    if (link.isValid() && link.value<void*>() == static_cast<const void*>(&control)) return w;
  }
  return nullptr;
}

// The popup menus now shown.
inline std::vector<QMenu*> VisibleMenus() {
  std::vector<QMenu*> menus;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) menus.push_back(menu);
  }
  return menus;
}

// Hides every popup menu and lets the deletions that hiding schedules run.
inline void CloseMenus() {
  for (QMenu* menu : VisibleMenus()) menu->hide();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

// Sends a mouse event straight to a widget, at a point in its own coordinates. A press (and the
// double-click event that stands for a second press) holds its button down; a release and a
// move hold none.
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint at,
                      Qt::MouseButton button = Qt::NoButton) {
  const bool down = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
  const Qt::MouseButtons held = down ? Qt::MouseButtons(button) : Qt::MouseButtons(Qt::NoButton);
  QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

// A press and a release of one button at two points of a widget.
inline void SendClick(QWidget* widget, Qt::MouseButton button, QPoint press, QPoint release) {
  SendMouse(widget, QEvent::MouseButtonPress, press, button);
  SendMouse(widget, QEvent::MouseButtonRelease, release, button);
}

// A double click at one point as Qt delivers it to a widget: a press and a release, then a
// double-click event in place of the second press, and its release.
inline void SendDoubleClick(QWidget* widget, Qt::MouseButton button, QPoint at) {
  SendClick(widget, button, at, at);
  SendMouse(widget, QEvent::MouseButtonDblClick, at, button);
  SendMouse(widget, QEvent::MouseButtonRelease, at, button);
}
