// Controls: TControl, the windowed TWinControl and the windowless TGraphicControl.
//
// A windowed control gets its native peer from the toolkit backend (WidgetSet.h, which says how
// peers are made, fed and destroyed). A control stores every property itself and pushes it to its
// peer once the peer exists (and once more when it is created). Windowless controls have no
// peer: their parent paints them, in the order they were added, under its windowed children. No
// toolkit header is seen here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "WidgetSet.h"

class TWinControl;
class TControl;
class TPopupMenu;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// Horizontal placement of text in its box.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crDrag = -12;
inline constexpr TCursor crNo = -18;
inline constexpr TCursor crHandPoint = -21;
std::span<const TIdentMapEntry> CursorIdents();

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// The keys and mouse buttons held during a mouse event, one bit each; ssDouble marks the second
// press of a double click.
using TShiftState = uint8_t;
inline constexpr TShiftState ssShift = 0x01;
inline constexpr TShiftState ssAlt = 0x02;
inline constexpr TShiftState ssCtrl = 0x04;
inline constexpr TShiftState ssLeft = 0x08;
inline constexpr TShiftState ssRight = 0x10;
inline constexpr TShiftState ssMiddle = 0x20;
inline constexpr TShiftState ssDouble = 0x40;

// OnMouseDown and OnMouseUp: sender, button, shift state and the point in the sender's client
// coordinates. OnMouseMove: the same without the button.
using TMouseEvent = TMethodEvent<TMouseButton, TShiftState, int32_t, int32_t>;
using TMouseMoveEvent = TMethodEvent<TShiftState, int32_t, int32_t>;

// Runs a call from the toolkit into our code: an exception of ours never travels through the
// toolkit's frames, it is handed to the application, which reports it and carries on.
void GuardedCall(const std::function<void()>& call) noexcept;
// Who reports what GuardedCall catches; the application sets itself.
void SetGuardExceptionHandler(void (*handler)(const Exception&));

class TControl : public TComponent {
  TAVRIX_CLASS(TControl)

 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* parent);

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t value) { SetBounds(value, FTop, FWidth, FHeight); }
  void SetTop(int32_t value) { SetBounds(FLeft, value, FWidth, FHeight); }
  void SetWidth(int32_t value) { SetBounds(FLeft, FTop, value, FHeight); }
  void SetHeight(int32_t value) { SetBounds(FLeft, FTop, FWidth, value); }
  virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  virtual TRect ClientRect() const { return {0, 0, FWidth, FHeight}; }
  int32_t ClientWidth() const { return ClientRect().Width(); }
  int32_t ClientHeight() const { return ClientRect().Height(); }

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& value);
  TFont& Font() const { return *FFont; }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool value);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value) { FHint = value; }
  // The context menu, shown at a right-button release over the control. A reference: the menu
  // belongs to its owner, and the control forgets it when it is destroyed.
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* value);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  // Whether the control and all its parents are visible.
  bool Showing() const;
  virtual void Invalidate();
  // The notifications of the mouse, each firing its event: Click OnClick, DblClick OnDblClick,
  // MouseDown OnMouseDown and so on. Descendants that replace one call the base to keep the
  // event. Positions are in the control's client coordinates.
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  // From the backend (through GuardedCall) when the pointer moves over the control, or anywhere
  // while a button pressed on it is held.
  virtual void MouseMove(TShiftState shift, int32_t x, int32_t y);

  // From the backend (through GuardedCall): a mouse button went down or up on this control.
  // These turn the system's presses and releases into the notifications above, in the
  // platform's order.
  //
  // The double-click rule. doubleClick is the backend's, which knows the system's double-click
  // time and distance: a press is the second press of a double click when the same button was
  // pressed on the same window within that time and distance of the previous press, and that
  // previous press was not itself the second press of one (a triple click is a double click and
  // then a single press). Whatever the toolkit reports, the backend passes on just this.
  //
  // What follows from it, here and nowhere else:
  //   - a single press: MouseDown(button, shift). A left press arms a click.
  //   - the second press of a double click: for the left button DblClick first; then
  //     MouseDown(button, shift + ssDouble). It arms no click.
  //   - a release: for the left button, when a click is armed, disarm it and Click if (x, y) lies
  //     inside the control; then MouseUp(button, shift).
  // So a double click with the left button is: MouseDown, Click, MouseUp, DblClick,
  // MouseDown (ssDouble), MouseUp; its second press is no click.
  void MousePressed(TMouseButton button, TShiftState shift, int32_t x, int32_t y, bool doubleClick);
  void MouseReleased(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  // From the backend after a right-button release over the control, at that screen point:
  // shows the PopupMenu of this control, or else of the nearest parent that has one, with this
  // control as its PopupComponent. False when none has one.
  bool ContextPopup(int32_t screenX, int32_t screenY);

  bool HasParent() const override { return true; }
  void SetParentComponent(TComponent* parent) override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  virtual void TextChanged() { Invalidate(); }
  virtual void FontChanged();
  virtual void ColorChanged() { Invalidate(); }
  virtual void BoundsChanged() {}
  virtual void VisibleChanged() { Invalidate(); }
  virtual void EnabledChanged() { Invalidate(); }
  // The parent's font or colour changed; take it when following the parent.
  void ParentFontChanged();
  void ParentColorChanged();

  bool IsFontStored() const { return !FParentFont; }
  TFont* FontPtr() const { return FFont.get(); }
  bool IsColorStored() const { return !FParentColor; }

  TWinControl* FParent = nullptr;
  int32_t FLeft = 0;
  int32_t FTop = 0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;

 private:
  friend class TWinControl;
  TAlign FAlign = alNone;
  bool FVisible = true;
  bool FEnabled = true;
  std::string FText;
  std::unique_ptr<TFont> FFont;
  bool FParentFont = true;
  bool FTakingParentFont = false;
  TColor FColor = clBtnFace;
  bool FParentColor = true;
  TCursor FCursor = crDefault;
  std::string FHint;
  TPopupMenu* FPopupMenu = nullptr;
  // A left press armed a click that its release may give.
  bool FClickArmed = false;
};

// A control with a native window of its own, which contains other controls.
class TWinControl : public TControl {
  TAVRIX_CLASS(TWinControl)

 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(static_cast<std::size_t>(index)); }
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  int32_t TabOrder() const { return FTabOrder; }
  void SetTabOrder(int32_t value);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool value) { FTabStop = value; }

  // The native peer, or nullptr while the control has none.
  TWinControlPeer* Peer() const { return FPeer.get(); }
  bool HandleAllocated() const { return FPeer != nullptr; }
  // Creates the peers of this control, its parents and its windowed children as needed. Without
  // a widget set, or for a control other than a form that has no parent, nothing is made.
  void HandleNeeded();
  void DestroyHandle();

  void SetFocus();
  bool Focused() const;
  bool CanFocus() const;
  // The windowed children that take the focus, in tab order.
  std::vector<TWinControl*> TabList() const;
  // The first control that takes the focus, depth first in tab order, or nullptr.
  TWinControl* FindFirstFocusable();
  // Whether control is this one or lies inside it.
  bool ContainsControl(const TControl* control) const;

  // From the backend: paints the windowless children, in order, on the peer's canvas.
  virtual void PaintWindow(TCanvasPeer& canvas);
  // The windowless child under a client point, the last added first, or nullptr.
  TControl* ControlAtPos(int32_t x, int32_t y) const;

  void Invalidate() override;
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void Loaded() override;

  // Lays out the children with an alignment.
  void AlignControls();

 protected:
  // Makes the peer of this control's kind through the widget set's factory for it; a plain
  // windowed control is a container. parent is the parent's peer, or nullptr without a parent
  // (then only a form gets a peer; the others return nullptr).
  virtual std::unique_ptr<TWinControlPeer> CreatePeer(TWidgetSet& widgetSet,
                                                      TWinControlPeer* parent);
  // Pushes the stored state to the freshly made peer, all but the visibility, which follows
  // last. A kind with calls of its own adds them after the base's.
  virtual void InitializePeer();
  // The peer as the kind that this class's CreatePeer makes.
  template <class TPeer>
  TPeer* KindPeer() const {
    return static_cast<TPeer*>(FPeer.get());
  }
  void TextChanged() override;
  void FontChanged() override;
  void ColorChanged() override;
  void BoundsChanged() override;
  void VisibleChanged() override;
  void EnabledChanged() override;

  std::unique_ptr<TWinControlPeer> FPeer;

 private:
  std::vector<TControl*> FControls;
  int32_t FTabOrder = -1;
  bool FTabStop = false;
};

// A control without a window of its own, painted by its parent on the parent's canvas.
class TGraphicControl : public TControl {
  TAVRIX_CLASS(TGraphicControl)

 public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;

  TCanvas& Canvas() { return *FCanvas; }
  // Paints on Canvas, whose peer the parent lends for the time of the call.
  virtual void Paint() {}

 private:
  std::unique_ptr<TCanvas> FCanvas;
};
