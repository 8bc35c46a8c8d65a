// Feeds arbitrary bytes to the form reader, with a root that has the installer's two file
// sources, so that "FileData" values reach the unpacking code. Every input must end in a clean
// exception or a complete read, and no temporary extraction file may outlive its component.
#include <dirent.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Classes.h"
#include "FileSrc.h"

namespace {

class TFuzzRoot : public TComponent {
  TAVRIX_CLASS(TFuzzRoot)
 public:
  explicit TFuzzRoot(TComponent* owner = nullptr) : TComponent(owner) {}
  TFileSource* FileSource1 = nullptr;
  TFileSource* FileSource2 = nullptr;
};

const TClassInfo& TFuzzRoot::StaticClassInfo() {
  static const TClassInfo info{
      "TFuzzRoot",
      &TComponent::StaticClassInfo(),
      nullptr,
      {},
      {TAVRIX_FIELD(TFuzzRoot, FileSource1), TAVRIX_FIELD(TFuzzRoot, FileSource2)},
      {}};
  return info;
}

// A private temporary folder for the whole run.
const std::string& FuzzTmpDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tavrix-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    setenv("TMPDIR", pattern, 1);
    return std::string(pattern);
  }();
  return dir;
}

bool FolderHasFiles(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") found = true;
  }
  closedir(dir);
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& tmp = FuzzTmpDir();
  {
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<int32_t>(size));
    input.SetPosition(0);
    TFuzzRoot root;
    try {
      ReadComponentFromStream(input, &root);
    } catch (const Exception&) {
      // A damaged description fails cleanly; that is all that is asked of it.
    }
  }
  if (FolderHasFiles(tmp)) {
    std::fprintf(stderr, "a temporary extraction file outlived its component\n");
    std::abort();
  }
  return 0;
}
