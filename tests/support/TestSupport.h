// Helpers shared by the tests: private temporary folders, whole-file reads and writes, and
// files found on the machine that nobody on this project wrote.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

TBytes ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const TBytes& bytes);
TBytes BytesOf(const std::string& text);
// Lists the names in a folder (without "." and ".."), sorted.
std::vector<std::string> ListFolder(const std::string& path);

// A fresh folder of its own under the system's temporary folder, removed with everything in it
// when the object goes. With pointTmpDir the process's TMPDIR names it for the object's life,
// so code that unpacks into "the temporary folder" lands there and can be checked.
class TTempDir {
 public:
  explicit TTempDir(bool pointTmpDir = false);
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  std::vector<std::string> Names() const { return ListFolder(FPath); }

 private:
  std::string FPath;
  bool FPointedTmpDir = false;
  bool FHadTmpDir = false;
  std::string FOldTmpDir;
};

// What stands under a name, to show that a call left it alone: its kind (the S_IFMT bits, 0 when
// nothing stands there), its identity, its permission bits, and a regular file's bytes or a
// link's target.
struct TEntryState {
  unsigned Kind = 0;
  uint64_t Inode = 0;
  unsigned Mode = 0;
  TBytes Bytes;
  std::string LinkTarget;

  bool operator==(const TEntryState&) const = default;
};
TEntryState EntryState(const std::string& path);
void PrintTo(const TEntryState& state, std::ostream* os);

// The kinds of entries that a program must never open for writing, empty, replace as if they were
// regular files of its own, or remove: a read-only file, links (to a file, to a folder, to
// nothing), a folder, a pipe and a device. Make puts one at path; what it links to is made beside
// path (path + ".target"). Make gives false where the machine does not allow the kind (a device
// node needs the superuser).
struct TForeignEntry {
  const char* Kind;
  bool (*Make)(const std::string& path);
};
const std::vector<TForeignEntry>& ForeignEntries();

// Real files from the machine: a licence text, a program of a megabyte or more, a small
// program. Each comes from a Debian package every system has; the test fails loudly if absent.
std::string SystemLicenceText();
std::string SystemLargeProgram();
std::string SystemSmallProgram();

// What a program run by RunCommand did.
struct TRun {
  int Status = -1;  // its exit status, -1 when it did not exit normally
  std::string Out;
  std::string Err;
};

// The text quoted for the shell, so that it stays one word whatever it holds.
std::string ShellQuote(const std::string& text);

// Runs a shell command line (its words quoted by the caller) with its standard output and error
// caught through files in dir, which are removed again.
TRun RunCommand(const TTempDir& dir, const std::string& commandLine);
