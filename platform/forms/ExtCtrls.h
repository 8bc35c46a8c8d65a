// The notebook: pages stacked in one place, one shown at a time.
#pragma once

#include <string>

#include "Controls.h"

// One page of a notebook. Pages belong to their notebook and fill it.
class TPage : public TWinControl {
  TAVRIX_CLASS(TPage)

 public:
  explicit TPage(TComponent* owner);
};

class TNotebook : public TWinControl {
  TAVRIX_CLASS(TNotebook)

 public:
  explicit TNotebook(TComponent* owner);

  int PageCount() const;
  TPage* Pages(int index) const;
  int PageIndex() const { return FPageIndex; }
  // Shows that page and hides the others; an index out of range changes nothing. When the
  // focus was inside the notebook it moves to the first control of the new page in tab order.
  void SetPageIndex(int value);
  // The caption of the page shown.
  std::string ActivePage() const;
  // Shows the page of that caption (compared without regard to case); a caption that no page
  // has, or the page already shown, changes nothing.
  void SetActivePage(const std::string& caption);

  void ReadState(TReader& reader) override;
  TComponent* GetChildOwner() override { return this; }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void Loaded() override;

 private:
  // The page index says it all; the caption is for reading descriptions that give it.
  bool IsActivePageStored() const { return false; }
  int FPageIndex = -1;
};
