#include "FileCtrl.h"

#include "FileServices.h"

bool IsExistingDirectory(const std::string& path) {
  // A path that cannot be examined has every bit set, the directory bit included, so the
  // sentinel has to be ruled out before the bit means anything.
  const uint32_t attributes = GetFileAttributes(path);
  return attributes != faInvalid && (attributes & faDirectory) != 0;
}
