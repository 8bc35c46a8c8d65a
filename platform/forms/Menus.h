// Menus: the menu item and the popup (context) menu.
//
// A TMenuItem is a component, freed by its owner, that also holds child items: an item that is
// destroyed destroys the children it holds and leaves the item that holds it, so whichever of
// owner and holder goes first, each item is freed once. A TPopupMenu holds its top-level items
// under Items(), an item that it makes and frees itself.
//
// Showing a popup menu is the backend's (TWidgetSet::PopupMenu); tests can watch it through
// SetPopupMenuHook instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

TAVRIX_DECLARE_EXCEPTION(EMenuError, Exception);

namespace SysConst {
inline constexpr const char* SMenuIndexError = "Menu index out of range";
inline constexpr const char* SMenuReinserted = "Menu inserted twice";
}  // namespace SysConst

class TMenuItem : public TComponent {
  TAVRIX_CLASS(TMenuItem)

 public:
  explicit TMenuItem(TComponent* owner);
  // Destroys the child items, then leaves the item that holds this one.
  ~TMenuItem() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value) { FCaption = value; }

  TNotifyEvent OnClick;
  // What choosing the item does: fires OnClick with the item as sender.
  virtual void Click();

  int Count() const { return static_cast<int>(FItems.size()); }
  // EMenuError "Menu index out of range" for an index outside 0 .. Count - 1.
  TMenuItem* Items(int index) const;
  // Appends item to the children; EMenuError "Menu inserted twice" when it already has a parent
  // item (this one or another), or when it is this item itself.
  void Add(TMenuItem* item);
  // Takes item out of the children without destroying it; nothing when it is not one of them.
  void Remove(TMenuItem* item);
  TMenuItem* Parent() const { return FParent; }

  // Expires when the item is destroyed. A backend that holds on to an item while its menu is
  // open checks it before calling Click, since a handler may free the menu meanwhile.
  std::weak_ptr<TMenuItem* const> Alive() const { return FAlive; }

 private:
  std::string FCaption;
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
  std::shared_ptr<TMenuItem* const> FAlive;
};

class TPopupMenu : public TComponent {
  TAVRIX_CLASS(TPopupMenu)

 public:
  explicit TPopupMenu(TComponent* owner);
  // Destroys the items (Items() and all it holds).
  ~TPopupMenu() override;

  // The top-level items are the children of this item, which belongs to the menu.
  TMenuItem& Items() const { return *FItems; }

  // The control whose context menu is being shown (set by TControl before Popup); cleared when
  // that component is destroyed.
  TComponent* PopupComponent() const { return FPopupComponent; }
  void SetPopupComponent(TComponent* component);

  // Shows the menu with its top-level items at the screen point (x, y) and returns at once;
  // choosing an item calls its Click. Goes to the popup hook when one is set, else to the
  // backend; without either nothing is shown.
  virtual void Popup(int32_t x, int32_t y);

  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::unique_ptr<TMenuItem> FItems;
  TComponent* FPopupComponent = nullptr;
};

// Replaces the showing of popup menus (tests watch which menu would come up, and where); an
// empty function restores the backend.
void SetPopupMenuHook(std::function<void(TPopupMenu& menu, int32_t x, int32_t y)> hook);
