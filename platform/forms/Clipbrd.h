// The clipboard: text in the system's 8-bit code page, as the classic text format holds it.
#pragma once

#include <string>

// The one clipboard of the program (see Clipboard()). With a backend it is the desktop's
// clipboard; without one (tests that run without a toolkit) it keeps the text itself.
class TClipboard {
 public:
  TClipboard() = default;
  TClipboard(const TClipboard&) = delete;
  TClipboard& operator=(const TClipboard&) = delete;

  // Replaces what the clipboard holds with text. The text format ends at the first zero
  // character, so text is cut there.
  void SetAsText(const std::string& text);
  // The clipboard's text; empty when it holds none.
  std::string AsText() const;

 private:
  std::string FText;
};

TClipboard& Clipboard();
