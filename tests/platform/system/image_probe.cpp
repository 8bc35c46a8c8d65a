// A stand-in for the setup program's start-up, small enough to be the stub of test images: it
// loads the resources appended to its own file and reports TFORM1 on standard output as
// "TFORM1 <size> <CRC-32 in hex>", or prints why the image was refused on standard error and
// ends with ExitCodeBadImage, as the setup program does.
#include <cstdio>

#include "InstallerImage.h"
#include "Resources.h"

int main() {
  const TImageCheck check = LoadImageResources(ExecutableFileName());
  if (!check.Ok()) {
    std::fprintf(stderr, "%s\n", check.Message.c_str());
    return ExitCodeBadImage;
  }
  const std::optional<std::string_view> form = FindResource("TFORM1");
  if (!form) {
    std::fprintf(stderr, "no TFORM1\n");
    return 1;
  }
  std::printf("TFORM1 %zu %08X\n", form->size(), Crc32(form->data(), form->size()));
  return 0;
}
