// Lists of strings: the lines of a memo, stored in a form description as "Strings" = ( ... ).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"

class TStrings : public TPersistent {
  TAVRIX_CLASS(TStrings)

 public:
  // What a text comes to as lines: how many SetText would make of it, and how many characters
  // they hold with one break between each two (what a control that shows them holds).
  struct TTextMeasure {
    std::size_t Lines = 0;
    std::size_t Characters = 0;
  };
  static TTextMeasure Measure(std::string_view text);

  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& operator[](int index) const {
    return FItems.at(static_cast<std::size_t>(index));
  }
  void Add(const std::string& line);
  void Clear();
  // The lines joined with CR LF after each one.
  std::string Text() const;
  // Splits text into lines at every CR LF, lone CR and lone LF; a break at the very end does not
  // start another line. OnCheckText sees the text's measure first.
  void SetText(const std::string& text);
  // Replaces the lines with those of a file (EFOpenError when it cannot be opened). The file is
  // read in pieces, and OnCheckText sees the measure of what came so far after each, so a file
  // too large for the lines' owner is refused long before it is in memory whole.
  void LoadFromFile(const std::string& fileName);
  const std::vector<std::string>& Items() const { return FItems; }

  void Assign(const TPersistent& source) override;
  void DefineProperties(TFiler& filer) override;

  // Called after every change.
  std::function<void()> OnChange;
  // Called with the measure of a new text before SetText or LoadFromFile change anything; it may
  // raise to refuse the text. The lines' owner sets its limits here, so that they hold before a
  // text is split into lines.
  std::function<void(const TTextMeasure&)> OnCheckText;

 private:
  void Changed();
  std::vector<std::string> FItems;
};
