#include "StringList.h"

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

void TStrings::SetText(const std::string& text) {
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
  TMemoryStream file;
  file.LoadFromFile(fileName);
  SetText(std::string(reinterpret_cast<const char*>(file.Memory()),
                      static_cast<std::size_t>(file.Size())));
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
