// The hyperlink label: a label that opens its address through the shell when clicked.
//
// A new one shows its caption in blue, underlined, with the hand cursor (cursor number 5, which
// every new label registers again from the program's "HAND" resource). A left click asks the
// shell to "open" URL, or the caption when URL is blank; while the left button is held down on
// it, the caption is drawn in ActiveColor. Its context menu, which it makes and owns, has one
// item, "Copy", that puts the caption on the clipboard as text. Nothing is raised or reported:
// a missing cursor resource leaves the default cursor, and a failed shell request is ignored.
#pragma once

#include <string>

#include "Menus.h"
#include "StdCtrls.h"

// The application's cursor number of the hand cursor; the platform's own cursors use 0 and
// negative numbers.
inline constexpr TCursor crHand = 5;

class TUrlLabel : public TLabel {
  TAVRIX_CLASS(TUrlLabel)

 public:
  explicit TUrlLabel(TComponent* owner);
  // Frees the own menu, and with it its Copy item, before the base destructor runs.
  ~TUrlLabel() override;

  // The link target, used as stored (blanks around it included).
  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& value) { FURL = value; }
  // The font colour while the left button is held down on the label; assigning it shows
  // nothing until the next press.
  TColor ActiveColor() const { return FActiveColor; }
  void SetActiveColor(TColor value) { FActiveColor = value; }

  // Fires OnClick, then asks the shell to open the target: URL when it is not blank, else the
  // caption; nothing when both are blank. Blank means nothing but characters 0x00 .. 0x20.
  void Click() override;
  // A left press (the second one of a double click too) remembers the font colour and shows
  // ActiveColor; the left release gives the remembered colour back, after the click that a
  // release inside the label brings. Both then fire their events through the base.
  void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;

  // The Copy item's handler: the caption (not the URL) goes to the clipboard.
  void CopyItemClick(TObject* sender);

 private:
  std::string FURL;
  // Font.Color at the latest left press; black until the first one.
  TColor FFontColor = clBlack;
  TColor FActiveColor = clPurple;
  // Owned by this label (as its component) and freed by its destructor; the item is owned by
  // the menu.
  TPopupMenu* FOwnMenu = nullptr;
  TMenuItem* FCopyItem = nullptr;
};
