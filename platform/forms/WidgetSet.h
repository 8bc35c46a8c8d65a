// The interface between the portable controls and a toolkit backend: one small peer interface
// per kind of windowed control, and the widget set that makes them and runs the event loop.
//
// A backend implements every interface below; each call is pure virtual, so a backend that lacks
// a kind, or a call of one, does not compile. Nothing here sees a toolkit header.
//
// Who owns what
//   - A windowed control (TWinControl) owns its peer through a std::unique_ptr; the peer owns the
//     native window that it made. The controls keep every property themselves and push it to the
//     peer: a peer holds no state that the control could not push again.
//   - Windowless controls (labels, bevels, images) have no peer: their parent's peer asks the
//     parent to paint them (PaintWindow) and hands them the mouse (see "From the backend").
//   - The widget set is made once by the program's main, before any control has a peer, and
//     outlives every peer. It registers itself with SetWidgetSet, and lends the screen's canvas
//     for measuring text outside a paint with SetScreenCanvasPeer (Graphics.h); it takes both
//     back when it goes.
//
// The order of calls
//   - Creation: a control gets its peer when it is shown or needs one, and never before its
//     parent has one: the parent's peer is made first, then the control's, then those of its
//     windowed children, in their order. A form is always a top-level window; every other kind
//     is made inside the peer of its parent control (which this widget set made, and which may be
//     of any kind). A control without a parent has no peer, and neither have its children.
//   - Right after the factory returns, the control pushes its whole state, in this order:
//     SetBounds, SetFont, SetColor, SetCursor, SetEnabled, then the calls of its kind (a caption,
//     a memo's options and lines), and SetVisible last. A new peer is hidden until then.
//   - Later the control calls a setter whenever the property changes; the values are complete
//     (not differences) and may repeat the current ones.
//   - Destruction: the peers of the windowed children are destroyed before the parent's. A form's
//     peer goes first thing in the form's destructor, before its controls are destroyed. Once its
//     destructor has run, a peer must make no call into its control. A peer may be destroyed
//     from within a call that its own native window made into the controls (a click handler
//     that frees its control): the backend must not touch the peer or the control after such a
//     call returns.
//
// Coordinates and colours
//   - Bounds of a form: Left and Top place the window on the screen (its frame's top-left, as the
//     window system places it), Width and Height are its client area, which the user cannot
//     resize. Bounds of every other kind are relative to the client area of the parent's peer.
//   - Mouse positions given to the controls are in the receiving control's client coordinates
//     (for a windowless child: the point minus the child's Left and Top); menus pop up at screen
//     points.
//   - Colours reach a peer resolved to RGB (0x00BBGGRR); system colours are resolved by the
//     controls from the classic palette.
//
// From the backend into the controls
//   Every call from the toolkit into our code goes through GuardedCall (declared in Controls.h),
//   so that no exception of ours travels through the toolkit's frames. The calls are:
//   - forms and containers, on every paint: fill the client area with the last SetColor colour,
//     then TWinControl::PaintWindow with a canvas whose origin is the client area's top-left;
//   - forms and containers, on a mouse press, release or move over their client area: the target
//     is the windowless child under the point (TWinControl::ControlAtPos), else the form or
//     container itself. A press captures its target until the release, which goes to it
//     wherever the pointer is; moves go to the captured target, else to the one under the
//     pointer. The calls are TControl::MousePressed (with the double-click flag, whose rule
//     Controls.h states), MouseReleased and MouseMove. The shape of the mouse pointer is the
//     Cursor of the child under it, else that of the container (crDefault: the toolkit's
//     default arrow; positive numbers: the shape that the screen's cursor table holds for them,
//     see CursorImage.h). A captured child that its parent no longer holds is forgotten, and
//     nothing is used after a call that the call may have freed;
//   - after a right-button release: TControl::ContextPopup at the screen point, on the windowless
//     child under the point (looked up again), else on the container when the press was on the
//     container itself; a windowed control's native context-menu request likewise, falling back
//     to the toolkit's own menu (a text box's) when it returns false;
//   - a button's native click (mouse, Enter or Space): TControl::Click. Buttons and memos keep
//     the toolkit's own mouse handling otherwise;
//   - the user closing a form's window (the close box): TCustomForm::Close, unless the form is
//     already Closing;
//   - a chosen popup-menu item: TMenuItem::Click.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Graphics.h"

class TButton;
class TCustomForm;
class TMemo;
class TPopupMenu;
class TWinControl;

// A mouse pointer shape: 0 and negative numbers are the standard shapes (crDefault .. crHandPoint
// in Controls.h), positive numbers the application's, looked up in the screen's cursor table.
using TCursor = int32_t;

// Message box flags, as the classic message box takes them.
inline constexpr uint32_t MB_OK = 0x00000000;
inline constexpr uint32_t MB_ICONSTOP = 0x00000010;
inline constexpr uint32_t MB_TASKMODAL = 0x00002000;

// The calls that every kind of peer takes.
class TWinControlPeer {
 public:
  virtual ~TWinControlPeer() = default;
  // See "Coordinates" above for what the rectangle means for a form and for the other kinds.
  virtual void SetBounds(const TRect& bounds) = 0;
  // Shows or hides the native window (for a form: the window on the screen).
  virtual void SetVisible(bool visible) = 0;
  // A disabled peer takes no input and shows itself disabled, as the toolkit does.
  virtual void SetEnabled(bool enabled) = 0;
  // The font of the peer's own text, colour included. A form's or container's font also reaches
  // the native children that take the toolkit's inherited font.
  virtual void SetFont(const TFont& font) = 0;
  // The background: a form's or container's client area, a memo's text area. A button keeps the
  // toolkit's button face and may ignore it.
  virtual void SetColor(uint32_t rgb) = 0;
  // The pointer shape over the peer's own area (see "From the backend" for windowless children).
  virtual void SetCursor(TCursor cursor) = 0;
  // Gives the peer the keyboard focus; Focused tells whether it has it now.
  virtual void SetFocus() = 0;
  virtual bool Focused() const = 0;
  // Schedules a repaint of the peer and of the windowless controls it paints.
  virtual void Invalidate() = 0;
};

// A form: a top-level window with a caption and a frame that the window system draws; its client
// area paints the form's windowless children and hands them the mouse. The factory may read the
// form's BorderStyle (bsDialog: a dialog frame without minimise and maximise boxes).
class TFormPeer : public TWinControlPeer {
 public:
  // The window's title.
  virtual void SetCaption(const std::string& caption) = 0;
  // Brings the window to the front and activates it.
  virtual void BringToFront() = 0;
};

// A plain windowed container: a notebook, a notebook's page, a panel. It shows no text of its
// own; it paints its windowless children and hands them the mouse as a form does, and takes no
// keyboard focus of its own.
class TContainerPeer : public TWinControlPeer {
 public:
  // Raises the container above its siblings (the page that a notebook shows).
  virtual void BringToFront() = 0;
};

// A push button: a native button with the classic 3-D look that takes the focus, and calls its
// control's Click when pressed (by the mouse, Enter or Space).
class TButtonPeer : public TWinControlPeer {
 public:
  // The text on the button; "&" marks the accelerator character.
  virtual void SetCaption(const std::string& caption) = 0;
};

// A multi-line text box that takes the focus.
class TMemoPeer : public TWinControlPeer {
 public:
  // Replaces the whole text; lines are separated by one line feed.
  virtual void SetLines(const std::string& text) = 0;
  // readOnly: the user can select and copy but not change the text. wordWrap: lines break at the
  // box's width. vertical, horizontal: whether that scroll bar is always shown (otherwise never).
  virtual void SetMemoOptions(bool readOnly, bool wordWrap, bool vertical, bool horizontal) = 0;
};

// The toolkit backend: makes the peers, runs the event loop, shows message boxes and menus.
class TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;

  // One factory per kind. Each returns a hidden peer linked to its control; the control pushes
  // its state next (see "The order of calls"). parent is the peer of the control's parent, made
  // by this widget set. A failure raises an exception of ours (nothing is made then).
  virtual std::unique_ptr<TFormPeer> CreateFormPeer(TCustomForm& form) = 0;
  virtual std::unique_ptr<TContainerPeer> CreateContainerPeer(TWinControl& control,
                                                              TWinControlPeer& parent) = 0;
  virtual std::unique_ptr<TButtonPeer> CreateButtonPeer(TButton& button,
                                                        TWinControlPeer& parent) = 0;
  virtual std::unique_ptr<TMemoPeer> CreateMemoPeer(TMemo& memo, TWinControlPeer& parent) = 0;

  // Runs the event loop until Quit is called. A Quit that comes before Run (a form closed while
  // it was created) makes Run return at once.
  virtual void Run() = 0;
  virtual void Quit() = 0;
  // Handles the events that are waiting, then returns.
  virtual void ProcessMessages() = 0;
  // Shows a modal box (MB_ICONSTOP: with the stop icon; MB_TASKMODAL: without an owner window)
  // and returns the button pressed (1 for OK).
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;
  // The control whose peer (or a native child of it) has the keyboard focus, or nullptr.
  virtual TWinControl* FocusedControl() = 0;
  // Shows menu's top-level items as a popup menu at the screen point (x, y) and returns at
  // once; "-" as a caption is a separator. Choosing an item calls its Click through GuardedCall,
  // and never for an item that has been destroyed meanwhile.
  virtual void PopupMenu(TPopupMenu& menu, int32_t x, int32_t y) = 0;
  // The clipboard's text in the system's 8-bit code page (characters outside it come back as
  // "?"); setting it replaces the contents, up to the first zero character.
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual std::string ClipboardText() = 0;
  // The icon of every window of the program, present and future; pixels of transparentRgb are
  // not drawn.
  virtual void SetApplicationIcon(const TBitmap& icon, uint32_t transparentRgb) = 0;
};

// The backend in use, or nullptr (then controls make no peers and boxes show nothing). Set once
// at start-up.
TWidgetSet* WidgetSet();
void SetWidgetSet(TWidgetSet* widgetSet);
