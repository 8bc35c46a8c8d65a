// The program's resources: named blocks of bytes (the main form's description, cursors, icons).
//
// Resources compiled into the program and those read from the block appended to an installer
// image are registered here by name and looked up through the same table.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Registers (or replaces) a resource. Names compare without regard to case.
void RegisterResource(std::string_view name, std::string data);
// Registers bytes held elsewhere, without copying them; owner keeps them alive (a mapped file).
void RegisterResourceView(std::string_view name, std::string_view data,
                          std::shared_ptr<const void> owner);
// The bytes of the resource of that name, valid until it is replaced or cleared; nothing when
// there is no such resource.
std::optional<std::string_view> FindResource(std::string_view name);
// Removes every resource (tests).
void ClearResources();
