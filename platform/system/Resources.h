// The program's resources: named blocks of bytes (the main form's description, cursors, icons).
//
// Resources compiled into the program and those read from the block appended to an installer
// image are registered here by name and looked up through the same table.
#pragma once

#include <string>
#include <string_view>

// Registers (or replaces) a resource. Names compare without regard to case.
void RegisterResource(std::string_view name, std::string data);
// The resource of that name, or nullptr.
const std::string* FindResource(std::string_view name);
// Removes every resource (tests).
void ClearResources();
