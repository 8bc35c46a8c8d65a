#include "ExtCtrls.h"

namespace {
const bool GRegistered = (RegisterClass(TPage::StaticClassInfo()), true);
}  // namespace

// --- TPage ---------------------------------------------------------------------------------------

const TClassInfo& TPage::StaticClassInfo() {
  static const TClassInfo info{"TPage",
                               &TWinControl::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TPage(owner); },
                               {},
                               {},
                               {}};
  return info;
}

TPage::TPage(TComponent* owner) : TWinControl(owner) {
  SetVisible(false);
  SetAlign(alClient);
}

// --- TNotebook -----------------------------------------------------------------------------------

const TClassInfo& TNotebook::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TNotebook",
      &TWinControl::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TNotebook(owner); },
      {IntProp("PageIndex", &TNotebook::PageIndex, &TNotebook::SetPageIndex).WithDefault(0),
       StrProp("ActivePage", &TNotebook::ActivePage, &TNotebook::SetActivePage)
           .StoredIf(&TNotebook::IsActivePageStored)},
      {},
      {}};
  return info;
}

TNotebook::TNotebook(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 150, 150); }

int TNotebook::PageCount() const {
  int count = 0;
  for (int i = 0; i < ControlCount(); ++i) count += dynamic_cast<TPage*>(Controls(i)) != nullptr;
  return count;
}

TPage* TNotebook::Pages(int index) const {
  int n = 0;
  for (int i = 0; i < ControlCount(); ++i) {
    if (auto* page = dynamic_cast<TPage*>(Controls(i))) {
      if (n++ == index) return page;
    }
  }
  return nullptr;
}

void TNotebook::SetPageIndex(int value) {
  if (ComponentState() & csLoading) {
    FPageIndex = value;  // applied once the pages are in
    return;
  }
  TPage* next = Pages(value);
  if (!next || value == FPageIndex) return;
  TWinControl* focused = WidgetSet() ? WidgetSet()->FocusedControl() : nullptr;
  bool focusInside = focused && ContainsControl(focused);
  next->SetVisible(true);
  if (next->Peer()) next->Peer()->BringToFront();
  for (int i = 0; i < PageCount(); ++i) {
    if (Pages(i) != next) Pages(i)->SetVisible(false);
  }
  FPageIndex = value;
  if (focusInside) {
    if (TWinControl* first = next->FindFirstFocusable()) first->SetFocus();
  }
}

std::string TNotebook::ActivePage() const {
  TPage* page = Pages(FPageIndex);
  return page ? page->Caption() : std::string();
}

void TNotebook::SetActivePage(const std::string& caption) {
  for (int i = 0; i < PageCount(); ++i) {
    if (SameText(Pages(i)->Caption(), caption)) {
      SetPageIndex(i);
      return;
    }
  }
}

void TNotebook::ReadState(TReader& reader) {
  // The pages come from the description; none is made by default.
  FPageIndex = -1;
  TWinControl::ReadState(reader);
}

void TNotebook::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* /*root*/) {
  for (int i = 0; i < PageCount(); ++i) proc(Pages(i));
}

void TNotebook::Loaded() {
  TWinControl::Loaded();
  int index = FPageIndex < 0 ? 0 : FPageIndex;
  FPageIndex = -1;
  SetPageIndex(index);
}
