#include "UrlLabel.h"

#include <algorithm>

#include "Clipbrd.h"
#include "CursorImage.h"
#include "Forms.h"
#include "Shell.h"

namespace {

const bool GUrlLabelRegistered = (RegisterClass(TUrlLabel::StaticClassInfo()), true);

// The Copy item's OnClick: not a form's published method, so bound through its own record.
const TMethodInfo CopyItemClickMethod = TAVRIX_METHOD(TUrlLabel, CopyItemClick);

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

}  // namespace

const TClassInfo& TUrlLabel::StaticClassInfo() {
  using namespace PropBuilders;
  static const TClassInfo info{
      "TUrlLabel",
      &TLabel::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TUrlLabel(owner); },
      {StrProp("URL", &TUrlLabel::URL, &TUrlLabel::SetURL),
       IntProp("ActiveColor", &TUrlLabel::ActiveColor, &TUrlLabel::SetActiveColor)
           .WithIdents(ColorIdents())
           .WithDefault(clPurple)},
      {},
      {}};
  return info;
}

TUrlLabel::TUrlLabel(TComponent* owner) : TLabel(owner) {
  // The table entry is application-wide; each new label stores it again.
  if (Screen) Screen->SetCursorShape(crHand, LoadCursorResource("HAND"));
  SetCursor(crHand);
  FActiveColor = clPurple;
  Font().SetColor(clBlue);
  Font().SetStyle(FontStyleBit(fsUnderline));
  FOwnMenu = new TPopupMenu(this);
  FCopyItem = new TMenuItem(FOwnMenu);
  FCopyItem->SetCaption("Copy");
  FCopyItem->OnClick = TNotifyEvent(this, &CopyItemClickMethod);
  FOwnMenu->Items().Add(FCopyItem);
  SetPopupMenu(FOwnMenu);
}

TUrlLabel::~TUrlLabel() {
  // Deleting the menu tells this label (PopupMenu goes back to none) and leaves our components.
  delete FOwnMenu;
  FOwnMenu = nullptr;
  FCopyItem = nullptr;
}

void TUrlLabel::Click() {
  TLabel::Click();
  const std::string& target = IsBlank(FURL) ? Caption() : FURL;
  if (!IsBlank(target)) ShellExecute("open", target);
}

void TUrlLabel::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  if (button == mbLeft) {
    FFontColor = Font().Color();
    Font().SetColor(FActiveColor);
  }
  TLabel::MouseDown(button, shift, x, y);
}

void TUrlLabel::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  // A release inside the label has clicked already, so the caption was still in ActiveColor
  // while the shell was asked; now the colour comes back.
  if (button == mbLeft) Font().SetColor(FFontColor);
  TLabel::MouseUp(button, shift, x, y);
}

void TUrlLabel::CopyItemClick(TObject* /*sender*/) { Clipboard().SetAsText(Caption()); }
