#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TBytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TBytes BytesOf(const std::string& text) { return TBytes(text.begin(), text.end()); }

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TTempDir::TTempDir(bool pointTmpDir) {
  // Taken once, before any TTempDir pointed TMPDIR elsewhere, so folders never nest.
  static const fs::path base = fs::temp_directory_path();
  std::string pattern = (base / "tavrix-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
  if (pointTmpDir) {
    FPointedTmpDir = true;
    if (const char* old = std::getenv("TMPDIR")) {
      FHadTmpDir = true;
      FOldTmpDir = old;
    }
    setenv("TMPDIR", FPath.c_str(), 1);
  }
}

TTempDir::~TTempDir() {
  if (FPointedTmpDir) {
    if (FHadTmpDir)
      setenv("TMPDIR", FOldTmpDir.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::error_code ec;
  // Make read-only entries removable again before removing the tree.
  for (auto it = fs::recursive_directory_iterator(FPath, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(FPath, ec);
}

TEntryState EntryState(const std::string& path) {
  TEntryState state;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return state;
  state.Kind = st.st_mode & S_IFMT;
  state.Inode = st.st_ino;
  state.Mode = st.st_mode & 07777;
  if (S_ISREG(st.st_mode)) state.Bytes = ReadWholeFile(path);
  if (S_ISLNK(st.st_mode)) state.LinkTarget = fs::read_symlink(path).string();
  return state;
}

void PrintTo(const TEntryState& state, std::ostream* os) {
  *os << "{kind " << std::oct << state.Kind << ", mode " << state.Mode << std::dec << ", inode "
      << state.Inode << ", " << state.Bytes.size() << " bytes";
  if (!state.LinkTarget.empty()) *os << ", link to " << state.LinkTarget;
  *os << "}";
}

const std::vector<TForeignEntry>& ForeignEntries() {
  static const std::vector<TForeignEntry> entries = {
      {"a read-only file",
       [](const std::string& path) {
         WriteWholeFile(path, BytesOf("someone's file"));
         return chmod(path.c_str(), 0444) == 0;
       }},
      {"a link to a file",
       [](const std::string& path) {
         WriteWholeFile(path + ".target", BytesOf("the file linked to"));
         return symlink((path + ".target").c_str(), path.c_str()) == 0;
       }},
      {"a dangling link",
       [](const std::string& path) {
         return symlink((path + ".target").c_str(), path.c_str()) == 0;
       }},
      {"a link to a folder",
       [](const std::string& path) {
         return mkdir((path + ".target").c_str(), 0755) == 0 &&
                symlink((path + ".target").c_str(), path.c_str()) == 0;
       }},
      {"a folder", [](const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }},
      {"a pipe", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }},
      {"a device",  // the null device, under a name of the test's own
       [](const std::string& path) {
         return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
       }},
  };
  return entries;
}

namespace {
std::string FirstExisting(std::initializer_list<const char*> candidates, std::uintmax_t minSize) {
  for (const char* c : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(c, ec) && fs::file_size(c, ec) >= minSize) return c;
  }
  ADD_FAILURE() << "none of the expected system files is present";
  return {};
}
}  // namespace

std::string SystemLicenceText() {
  return FirstExisting({"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2"},
                       10000);
}

std::string SystemLargeProgram() {
  return FirstExisting({"/usr/bin/bash", "/bin/bash", "/usr/bin/perl", "/usr/bin/cmake"}, 1000000);
}

std::string SystemSmallProgram() {
  return FirstExisting({"/usr/bin/true", "/bin/true", "/usr/bin/ls", "/bin/ls"}, 1000);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TRun RunCommand(const TTempDir& dir, const std::string& commandLine) {
  const std::string out = dir / "stdout.log", err = dir / "stderr.log";
  const std::string cmd = commandLine + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
  TRun run;
  const int raw = std::system(cmd.c_str());
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const TBytes outBytes = ReadWholeFile(out), errBytes = ReadWholeFile(err);
  run.Out.assign(outBytes.begin(), outBytes.end());
  run.Err.assign(errBytes.begin(), errBytes.end());
  std::error_code ec;
  fs::remove(out, ec);
  fs::remove(err, ec);
  return run;
}
