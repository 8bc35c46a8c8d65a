#include "Resources.h"

#include <cctype>
#include <map>

namespace {

std::string Key(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

std::map<std::string, std::string>& Table() {
  static std::map<std::string, std::string> table;
  return table;
}

}  // namespace

void RegisterResource(std::string_view name, std::string data) {
  Table()[Key(name)] = std::move(data);
}

const std::string* FindResource(std::string_view name) {
  auto it = Table().find(Key(name));
  return it == Table().end() ? nullptr : &it->second;
}

void ClearResources() { Table().clear(); }
