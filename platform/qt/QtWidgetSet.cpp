#include "QtWidgetSet.h"

#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QWidget>
#include <cstdlib>
#include <map>
#include <string>

#include "CursorImage.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

namespace {

const char* const ControlProperty = "tavrixControl";

// A measuring aid for start-up benchmarks: with TAVRIX_QUIT_AFTER_FIRST_PAINT=1 in the
// environment, the first paint of a form closes it once that paint is done, so the program ends
// as after a normal close (exit code 0, temporary files deleted) and the time from its start to
// its exit is the time to its first paint. Read once, when the widget set is made.
const char* const QuitAfterFirstPaintVariable = "TAVRIX_QUIT_AFTER_FIRST_PAINT";
bool GQuitAfterFirstPaint = false;

QString ToQString(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

QColor ToQColor(uint32_t rgb) {
  return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>((rgb >> 16) & 0xFF));
}

QFont ToQFont(const TFont& font) {
  QFont f(QString::fromLatin1(QtFontFamily(font.Name())));
  int height = font.Height() < 0 ? -font.Height() : font.Height();
  f.setPixelSize(height > 0 ? height : 11);
  f.setBold(font.Style() & FontStyleBit(fsBold));
  f.setItalic(font.Style() & FontStyleBit(fsItalic));
  f.setUnderline(font.Style() & FontStyleBit(fsUnderline));
  f.setStrikeOut(font.Style() & FontStyleBit(fsStrikeOut));
  // Crisp, classic text: the same pixels on every machine.
  f.setStyleStrategy(QFont::NoAntialias);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

Qt::MouseButton FromButton(Qt::MouseButton b) { return b; }

TMouseButton ToMouseButton(Qt::MouseButton b) {
  switch (FromButton(b)) {
    case Qt::RightButton:
      return mbRight;
    case Qt::MiddleButton:
      return mbMiddle;
    default:
      return mbLeft;
  }
}

// The shift-state bit of each modifier key and each held button.
const struct {
  Qt::KeyboardModifier Key;
  TShiftState Bit;
} ModifierBits[] = {
    {Qt::ShiftModifier, ssShift}, {Qt::AltModifier, ssAlt}, {Qt::ControlModifier, ssCtrl}};
const struct {
  Qt::MouseButton Button;
  TShiftState Bit;
} ButtonBits[] = {
    {Qt::LeftButton, ssLeft}, {Qt::RightButton, ssRight}, {Qt::MiddleButton, ssMiddle}};

TShiftState ToShift(Qt::KeyboardModifiers m, Qt::MouseButtons buttons) {
  TShiftState s = 0;
  for (const auto& entry : ModifierBits) {
    if (m & entry.Key) s |= entry.Bit;
  }
  for (const auto& entry : ButtonBits) {
    if (buttons & entry.Button) s |= entry.Bit;
  }
  return s;
}

Qt::CursorShape ToCursorShape(TCursor cursor) {
  switch (cursor) {
    case crHandPoint:
      return Qt::PointingHandCursor;
    case crIBeam:
      return Qt::IBeamCursor;
    case crCross:
      return Qt::CrossCursor;
    case crHourGlass:
      return Qt::WaitCursor;
    case crNo:
      return Qt::ForbiddenCursor;
    case crDrag:
      return Qt::DragMoveCursor;
    default:
      return Qt::ArrowCursor;
  }
}

// A native cursor made from a shape of the screen's cursor table, kept while that number's
// shape stays the same. Emptied when the widget set goes, before the QApplication.
struct TMadeCursor {
  std::string Shape;
  QCursor Cursor;
};

std::map<TCursor, TMadeCursor>& MadeCursors() {
  static std::map<TCursor, TMadeCursor> cursors;
  return cursors;
}

// Qt's bitmap cursor: a bitmap bit 1 is black, a mask bit 1 opaque; bitmap 1 with mask 0
// inverts where the window system can. Hence bitmap = not (AND xor XOR), mask = not AND.
QCursor MakeCursor(const TCursorImage& image) {
  std::vector<uchar> bits(image.AndPlane.size());
  std::vector<uchar> mask(image.AndPlane.size());
  for (std::size_t i = 0; i < bits.size(); ++i) {
    bits[i] = static_cast<uchar>(~(image.AndPlane[i] ^ image.XorPlane[i]));
    mask[i] = static_cast<uchar>(~image.AndPlane[i]);
  }
  const QSize size(image.Width, image.Height);
  return QCursor(QBitmap::fromData(size, bits.data(), QImage::Format_Mono),
                 QBitmap::fromData(size, mask.data(), QImage::Format_Mono), image.HotX, image.HotY);
}

// Positive numbers are the application's: the shape registered in the screen's cursor table,
// or the default arrow when there is none. The others are the standard shapes.
QCursor ToQCursor(TCursor cursor) {
  if (cursor <= 0) return QCursor(ToCursorShape(cursor));
  const std::string* shape = Screen ? Screen->CursorShape(cursor) : nullptr;
  if (!shape) return QCursor(Qt::ArrowCursor);
  auto made = MadeCursors().find(cursor);
  if (made != MadeCursors().end() && made->second.Shape == *shape) return made->second.Cursor;
  std::optional<TCursorImage> image = ReadCursorImage(*shape);
  if (!image) return QCursor(Qt::ArrowCursor);
  QCursor result = MakeCursor(*image);
  MadeCursors()[cursor] = TMadeCursor{*shape, result};
  return result;
}

// The canvas of one paint: a QPainter on the widget being painted.
class TQtCanvas : public TCanvasPeer {
 public:
  explicit TQtCanvas(QPainter& painter) : FPainter(painter) {}

  void FillRect(const TRect& r, uint32_t rgb) override {
    FPainter.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(rgb));
  }
  void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb) override {
    FPainter.setPen(QPen(ToQColor(rgb), 1));
    FPainter.drawLine(x1, y1, x2, y2);
  }
  void TextOut(int32_t x, int32_t y, const std::string& text, const TFont& font, uint32_t rgb,
               bool opaque, uint32_t backgroundRgb) override {
    QFont f = ToQFont(font);
    QFontMetrics metrics(f);
    QString s = ToQString(text);
    FPainter.save();
    FPainter.translate(x, y);
    FPainter.rotate(-font.Escapement() / 10.0);
    if (opaque) {
      FPainter.fillRect(QRect(0, 0, metrics.horizontalAdvance(s), metrics.height()),
                        ToQColor(backgroundRgb));
    }
    FPainter.setFont(f);
    FPainter.setPen(ToQColor(rgb));
    FPainter.drawText(QPoint(0, metrics.ascent()), s);
    FPainter.restore();
  }
  int32_t DrawText(const std::string& text, TRect& rect, uint32_t flags, const TFont& font,
                   uint32_t rgb) override {
    QFont f = ToQFont(font);
    int qtFlags = Qt::AlignTop;
    if (flags & DT_CENTER)
      qtFlags |= Qt::AlignHCenter;
    else if (flags & DT_RIGHT)
      qtFlags |= Qt::AlignRight;
    else
      qtFlags |= Qt::AlignLeft;
    if (flags & DT_WORDBREAK) qtFlags |= Qt::TextWordWrap;
    if (flags & DT_SINGLELINE) qtFlags |= Qt::TextSingleLine;
    if (flags & DT_EXPANDTABS) qtFlags |= Qt::TextExpandTabs;
    qtFlags |= (flags & DT_NOPREFIX) ? 0 : Qt::TextShowMnemonic;
    QRect r(rect.Left, rect.Top, rect.Width(), rect.Height());
    QString s = ToQString(text);
    if (flags & DT_CALCRECT) {
      QRect bound = QFontMetrics(f).boundingRect(r, qtFlags, s);
      rect.Right = rect.Left + bound.width();
      rect.Bottom = rect.Top + bound.height();
      return bound.height();
    }
    FPainter.setFont(f);
    FPainter.setPen(ToQColor(rgb));
    QRect bound;
    FPainter.drawText(r, qtFlags, s, &bound);
    return bound.height();
  }
  TSize TextExtent(const std::string& text, const TFont& font) override {
    QFontMetrics metrics(ToQFont(font));
    return {metrics.horizontalAdvance(ToQString(text)), metrics.height()};
  }
  void PushState(int32_t x, int32_t y, int32_t width, int32_t height) override {
    FPainter.save();
    FPainter.translate(x, y);
    FPainter.setClipRect(QRect(0, 0, width, height), Qt::IntersectClip);
  }
  void PopState() override { FPainter.restore(); }
  void DrawBitmap(const TRect& dest, const TBitmap& bitmap, bool transparent,
                  uint32_t transparentRgb) override {
    if (bitmap.Empty() || dest.Width() <= 0 || dest.Height() <= 0) return;
    // Transparent pixels get alpha 0, so that scaling carries the transparency with them.
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32);
    std::span<const uint32_t> pixels = bitmap.Pixels();
    for (int y = 0; y < bitmap.Height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < bitmap.Width(); ++x) {
        uint32_t rgb =
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.Width()) +
                   static_cast<std::size_t>(x)];
        int alpha = transparent && rgb == transparentRgb ? 0 : 255;
        line[x] = qRgba(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                        static_cast<int>((rgb >> 16) & 0xFF), alpha);
      }
    }
    FPainter.save();
    FPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    FPainter.drawImage(QRect(dest.Left, dest.Top, dest.Width(), dest.Height()), image);
    FPainter.restore();
  }

 private:
  QPainter& FPainter;
};

// The link from a widget back to its control; cleared when the peer goes, so that no event
// reaches a control that is being destroyed.
template <class TBase>
class TLinkedWidget : public TBase {
 public:
  using TBase::TBase;
  TWinControl* Control = nullptr;
  // The peer is going: forget the control and everything that points into it.
  virtual void Unlink() { Control = nullptr; }

 protected:
  // The context menu of a windowed control: its PopupMenu or its nearest parent's, else what
  // the widget shows by itself (a text box's own menu).
  void contextMenuEvent(QContextMenuEvent* e) override {
    bool shown = false;
    if (TWinControl* control = Control) {
      const QPoint at = e->globalPos();
      GuardedCall([&] { shown = control->ContextPopup(at.x(), at.y()); });
    }
    if (shown)
      e->accept();
    else
      TBase::contextMenuEvent(e);
  }
};

// Forms and containers: paint their windowless children and route the mouse to them.
class TContainerWidget : public TLinkedWidget<QWidget> {
 public:
  explicit TContainerWidget(QWidget* parent) : TLinkedWidget<QWidget>(parent) {
    setMouseTracking(true);
  }
  uint32_t Background = 0xC0C0C0;

  // A windowless child that is going away must not stay captured.
  void Unlink() override {
    TLinkedWidget<QWidget>::Unlink();
    FCaptured = nullptr;
  }

 protected:
  // Called after each paint of the client area.
  virtual void Painted() {}

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(Background));
    if (!Control) return;
    TQtCanvas canvas(painter);
    GuardedCall([&] { Control->PaintWindow(canvas); });
    Painted();
  }
  // Qt reports the second press of a double click (by the system's double-click time and
  // distance, the third press being a single one again) as a double-click event instead of a
  // press, which is just what MousePressed asks for.
  void mousePressEvent(QMouseEvent* e) override { Press(e, false); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { Press(e, true); }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (!Control) return;
    const QPoint p = e->position().toPoint();
    TControl* target = Captured();
    FCaptured = nullptr;
    if (!target) target = TargetAt(p);
    const QPoint at = ClientPoint(target, p);
    const bool onSelf = target == Control;
    // A handler may free the target, the container or the whole form: nothing of them is used
    // after a call unless it is still there.
    QPointer<TContainerWidget> self(this);
    GuardedCall([&] {
      target->MouseReleased(ToMouseButton(e->button()), ToShift(e->modifiers(), e->buttons()),
                            at.x(), at.y());
    });
    if (e->button() != Qt::RightButton || !self || !Control) return;
    // The context menu of the windowless child under the point, found afresh, or the
    // container's own for a press and release on the container itself.
    const QPoint global = mapToGlobal(p);
    TControl* over = Control->ControlAtPos(p.x(), p.y());
    if (!over && onSelf && rect().contains(p)) over = Control;
    if (over) GuardedCall([&] { over->ContextPopup(global.x(), global.y()); });
  }
  // Windowless children and the container itself bring up their menus at the right-button
  // release (above); the toolkit's own context-menu event is not passed on to the parents.
  void contextMenuEvent(QContextMenuEvent* e) override { e->accept(); }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!Control) return;
    const QPoint p = e->position().toPoint();
    TControl* hover = Control->ControlAtPos(p.x(), p.y());
    TCursor cursor = hover ? hover->Cursor() : Control->Cursor();
    if (cursor == crDefault)
      unsetCursor();
    else
      setCursor(ToQCursor(cursor));
    TControl* target = Captured();
    if (!target) target = hover ? hover : Control;
    const QPoint at = ClientPoint(target, p);
    GuardedCall([&] { target->MouseMove(ToShift(e->modifiers(), e->buttons()), at.x(), at.y()); });
  }

 private:
  void Press(QMouseEvent* e, bool doubleClick) {
    if (!Control) return;
    const QPoint p = e->position().toPoint();
    TControl* target = TargetAt(p);
    FCaptured = target;
    const QPoint at = ClientPoint(target, p);
    GuardedCall([&] {
      target->MousePressed(ToMouseButton(e->button()), ToShift(e->modifiers(), e->buttons()),
                           at.x(), at.y(), doubleClick);
    });
  }
  // The windowless child under a point, else the container itself.
  TControl* TargetAt(const QPoint& p) const {
    TControl* child = Control->ControlAtPos(p.x(), p.y());
    return child ? child : Control;
  }
  // The control that the last press captured, while it is still this container or one of its
  // children (a handler may have freed it since).
  TControl* Captured() const {
    if (!FCaptured || FCaptured == Control) return FCaptured;
    for (int i = 0; i < Control->ControlCount(); ++i) {
      if (Control->Controls(i) == FCaptured) return FCaptured;
    }
    return nullptr;
  }
  // A point of this widget in the client coordinates of target, the container or a child.
  QPoint ClientPoint(const TControl* target, const QPoint& p) const {
    return target == Control ? p : p - QPoint(target->Left(), target->Top());
  }

  TControl* FCaptured = nullptr;
};

// A form's window: a container that is a top-level window and closes its form.
class TFormWidget : public TContainerWidget {
 public:
  TFormWidget() : TContainerWidget(nullptr) {}

 protected:
  void Painted() override {
    if (GQuitAfterFirstPaint && !FPainted) {
      // Queued, so that the children of the form are painted in this same round first.
      auto closeForm = [this] { close(); };
      QMetaObject::invokeMethod(this, closeForm, Qt::QueuedConnection);
    }
    FPainted = true;
  }
  void closeEvent(QCloseEvent* e) override {
    if (Control) {
      auto* form = static_cast<TCustomForm*>(Control);
      if (!form->Closing()) GuardedCall([form] { form->Close(); });
    }
    e->accept();
  }

 private:
  bool FPainted = false;
};

class TButtonWidget : public TLinkedWidget<QPushButton> {
 public:
  explicit TButtonWidget(QWidget* parent) : TLinkedWidget<QPushButton>(parent) {
    setAutoDefault(false);
    setDefault(false);
    QObject::connect(this, &QPushButton::clicked, [this] {
      if (TWinControl* control = Control) GuardedCall([control] { control->Click(); });
    });
  }
};

class TMemoWidget : public TLinkedWidget<QPlainTextEdit> {
 public:
  explicit TMemoWidget(QWidget* parent) : TLinkedWidget<QPlainTextEdit>(parent) {}
};

// What every peer of this backend has: a widget, through which the factories find the native
// parent of a new peer.
class TQtWidgetHolder {
 public:
  virtual QWidget* Widget() const = 0;

 protected:
  ~TQtWidgetHolder() = default;
};

QWidget* ParentWidget(TWinControlPeer& parent) {
  return dynamic_cast<TQtWidgetHolder&>(parent).Widget();
}

// The calls that every kind makes the same way on its widget; the peer owns the widget.
template <class TInterface, class TWidget>
class TQtPeer : public TInterface, public TQtWidgetHolder {
 public:
  TQtPeer(TWidget* widget, TWinControl& control, Qt::FocusPolicy focus) : FWidget(widget) {
    widget->setFocusPolicy(focus);
    widget->setObjectName(ToQString(control.Name()));
    widget->setProperty(ControlProperty, QVariant::fromValue(static_cast<void*>(&control)));
    widget->Control = &control;
  }
  ~TQtPeer() override {
    if (!FWidget) return;
    FWidget->Unlink();
    FWidget->setProperty(ControlProperty, QVariant());
    delete FWidget.data();
  }
  TQtPeer(const TQtPeer&) = delete;
  TQtPeer& operator=(const TQtPeer&) = delete;

  QWidget* Widget() const override { return FWidget.data(); }

  void SetVisible(bool visible) override {
    if (FWidget) FWidget->setVisible(visible);
  }
  void SetEnabled(bool enabled) override {
    if (FWidget) FWidget->setEnabled(enabled);
  }
  void SetFont(const TFont& font) override {
    if (!FWidget) return;
    QFont f = ToQFont(font);
    // The form's font reaches the windowed children through Qt's font inheritance too.
    FWidget->setFont(f);
    QPalette palette = FWidget->palette();
    palette.setColor(QPalette::WindowText, ToQColor(ColorToRGB(font.Color())));
    palette.setColor(QPalette::ButtonText, ToQColor(ColorToRGB(font.Color())));
    palette.setColor(QPalette::Text, ToQColor(ColorToRGB(font.Color())));
    FWidget->setPalette(palette);
  }
  void SetCursor(TCursor cursor) override {
    if (!FWidget) return;
    if (cursor == crDefault)
      FWidget->unsetCursor();
    else
      FWidget->setCursor(ToQCursor(cursor));
  }
  void SetFocus() override {
    if (FWidget) FWidget->setFocus(Qt::OtherFocusReason);
  }
  bool Focused() const override { return FWidget && FWidget->hasFocus(); }
  void Invalidate() override {
    if (FWidget) FWidget->update();
  }

 protected:
  // Children of another widget are placed in its client area.
  void PlaceChild(const TRect& b) {
    if (FWidget) FWidget->setGeometry(b.Left, b.Top, b.Width(), b.Height());
  }

  QPointer<TWidget> FWidget;
};

class TQtFormPeer : public TQtPeer<TFormPeer, TFormWidget> {
 public:
  TQtFormPeer(TFormWidget* widget, TCustomForm& form)
      : TQtPeer<TFormPeer, TFormWidget>(widget, form, Qt::NoFocus) {}

  void SetBounds(const TRect& b) override {
    if (!FWidget) return;
    FWidget->move(b.Left, b.Top);
    FWidget->setFixedSize(b.Width(), b.Height());
  }
  void SetColor(uint32_t rgb) override {
    if (!FWidget) return;
    FWidget->Background = rgb;
    FWidget->update();
  }
  void SetCaption(const std::string& caption) override {
    if (FWidget) FWidget->setWindowTitle(ToQString(caption));
  }
  // A window is brought forward by activating it; raising is for widgets among siblings.
  void BringToFront() override {
    if (FWidget) FWidget->activateWindow();
  }
};

class TQtContainerPeer : public TQtPeer<TContainerPeer, TContainerWidget> {
 public:
  TQtContainerPeer(TContainerWidget* widget, TWinControl& control)
      : TQtPeer<TContainerPeer, TContainerWidget>(widget, control, Qt::NoFocus) {}

  void SetBounds(const TRect& b) override { PlaceChild(b); }
  void SetColor(uint32_t rgb) override {
    if (!FWidget) return;
    FWidget->Background = rgb;
    FWidget->update();
  }
  void BringToFront() override {
    if (FWidget) FWidget->raise();
  }
};

class TQtButtonPeer : public TQtPeer<TButtonPeer, TButtonWidget> {
 public:
  TQtButtonPeer(TButtonWidget* widget, TButton& button)
      : TQtPeer<TButtonPeer, TButtonWidget>(widget, button, Qt::StrongFocus) {}

  void SetBounds(const TRect& b) override { PlaceChild(b); }
  // The button face keeps the palette's colour.
  void SetColor(uint32_t /*rgb*/) override {}
  void SetCaption(const std::string& caption) override {
    if (FWidget) FWidget->setText(ToQString(caption));
  }
};

class TQtMemoPeer : public TQtPeer<TMemoPeer, TMemoWidget> {
 public:
  TQtMemoPeer(TMemoWidget* widget, TMemo& memo)
      : TQtPeer<TMemoPeer, TMemoWidget>(widget, memo, Qt::StrongFocus) {}

  void SetBounds(const TRect& b) override { PlaceChild(b); }
  void SetColor(uint32_t rgb) override {
    if (!FWidget) return;
    QPalette palette = FWidget->palette();
    palette.setColor(QPalette::Base, ToQColor(rgb));
    FWidget->setPalette(palette);
  }
  void SetLines(const std::string& text) override {
    if (FWidget) FWidget->setPlainText(ToQString(text));
  }
  void SetMemoOptions(bool readOnly, bool wordWrap, bool vertical, bool horizontal) override {
    if (!FWidget) return;
    TMemoWidget& memo = *FWidget;
    memo.setReadOnly(readOnly);
    if (readOnly) {
      memo.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    memo.setLineWrapMode(wordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    memo.setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    memo.setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  }
};

QPalette ClassicPalette() {
  QPalette p;
  auto set = [&](QPalette::ColorRole role, TColor color) {
    p.setColor(role, ToQColor(ColorToRGB(color)));
  };
  set(QPalette::Window, clBtnFace);
  set(QPalette::WindowText, clWindowText);
  set(QPalette::Base, clWindow);
  set(QPalette::AlternateBase, clWindow);
  set(QPalette::Text, clWindowText);
  set(QPalette::Button, clBtnFace);
  set(QPalette::ButtonText, clBtnText);
  set(QPalette::Highlight, clHighlight);
  set(QPalette::HighlightedText, clHighlightText);
  set(QPalette::Light, clBtnHighlight);
  set(QPalette::Midlight, cl3DLight);
  set(QPalette::Dark, clBtnShadow);
  set(QPalette::Mid, clBtnShadow);
  set(QPalette::Shadow, cl3DDkShadow);
  p.setColor(QPalette::Disabled, QPalette::Text, ToQColor(ColorToRGB(clGrayText)));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, ToQColor(ColorToRGB(clGrayText)));
  p.setColor(QPalette::Disabled, QPalette::WindowText, ToQColor(ColorToRGB(clGrayText)));
  return p;
}

}  // namespace

const char* QtFontFamily(const std::string& name) {
  if (SameText(name, "Arial") || SameText(name, "MS Sans Serif") || SameText(name, "Helvetica")) {
    return "Liberation Sans";
  }
  if (SameText(name, "Times New Roman")) return "Liberation Serif";
  if (SameText(name, "Courier New")) return "Liberation Mono";
  return "DejaVu Sans";
}

TQtWidgetSet::TQtWidgetSet(int& argc, char** argv) {
  FApp = std::make_unique<QApplication>(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(ClassicPalette());
  QApplication::setQuitOnLastWindowClosed(false);
  const char* quitAfterFirstPaint = std::getenv(QuitAfterFirstPaintVariable);
  GQuitAfterFirstPaint = quitAfterFirstPaint && std::string(quitAfterFirstPaint) == "1";
  SetWidgetSet(this);
  FScreenImage = std::make_unique<QImage>(1, 1, QImage::Format_RGB32);
  FScreenPainter = std::make_unique<QPainter>(FScreenImage.get());
  FScreenCanvas = std::make_unique<TQtCanvas>(*FScreenPainter);
  SetScreenCanvasPeer(FScreenCanvas.get());
}

TQtWidgetSet::~TQtWidgetSet() {
  MadeCursors().clear();
  SetScreenCanvasPeer(nullptr);
  FScreenCanvas.reset();
  FScreenPainter.reset();
  FScreenImage.reset();
  if (WidgetSet() == this) SetWidgetSet(nullptr);
}

std::unique_ptr<TFormPeer> TQtWidgetSet::CreateFormPeer(TCustomForm& form) {
  auto* widget = new TFormWidget();
  if (form.BorderStyle() == bsDialog) {
    widget->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  }
  return std::make_unique<TQtFormPeer>(widget, form);
}

std::unique_ptr<TContainerPeer> TQtWidgetSet::CreateContainerPeer(TWinControl& control,
                                                                  TWinControlPeer& parent) {
  return std::make_unique<TQtContainerPeer>(new TContainerWidget(ParentWidget(parent)), control);
}

std::unique_ptr<TButtonPeer> TQtWidgetSet::CreateButtonPeer(TButton& button,
                                                            TWinControlPeer& parent) {
  return std::make_unique<TQtButtonPeer>(new TButtonWidget(ParentWidget(parent)), button);
}

std::unique_ptr<TMemoPeer> TQtWidgetSet::CreateMemoPeer(TMemo& memo, TWinControlPeer& parent) {
  return std::make_unique<TQtMemoPeer>(new TMemoWidget(ParentWidget(parent)), memo);
}

void TQtWidgetSet::Run() {
  // A quit asked for before the loop started (a form closed while it was created) holds.
  if (!FQuitRequested) QApplication::exec();
  FQuitRequested = false;
}

void TQtWidgetSet::Quit() {
  FQuitRequested = true;
  QApplication::quit();
}

void TQtWidgetSet::ProcessMessages() { QApplication::processEvents(); }

int TQtWidgetSet::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  QMessageBox box((flags & MB_ICONSTOP) ? QMessageBox::Critical : QMessageBox::NoIcon,
                  ToQString(caption), ToQString(text), QMessageBox::Ok);
  box.exec();
  return 1;  // OK
}

TWinControl* TQtWidgetSet::FocusedControl() {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    QVariant link = w->property(ControlProperty);
    if (link.isValid()) return static_cast<TWinControl*>(link.value<void*>());
  }
  return nullptr;
}

void TQtWidgetSet::PopupMenu(TPopupMenu& menu, int32_t x, int32_t y) {
  auto* popup = new QMenu();
  // Hidden when an item is chosen or the menu is dismissed; deleted once back in the loop.
  QObject::connect(popup, &QMenu::aboutToHide, popup, &QObject::deleteLater);
  const TMenuItem& items = menu.Items();
  for (int i = 0; i < items.Count(); ++i) {
    TMenuItem* item = items.Items(i);
    if (item->Caption() == "-") {
      popup->addSeparator();
      continue;
    }
    QAction* action = popup->addAction(ToQString(item->Caption()));
    QObject::connect(action, &QAction::triggered, [alive = item->Alive()] {
      if (auto held = alive.lock()) {
        TMenuItem* chosen = *held;
        GuardedCall([chosen] { chosen->Click(); });
      }
    });
  }
  popup->popup(QPoint(x, y));
}

void TQtWidgetSet::SetClipboardText(const std::string& text) {
  QGuiApplication::clipboard()->setText(ToQString(text));
}

std::string TQtWidgetSet::ClipboardText() {
  // Characters outside the code page come back as "?", as the classic text format gives them.
  const QByteArray bytes = QGuiApplication::clipboard()->text().toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void TQtWidgetSet::SetApplicationIcon(const TBitmap& icon, uint32_t transparentRgb) {
  QImage image(icon.Width(), icon.Height(), QImage::Format_ARGB32);
  for (int32_t y = 0; y < icon.Height(); ++y) {
    for (int32_t x = 0; x < icon.Width(); ++x) {
      const uint32_t rgb = icon.Pixel(x, y);
      const QColor colour = ToQColor(rgb);
      image.setPixel(x, y, rgb == transparentRgb ? qRgba(0, 0, 0, 0) : colour.rgb());
    }
  }
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
}
