#include "Controls.h"

#include <algorithm>
#include <cstdio>

#include "Menus.h"

namespace {

TWidgetSet* GWidgetSet = nullptr;

const TIdentMapEntry AlignNames[] = {{alNone, "alNone"},     {alTop, "alTop"},
                                     {alBottom, "alBottom"}, {alLeft, "alLeft"},
                                     {alRight, "alRight"},   {alClient, "alClient"}};

const TIdentMapEntry CursorNames[] = {
    {crDefault, "crDefault"}, {crArrow, "crArrow"},         {crCross, "crCross"},
    {crIBeam, "crIBeam"},     {crHourGlass, "crHourGlass"}, {crDrag, "crDrag"},
    {crNo, "crNo"},           {crHandPoint, "crHandPoint"}};

}  // namespace

std::span<const TIdentMapEntry> CursorIdents() { return CursorNames; }

TWidgetSet* WidgetSet() { return GWidgetSet; }
void SetWidgetSet(TWidgetSet* widgetSet) { GWidgetSet = widgetSet; }

// --- TControl ------------------------------------------------------------------------------------

const TClassInfo& TControl::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TControl",
      &TComponent::StaticClassInfo(),
      nullptr,
      {IntProp("Left", &TControl::Left, &TControl::SetLeft),
       IntProp("Top", &TControl::Top, &TControl::SetTop),
       IntProp("Width", &TControl::Width, &TControl::SetWidth),
       IntProp("Height", &TControl::Height, &TControl::SetHeight),
       IntProp("Cursor", &TControl::Cursor, &TControl::SetCursor)
           .WithIdents(CursorNames)
           .WithDefault(crDefault),
       StrProp("Hint", &TControl::Hint, &TControl::SetHint),
       EnumProp("Align", &TControl::Align, &TControl::SetAlign, AlignNames).WithDefault(alNone),
       StrProp("Caption", &TControl::Caption, &TControl::SetCaption),
       IntProp("Color", &TControl::Color, &TControl::SetColor)
           .WithIdents(ColorIdents())
           .StoredIf(&TControl::IsColorStored),
       BoolProp("Enabled", &TControl::Enabled, &TControl::SetEnabled).WithDefault(1),
       ClassProp("Font", &TControl::FontPtr).StoredIf(&TControl::IsFontStored),
       BoolProp("ParentColor", &TControl::ParentColor, &TControl::SetParentColor).WithDefault(1),
       BoolProp("ParentFont", &TControl::ParentFont, &TControl::SetParentFont).WithDefault(1),
       ComponentProp("PopupMenu", &TControl::PopupMenu, &TControl::SetPopupMenu),
       BoolProp("Visible", &TControl::Visible, &TControl::SetVisible).WithDefault(1),
       EventProp("OnClick", &TControl::OnClick)},
      {},
      {}};
  return info;
}

TControl::TControl(TComponent* owner) : TComponent(owner), FFont(std::make_unique<TFont>()) {
  FFont->OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  if (parent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (parent) {
    parent->InsertControl(this);
    ParentFontChanged();
    ParentColorChanged();
  }
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* winControl = dynamic_cast<TWinControl*>(parent)) SetParent(winControl);
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  // The old place must be repainted too when a windowless control moves.
  Invalidate();
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  BoundsChanged();
  Invalidate();
  if (FParent && FAlign != alNone) FParent->AlignControls();
}

void TControl::SetAlign(TAlign value) {
  if (value == FAlign) return;
  FAlign = value;
  if (FParent) FParent->AlignControls();
}

void TControl::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  VisibleChanged();
  // Alignment skips hidden controls, so one that appears takes its place now (a notebook page
  // that was hidden while the notebook was laid out would otherwise stay empty).
  if (FParent && FAlign != alNone) FParent->AlignControls();
}

void TControl::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  EnabledChanged();
}

void TControl::SetCaption(const std::string& value) {
  if (value == FText) return;
  FText = value;
  TextChanged();
}

void TControl::FontChanged() {
  if (!FTakingParentFont) FParentFont = false;
  Invalidate();
  if (auto* self = dynamic_cast<TWinControl*>(this)) {
    for (int i = 0; i < self->ControlCount(); ++i) self->Controls(i)->ParentFontChanged();
  }
}

void TControl::SetParentFont(bool value) {
  if (value == FParentFont) return;
  FParentFont = value;
  if (value) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!FParentFont || !FParent) return;
  FTakingParentFont = true;
  try {
    FFont->Assign(FParent->Font());
  } catch (...) {
    FTakingParentFont = false;
    throw;
  }
  FTakingParentFont = false;
}

void TControl::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  FParentColor = false;
  ColorChanged();
}

void TControl::SetParentColor(bool value) {
  if (value == FParentColor) return;
  FParentColor = value;
  if (value) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!FParentColor || !FParent || FParent->Color() == FColor) return;
  FColor = FParent->Color();
  ColorChanged();
}

void TControl::SetCursor(TCursor value) {
  if (value == FCursor) return;
  FCursor = value;
  if (auto* self = dynamic_cast<TWinControl*>(this); self && self->Peer()) {
    self->Peer()->SetCursor(value);
  }
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->FParent) {
    if (!c->FVisible) return false;
  }
  return true;
}

void TControl::Invalidate() {
  if (FParent && !(ComponentState() & csLoading)) FParent->Invalidate();
}

void TControl::Click() { OnClick(this); }

void TControl::DblClick() { OnDblClick(this); }

void TControl::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  OnMouseUp(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int32_t x, int32_t y) {
  OnMouseMove(this, shift, x, y);
}

void TControl::MousePressed(TMouseButton button, TShiftState shift, int32_t x, int32_t y,
                            bool doubleClick) {
  if (button == mbLeft) FClickArmed = !doubleClick;
  if (doubleClick) {
    if (button == mbLeft) DblClick();
    shift |= ssDouble;
  }
  MouseDown(button, shift, x, y);
}

void TControl::MouseReleased(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  if (button == mbLeft && FClickArmed) {
    FClickArmed = false;
    if (x >= 0 && y >= 0 && x < FWidth && y < FHeight) Click();
  }
  MouseUp(button, shift, x, y);
}

void TControl::SetPopupMenu(TPopupMenu* value) {
  if (value == FPopupMenu) return;
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = value;
  if (value) value->FreeNotification(this);
}

bool TControl::ContextPopup(int32_t screenX, int32_t screenY) {
  for (TControl* c = this; c; c = c->FParent) {
    if (TPopupMenu* menu = c->FPopupMenu) {
      menu->SetPopupComponent(this);
      menu->Popup(screenX, screenY);
      return true;
    }
  }
  return false;
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == FPopupMenu) FPopupMenu = nullptr;
}

void TControl::Loaded() {
  TComponent::Loaded();
  ParentFontChanged();
  ParentColorChanged();
}

// --- TWinControl ---------------------------------------------------------------------------------

const TClassInfo& TWinControl::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TWinControl",
      &TControl::StaticClassInfo(),
      nullptr,
      {IntProp("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder).WithDefault(-1),
       BoolProp("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop).WithDefault(0)},
      {},
      {}};
  return info;
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  // Children that this control does not own stay alive; they lose their parent first.
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
  DestroyHandle();
}

void TWinControl::InsertControl(TControl* control) {
  control->FParent = this;
  FControls.push_back(control);
  if (auto* win = dynamic_cast<TWinControl*>(control)) {
    if (win->FTabOrder < 0) {
      win->FTabOrder = static_cast<int32_t>(std::count_if(
                           FControls.begin(), FControls.end(),
                           [](TControl* c) { return dynamic_cast<TWinControl*>(c); })) -
                       1;
    }
    if (FPeer) win->HandleNeeded();
  }
  if (control->Align() != alNone) AlignControls();
  control->Invalidate();
}

void TWinControl::RemoveControl(TControl* control) {
  control->Invalidate();
  if (auto* win = dynamic_cast<TWinControl*>(control)) win->DestroyHandle();
  std::erase(FControls, control);
  control->FParent = nullptr;
}

void TWinControl::SetTabOrder(int32_t value) { FTabOrder = value; }

void TWinControl::HandleNeeded() {
  if (FPeer || !WidgetSet()) return;
  if (FParent) {
    FParent->HandleNeeded();
    if (FPeer) return;  // the parent made ours along with its children
  }
  FPeer = CreatePeer(*WidgetSet(), FParent ? FParent->Peer() : nullptr);
  if (!FPeer) return;
  InitializePeer();
  FPeer->SetVisible(Visible());
  for (TControl* c : FControls) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) win->HandleNeeded();
  }
  AlignControls();
}

void TWinControl::DestroyHandle() {
  if (!FPeer) return;
  for (TControl* c : FControls) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) win->DestroyHandle();
  }
  FPeer.reset();
}

std::unique_ptr<TWinControlPeer> TWinControl::CreatePeer(TWidgetSet& widgetSet,
                                                         TWinControlPeer* parent) {
  if (!parent) return nullptr;
  return widgetSet.CreateContainerPeer(*this, *parent);
}

void TWinControl::InitializePeer() {
  FPeer->SetBounds(BoundsRect());
  FPeer->SetFont(Font());
  FPeer->SetColor(ColorToRGB(Color()));
  FPeer->SetCursor(Cursor());
  FPeer->SetEnabled(Enabled());
}

void TWinControl::SetFocus() {
  HandleNeeded();
  if (FPeer) FPeer->SetFocus();
}

bool TWinControl::Focused() const { return FPeer && FPeer->Focused(); }

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent()) {
    if (!c->Visible() || !c->Enabled()) return false;
  }
  return true;
}

std::vector<TWinControl*> TWinControl::TabList() const {
  std::vector<TWinControl*> list;
  for (TControl* c : FControls) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) list.push_back(win);
  }
  std::stable_sort(list.begin(), list.end(),
                   [](TWinControl* a, TWinControl* b) { return a->FTabOrder < b->FTabOrder; });
  return list;
}

TWinControl* TWinControl::FindFirstFocusable() {
  for (TWinControl* child : TabList()) {
    if (!child->CanFocus()) continue;
    if (child->TabStop()) return child;
    if (TWinControl* inner = child->FindFirstFocusable()) return inner;
  }
  return nullptr;
}

bool TWinControl::ContainsControl(const TControl* control) const {
  for (const TControl* c = control; c; c = c->Parent()) {
    if (c == this) return true;
  }
  return false;
}

void TWinControl::PaintWindow(TCanvasPeer& canvas) {
  for (TControl* c : FControls) {
    auto* graphic = dynamic_cast<TGraphicControl*>(c);
    if (!graphic || !graphic->Visible()) continue;
    canvas.PushState(graphic->Left(), graphic->Top(), graphic->Width(), graphic->Height());
    graphic->Canvas().SetPeer(&canvas);
    try {
      graphic->Paint();
    } catch (...) {
      graphic->Canvas().SetPeer(nullptr);
      canvas.PopState();
      throw;
    }
    graphic->Canvas().SetPeer(nullptr);
    canvas.PopState();
  }
}

TControl* TWinControl::ControlAtPos(int32_t x, int32_t y) const {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* c = *it;
    if (dynamic_cast<TWinControl*>(c) || !c->Visible()) continue;
    if (x >= c->Left() && y >= c->Top() && x < c->Left() + c->Width() &&
        y < c->Top() + c->Height()) {
      return c;
    }
  }
  return nullptr;
}

void TWinControl::Invalidate() {
  if (FPeer) FPeer->Invalidate();
}

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  bool resized = width != Width() || height != Height();
  TControl::SetBounds(left, top, width, height);
  if (resized) AlignControls();
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  for (TControl* c : FControls) {
    if (c->Owner() == root) proc(c);
  }
}

void TWinControl::Loaded() {
  TControl::Loaded();
  AlignControls();
}

void TWinControl::AlignControls() {
  TRect client = ClientRect();
  for (TControl* c : FControls) {
    if (!c->Visible() || c->Align() == alNone) continue;
    switch (c->Align()) {
      case alTop:
        c->TControl::SetBounds(client.Left, client.Top, client.Width(), c->Height());
        client.Top += c->Height();
        break;
      case alBottom:
        c->TControl::SetBounds(client.Left, client.Bottom - c->Height(), client.Width(),
                               c->Height());
        client.Bottom -= c->Height();
        break;
      case alLeft:
        c->TControl::SetBounds(client.Left, client.Top, c->Width(), client.Height());
        client.Left += c->Width();
        break;
      case alRight:
        c->TControl::SetBounds(client.Right - c->Width(), client.Top, c->Width(), client.Height());
        client.Right -= c->Width();
        break;
      case alClient:
        c->TControl::SetBounds(client.Left, client.Top, client.Width(), client.Height());
        break;
      case alNone:
        break;
    }
    if (auto* win = dynamic_cast<TWinControl*>(c)) win->AlignControls();
  }
}

// A windowed control shows its caption through its peer when its kind shows one (forms, buttons).
void TWinControl::TextChanged() {}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  if (FPeer) FPeer->SetFont(Font());
}

void TWinControl::ColorChanged() {
  if (FPeer) FPeer->SetColor(ColorToRGB(Color()));
  for (TControl* c : FControls) c->ParentColorChanged();
  Invalidate();
}

void TWinControl::BoundsChanged() {
  if (FPeer) FPeer->SetBounds(BoundsRect());
}

void TWinControl::VisibleChanged() {
  if (FPeer) FPeer->SetVisible(Visible());
}

void TWinControl::EnabledChanged() {
  if (FPeer) FPeer->SetEnabled(Enabled());
}

// --- TGraphicControl -----------------------------------------------------------------------------

const TClassInfo& TGraphicControl::StaticClassInfo() {
  static const TClassInfo info{
      "TGraphicControl", &TControl::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), FCanvas(std::make_unique<TCanvas>()) {}

TGraphicControl::~TGraphicControl() = default;

// --- Guard ---------------------------------------------------------------------------------------

namespace {
void (*GExceptionHandler)(const Exception&) = nullptr;
}

void SetGuardExceptionHandler(void (*handler)(const Exception&)) { GExceptionHandler = handler; }

void GuardedCall(const std::function<void()>& call) noexcept {
  try {
    try {
      call();
    } catch (const Exception& e) {
      if (GExceptionHandler)
        GExceptionHandler(e);
      else
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
    } catch (const std::bad_alloc&) {
      EOutOfMemory e(SysConst::SOutOfMemory);
      if (GExceptionHandler) GExceptionHandler(e);
    } catch (const std::exception& e) {
      Exception wrapped(e.what());
      if (GExceptionHandler) GExceptionHandler(wrapped);
    }
  } catch (...) {
    // Reporting failed as well; the event is dropped rather than let through the toolkit.
    std::fputs("An error occurred while reporting an error\n", stderr);
  }
}
