// Menu items and popup menus without a toolkit: the item tree and who frees what, the popup
// hook, and a control's context menu reference.
#include "Menus.h"

#include <gtest/gtest.h>

#include <vector>

#include "Controls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

// Counts the clicks it is told of and remembers the last sender.
struct TClickLog : TObject {
  int Clicks = 0;
  TObject* Sender = nullptr;
  void ItemClick(TObject* sender) {
    ++Clicks;
    Sender = sender;
  }
};
const TMethodInfo ItemClickMethod = TAVRIX_METHOD(TClickLog, ItemClick);

// Watches components of other owners and records each one that is destroyed.
class TWatcher : public TComponent {
 public:
  TWatcher() : TComponent(nullptr) {}
  std::vector<TComponent*> Gone;
  void Watch(TComponent* component) { component->FreeNotification(this); }
  int TimesGone(TComponent* component) const {
    return static_cast<int>(std::count(Gone.begin(), Gone.end(), component));
  }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) Gone.push_back(component);
  }
};

struct TShownMenu {
  TPopupMenu* Menu;
  int32_t X;
  int32_t Y;
};

// Records the menus that would come up, for the life of the object.
class TPopupRecorder {
 public:
  TPopupRecorder() {
    SetPopupMenuHook([this](TPopupMenu& menu, int32_t x, int32_t y) {
      Shown.push_back({&menu, x, y});
    });
  }
  ~TPopupRecorder() { SetPopupMenuHook(nullptr); }
  TPopupRecorder(const TPopupRecorder&) = delete;
  TPopupRecorder& operator=(const TPopupRecorder&) = delete;
  std::vector<TShownMenu> Shown;
};

TEST(MenuItemTest, ClickFiresOnClickWithTheItemAsSender) {
  TClickLog log;
  TMenuItem item(nullptr);
  item.Click();  // no handler: nothing happens
  item.OnClick = TNotifyEvent(&log, &ItemClickMethod);
  item.Click();
  EXPECT_EQ(log.Clicks, 1);
  EXPECT_EQ(log.Sender, &item);
}

TEST(MenuItemTest, ChildrenKeepTheirOrderAndAnIndexOutsideRaises) {
  TComponent owner(nullptr);
  TMenuItem root(nullptr);
  TMenuItem* items[] = {new TMenuItem(&owner), new TMenuItem(&owner), new TMenuItem(&owner)};
  for (TMenuItem* item : items) root.Add(item);
  ASSERT_EQ(root.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(root.Items(i), items[i]);
    EXPECT_EQ(items[i]->Parent(), &root);
  }
  for (int index : {-1, 3}) {
    try {
      root.Items(index);
      ADD_FAILURE() << index << ": no exception";
    } catch (const EMenuError& e) {
      EXPECT_EQ(e.Message(), "Menu index out of range");
    }
  }
  root.Remove(items[1]);
  EXPECT_EQ(root.Count(), 2);
  EXPECT_EQ(root.Items(1), items[2]);
  EXPECT_EQ(items[1]->Parent(), nullptr);
}

TEST(MenuItemTest, AnItemWithAParentOrTheItemItselfCannotBeAdded) {
  TMenuItem first(nullptr);
  TMenuItem second(nullptr);
  TMenuItem child(nullptr);
  first.Add(&child);
  const struct {
    const char* what;
    TMenuItem* to;
    TMenuItem* item;
  } cases[] = {
      {"again to the same parent", &first, &child},
      {"to another parent", &second, &child},
      {"to itself", &second, &second},
  };
  for (const auto& c : cases) {
    try {
      c.to->Add(c.item);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const EMenuError& e) {
      EXPECT_EQ(e.Message(), "Menu inserted twice") << c.what;
    }
  }
  EXPECT_EQ(first.Count(), 1);
  EXPECT_EQ(second.Count(), 0);
  first.Remove(&child);  // the stack frees child before first
}

TEST(MenuItemTest, AnItemTakesItsChildrenWithItAndLeavesItsParent) {
  TWatcher watcher;
  TComponent owner(nullptr);
  auto* parent = new TMenuItem(&owner);
  auto* child = new TMenuItem(&owner);
  auto* grandchild = new TMenuItem(&owner);
  parent->Add(child);
  child->Add(grandchild);
  for (TComponent* c : {parent, child, grandchild}) watcher.Watch(c);

  delete child;
  EXPECT_EQ(parent->Count(), 0) << "a destroyed item must leave its parent";
  EXPECT_EQ(watcher.TimesGone(grandchild), 1);
  EXPECT_EQ(owner.ComponentCount(), 1) << "the items freed with their parent leave their owner";
  delete parent;
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(MenuItemTest, OwnerGoingFirstFreesEveryHeldItemOnce) {
  TWatcher watcher;
  auto* owner = new TComponent(nullptr);
  auto* parent = new TMenuItem(owner);
  auto* child = new TMenuItem(owner);  // owned after its parent: freed by the owner first
  auto* early = new TMenuItem(owner);
  parent->Add(child);
  child->Add(early);  // owned before its parent
  for (TComponent* c : {parent, child, early}) watcher.Watch(c);
  delete owner;
  for (TComponent* c : {parent, child, early}) EXPECT_EQ(watcher.TimesGone(c), 1);
}

TEST(PopupMenuTest, FreesItsItemsAndTellsWhoWatchesThem) {
  TWatcher watcher;
  auto* menu = new TPopupMenu(nullptr);
  auto* a = new TMenuItem(menu);
  auto* b = new TMenuItem(menu);
  menu->Items().Add(a);
  menu->Items().Add(b);
  watcher.Watch(a);
  watcher.Watch(b);
  delete menu;
  EXPECT_EQ(watcher.TimesGone(a), 1);
  EXPECT_EQ(watcher.TimesGone(b), 1);
}

TEST(PopupMenuTest, PopupGoesToTheHookWithTheScreenPoint) {
  TPopupRecorder recorder;
  TPopupMenu menu(nullptr);
  menu.Popup(120, -4);
  ASSERT_EQ(recorder.Shown.size(), 1u);
  EXPECT_EQ(recorder.Shown[0].Menu, &menu);
  EXPECT_EQ(recorder.Shown[0].X, 120);
  EXPECT_EQ(recorder.Shown[0].Y, -4);
}

TEST(ControlPopupMenuTest, IsAPublishedReferenceThatForgetsAFreedMenu) {
  const TPropInfo* prop = TLabel::StaticClassInfo().FindProp("PopupMenu");
  ASSERT_NE(prop, nullptr);
  EXPECT_EQ(prop->Kind, TPropKind::Component);

  TComponent form(nullptr);
  auto* label = new TLabel(&form);
  auto* menu = new TPopupMenu(&form);
  EXPECT_EQ(label->PopupMenu(), nullptr);
  prop->SetComponent(*label, menu);
  EXPECT_EQ(label->PopupMenu(), menu);
  prop->SetComponent(*label, label);  // not a popup menu: no reference
  EXPECT_EQ(label->PopupMenu(), nullptr);
  label->SetPopupMenu(menu);
  delete menu;
  EXPECT_EQ(label->PopupMenu(), nullptr);

  // A control that goes first leaves nothing behind in the menu it referred to.
  auto* menu2 = new TPopupMenu(&form);
  label->SetPopupMenu(menu2);
  delete label;
  delete menu2;
}

TEST(ControlPopupMenuTest, ContextPopupShowsTheControlsMenuOrElseTheNearestParents) {
  TPopupRecorder recorder;
  TComponent owner(nullptr);
  auto* form = new TForm(&owner);
  auto* panel = new TWinControl(&owner);
  auto* label = new TLabel(&owner);
  panel->SetParent(form);
  label->SetParent(panel);
  auto* formMenu = new TPopupMenu(&owner);
  auto* labelMenu = new TPopupMenu(&owner);

  EXPECT_FALSE(label->ContextPopup(1, 2)) << "nobody has a menu";
  EXPECT_TRUE(recorder.Shown.empty());

  form->SetPopupMenu(formMenu);
  EXPECT_TRUE(label->ContextPopup(3, 4));
  ASSERT_EQ(recorder.Shown.size(), 1u);
  EXPECT_EQ(recorder.Shown[0].Menu, formMenu);
  EXPECT_EQ(formMenu->PopupComponent(), label);

  label->SetPopupMenu(labelMenu);
  EXPECT_TRUE(label->ContextPopup(5, 6));
  ASSERT_EQ(recorder.Shown.size(), 2u);
  EXPECT_EQ(recorder.Shown[1].Menu, labelMenu);
  EXPECT_EQ(recorder.Shown[1].X, 5);
  EXPECT_EQ(recorder.Shown[1].Y, 6);

  delete label;
  EXPECT_EQ(formMenu->PopupComponent(), nullptr) << "the popup component went away";
  EXPECT_EQ(labelMenu->PopupComponent(), nullptr);
}

}  // namespace
