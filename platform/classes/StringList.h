// Lists of strings: the lines of a memo, stored in a form description as "Strings" = ( ... ).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Classes.h"

class TStrings : public TPersistent {
  TAVRIX_CLASS(TStrings)

 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& operator[](int index) const {
    return FItems.at(static_cast<std::size_t>(index));
  }
  void Add(const std::string& line);
  void Clear();
  // The lines joined with CR LF after each one.
  std::string Text() const;
  // Splits text into lines at every CR LF, lone CR and lone LF; a break at the very end does not
  // start another line.
  void SetText(const std::string& text);
  // Replaces the lines with those of a file (EFOpenError when it cannot be opened).
  void LoadFromFile(const std::string& fileName);
  const std::vector<std::string>& Items() const { return FItems; }

  void Assign(const TPersistent& source) override;
  void DefineProperties(TFiler& filer) override;

  // Called after every change.
  std::function<void()> OnChange;

 private:
  void Changed();
  std::vector<std::string> FItems;
};
