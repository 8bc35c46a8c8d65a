#include "Clipbrd.h"

#include "Controls.h"

void TClipboard::SetAsText(const std::string& text) {
  std::string cut = text.substr(0, text.find('\0'));
  if (TWidgetSet* widgetSet = WidgetSet()) {
    widgetSet->SetClipboardText(cut);
  } else {
    FText = std::move(cut);
  }
}

std::string TClipboard::AsText() const {
  if (TWidgetSet* widgetSet = WidgetSet()) return widgetSet->ClipboardText();
  return FText;
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}
