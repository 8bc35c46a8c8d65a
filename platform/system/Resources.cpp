#include "Resources.h"

#include <cctype>
#include <map>

namespace {

std::string Key(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

struct TEntry {
  std::string Owned;
  std::string_view View;
  std::shared_ptr<const void> Owner;
};

std::map<std::string, TEntry>& Table() {
  static std::map<std::string, TEntry> table;
  return table;
}

}  // namespace

void RegisterResource(std::string_view name, std::string data) {
  TEntry& entry = Table()[Key(name)];
  entry.Owner.reset();
  entry.Owned = std::move(data);
  entry.View = entry.Owned;
}

void RegisterResourceView(std::string_view name, std::string_view data,
                          std::shared_ptr<const void> owner) {
  TEntry& entry = Table()[Key(name)];
  entry.Owned.clear();
  entry.View = data;
  entry.Owner = std::move(owner);
}

std::optional<std::string_view> FindResource(std::string_view name) {
  auto it = Table().find(Key(name));
  if (it == Table().end()) return std::nullopt;
  return it->second.View;
}

void ClearResources() { Table().clear(); }
