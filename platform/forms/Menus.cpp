#include "Menus.h"

#include <algorithm>

#include "Controls.h"

namespace {

std::function<void(TPopupMenu&, int32_t, int32_t)>& PopupMenuHook() {
  static std::function<void(TPopupMenu&, int32_t, int32_t)> hook;
  return hook;
}

const bool GMenusRegistered =
    (RegisterClasses({&TMenuItem::StaticClassInfo(), &TPopupMenu::StaticClassInfo()}), true);

}  // namespace

void SetPopupMenuHook(std::function<void(TPopupMenu& menu, int32_t x, int32_t y)> hook) {
  PopupMenuHook() = std::move(hook);
}

// --- TMenuItem -----------------------------------------------------------------------------------

const TClassInfo& TMenuItem::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TMenuItem",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TMenuItem(owner); },
      {StrProp("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption),
       EventProp("OnClick", &TMenuItem::OnClick)},
      {},
      {}};
  return info;
}

TMenuItem::TMenuItem(TComponent* owner)
    : TComponent(owner), FAlive(std::make_shared<TMenuItem* const>(this)) {}

TMenuItem::~TMenuItem() {
  FAlive.reset();
  while (!FItems.empty()) delete FItems.back();  // each one leaves FItems in its destructor
  if (FParent) FParent->Remove(this);
}

void TMenuItem::Click() { OnClick(this); }

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count()) throw EMenuError(SysConst::SMenuIndexError);
  return FItems[static_cast<std::size_t>(index)];
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == this || item->FParent) throw EMenuError(SysConst::SMenuReinserted);
  FItems.push_back(item);
  item->FParent = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  if (item->FParent != this) return;
  std::erase(FItems, item);
  item->FParent = nullptr;
}

// --- TPopupMenu ----------------------------------------------------------------------------------

const TClassInfo& TPopupMenu::StaticClassInfo() {
  static const TClassInfo info{
      "TPopupMenu",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TPopupMenu(owner); },
      {},
      {},
      {}};
  return info;
}

TPopupMenu::TPopupMenu(TComponent* owner)
    : TComponent(owner), FItems(std::make_unique<TMenuItem>(nullptr)) {}

TPopupMenu::~TPopupMenu() { FItems.reset(); }

void TPopupMenu::SetPopupComponent(TComponent* component) {
  if (component == FPopupComponent) return;
  if (FPopupComponent) FPopupComponent->RemoveFreeNotification(this);
  FPopupComponent = component;
  if (component) component->FreeNotification(this);
}

void TPopupMenu::Popup(int32_t x, int32_t y) {
  if (PopupMenuHook()) {
    PopupMenuHook()(*this, x, y);
  } else if (TWidgetSet* widgetSet = WidgetSet()) {
    widgetSet->PopupMenu(*this, x, y);
  }
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == FPopupComponent) {
    FPopupComponent = nullptr;
  }
}
