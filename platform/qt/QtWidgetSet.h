// The Qt 6 Widgets backend of the forms layer: the only place that sees Qt.
//
// Every call from Qt into our code (a paint, a click, a mouse event, a close request) goes
// through GuardedCall, so that no exception of ours travels through Qt's frames.
//
// For start-up benchmarks only: TAVRIX_QUIT_AFTER_FIRST_PAINT=1 in the environment makes a
// form close itself right after its first paint, which ends the program normally.
#pragma once

#include <memory>

#include "Controls.h"

class QApplication;
class QImage;
class QPainter;

class TQtWidgetSet : public TWidgetSet {
 public:
  // Makes the QApplication; argc must outlive the widget set. Sets itself as the widget set in
  // use, the classic palette and the screen's text measurer.
  TQtWidgetSet(int& argc, char** argv);
  ~TQtWidgetSet() override;
  TQtWidgetSet(const TQtWidgetSet&) = delete;
  TQtWidgetSet& operator=(const TQtWidgetSet&) = delete;

  // A form is a top-level widget (a dialog window for bsDialog), containers are plain widgets
  // that paint their windowless children, buttons are push buttons, memos plain-text editors.
  std::unique_ptr<TFormPeer> CreateFormPeer(TCustomForm& form) override;
  std::unique_ptr<TContainerPeer> CreateContainerPeer(TWinControl& control,
                                                      TWinControlPeer& parent) override;
  std::unique_ptr<TButtonPeer> CreateButtonPeer(TButton& button, TWinControlPeer& parent) override;
  std::unique_ptr<TMemoPeer> CreateMemoPeer(TMemo& memo, TWinControlPeer& parent) override;
  void Run() override;
  void Quit() override;
  void ProcessMessages() override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  TWinControl* FocusedControl() override;
  void SetApplicationIcon(const TBitmap& icon, uint32_t transparentRgb) override;
  // A QMenu with one action per item, popped up without waiting; it deletes itself once hidden.
  void PopupMenu(TPopupMenu& menu, int32_t x, int32_t y) override;
  void SetClipboardText(const std::string& text) override;
  std::string ClipboardText() override;

 private:
  std::unique_ptr<QApplication> FApp;
  // The screen's canvas: a painter on a one-pixel image, used for measuring text.
  std::unique_ptr<QImage> FScreenImage;
  std::unique_ptr<QPainter> FScreenPainter;
  std::unique_ptr<TCanvasPeer> FScreenCanvas;
  bool FQuitRequested = false;
};

// The Qt font family that a font name of the descriptions stands for ("Arial" -> a metric-
// compatible sans face, "MS Sans Serif" -> an explicitly chosen sans face).
const char* QtFontFamily(const std::string& name);
