// Tests on folders.
#pragma once

#include <string>

// True only when path names an existing folder (a symbolic link counts by its target); false for
// a missing path, an empty one, and a file. Never raises.
bool IsExistingDirectory(const std::string& path);
