#include "StringList.h"

#include <algorithm>

const TClassInfo& TStrings::StaticClassInfo() {
  static const TClassInfo info{"TStrings", &TPersistent::StaticClassInfo(), nullptr, {}, {}, {}};
  return info;
}

void TStrings::Changed() {
  if (OnChange) OnChange();
}

void TStrings::Add(const std::string& line) {
  FItems.push_back(line);
  Changed();
}

void TStrings::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

std::string TStrings::Text() const {
  std::string text;
  for (const std::string& line : FItems) text += line + "\r\n";
  return text;
}

namespace {

// Measures a text that comes in pieces, breaking lines as SetText does: at CR LF, a lone CR and a
// lone LF, a break at the very end starting no further line.
class TTextMeasurer {
 public:
  void Add(std::string_view piece) {
    for (char c : piece) {
      const bool crLf = FAfterCr && c == '\n';
      FAfterCr = c == '\r';
      if (crLf) continue;  // the break was counted at its CR
      if (c == '\r' || c == '\n') {
        ++FEndedLines;
        FOpenLine = false;
      } else {
        ++FCharacters;
        FOpenLine = true;
      }
    }
  }
  TStrings::TTextMeasure Measure() const {
    const std::size_t lines = FEndedLines + (FOpenLine ? 1 : 0);
    return {lines, FCharacters + (lines > 0 ? lines - 1 : 0)};
  }

 private:
  std::size_t FEndedLines = 0;
  std::size_t FCharacters = 0;
  bool FOpenLine = false;
  bool FAfterCr = false;
};

// The piece in which LoadFromFile reads a file.
constexpr int32_t LoadPiece = 1 << 20;

}  // namespace

TStrings::TTextMeasure TStrings::Measure(std::string_view text) {
  TTextMeasurer measurer;
  measurer.Add(text);
  return measurer.Measure();
}

void TStrings::SetText(const std::string& text) {
  if (OnCheckText) OnCheckText(Measure(text));
  FItems.clear();
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\r' && c != '\n') continue;
    FItems.push_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) FItems.push_back(text.substr(start));
  Changed();
}

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  // Pieces no larger than the file (and one byte more, to meet its end), so that a short text
  // costs no more than itself.
  const auto piece = static_cast<int32_t>(std::clamp<int64_t>(file.Size() + 1, 1, LoadPiece));
  std::string text;
  TTextMeasurer measurer;
  for (;;) {
    const std::size_t at = text.size();
    text.resize(at + static_cast<std::size_t>(piece));
    const int32_t got = file.Read(text.data() + at, piece);
    text.resize(at + static_cast<std::size_t>(std::max(got, 0)));
    if (got <= 0) break;
    measurer.Add(std::string_view(text).substr(at));
    if (OnCheckText) OnCheckText(measurer.Measure());
  }
  SetText(text);
}

void TStrings::Assign(const TPersistent& source) {
  if (const auto* strings = dynamic_cast<const TStrings*>(&source)) {
    FItems = strings->FItems;
    Changed();
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Strings",
      [this](TReader& reader) {
        reader.ReadListBegin();
        FItems.clear();
        while (!reader.EndOfList()) FItems.push_back(reader.ReadString());
        reader.ReadListEnd();
        Changed();
      },
      [this](TWriter& writer) {
        writer.WriteListBegin();
        for (const std::string& line : FItems) writer.WriteString(line);
        writer.WriteListEnd();
      },
      !FItems.empty());
}
