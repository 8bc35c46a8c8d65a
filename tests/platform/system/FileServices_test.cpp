// The file services where they decide what is read, what is replaced and what is removed: links
// followed only for reading, nothing but regular files handed out, nothing of anyone else's
// emptied or removed, and a move that fails changing nothing.
#include "FileServices.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

const TForeignEntry* Foreign(const std::string& kind) {
  for (const TForeignEntry& entry : ForeignEntries()) {
    if (kind == entry.Kind) return &entry;
  }
  ADD_FAILURE() << "no foreign entry of kind " << kind;
  return nullptr;
}

// Guards a call that used to block (opening a pipe waits for its other end): if it still does,
// the alarm ends the test program, and the test fails instead of hanging.
class TNoHang {
 public:
  TNoHang() { alarm(20); }
  ~TNoHang() { alarm(0); }
  TNoHang(const TNoHang&) = delete;
  TNoHang& operator=(const TNoHang&) = delete;
};

TEST(FileServicesTest, OpenReadsThroughLinksButRefusesAnythingButARegularFileAtOnce) {
  TTempDir dir;
  WriteWholeFile(dir / "a file", BytesOf("bytes"));
  const struct {
    const char* kind;  // a kind of ForeignEntries(), or "a file"
    TFileAccess access;
    const char* reason;  // nullptr: the open succeeds
  } cases[] = {
      {"a file", TFileAccess::Read, nullptr},
      // A file that the user names may be a link (mksetup pack /usr/bin/awk).
      {"a link to a file", TFileAccess::Read, nullptr},
      // A file that the program writes is never reached through one.
      {"a link to a file", TFileAccess::Write, "Too many levels of symbolic links"},
      // A pipe without a writer used to hold the open for good.
      {"a pipe", TFileAccess::Read, "not a regular file"},
      {"a pipe", TFileAccess::Write, "not a regular file"},
      {"a device", TFileAccess::Read, "not a regular file"},
      {"a folder", TFileAccess::Read, "Is a directory"},
      {"a link to a folder", TFileAccess::Read, "Is a directory"},
      {"a read-only file", TFileAccess::Write, "Permission denied"},
      {"a read-only file", TFileAccess::Read, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string path = dir / "a file";
    if (std::string(c.kind) != "a file") {
      path = dir / ("entry" + std::to_string(n++));
      if (!Foreign(c.kind)->Make(path)) {
        std::cout << "skipped: this machine cannot make " << c.kind << "\n";
        continue;
      }
    }
    const TEntryState before = EntryState(path);
    TNoHang guard;
    TFileHandle file(FileOpen(path, c.access));
    if (c.reason) {
      EXPECT_FALSE(file.Valid()) << c.kind;
      EXPECT_EQ(LastOsErrorText(), c.reason) << c.kind;
    } else {
      ASSERT_TRUE(file.Valid()) << c.kind << ": " << LastOsErrorText();
      char first = 0;
      EXPECT_EQ(FileRead(file.Get(), &first, 1), 1) << c.kind;
    }
    file.Close();
    EXPECT_EQ(EntryState(path), before) << c.kind;
  }
}

// What may stand where the program puts a file of its own (an installed program, an output of
// mksetup): nothing, or a regular file that it could write. Anything else is refused with its
// reason and left exactly as it was.
TEST(FileServicesTest, OnlyARegularFileThatMayBeWrittenIsReplaced) {
  TTempDir dir;
  int n = 0;
  for (const TForeignEntry& foreign : ForeignEntries()) {
    const std::string target = dir / ("target" + std::to_string(n));
    const std::string fresh = dir / ("new" + std::to_string(n++));
    if (!foreign.Make(target)) {
      std::cout << "skipped: this machine cannot make " << foreign.Kind << "\n";
      continue;
    }
    WriteWholeFile(fresh, BytesOf("new"));
    const TEntryState before = EntryState(target);
    EXPECT_FALSE(CanReplace(target)) << foreign.Kind;
    EXPECT_FALSE(ReplaceFile(fresh, target)) << foreign.Kind;
    const std::string reason = LastOsErrorText();
    EXPECT_TRUE(reason == "not a regular file" || reason == "Permission denied" ||
                reason == "Is a directory")
        << foreign.Kind << ": " << reason;
    EXPECT_EQ(EntryState(target), before) << foreign.Kind;
    EXPECT_EQ(ReadWholeFile(fresh), BytesOf("new")) << foreign.Kind;
  }

  // A writable file, and nothing at all, are replaced in one step.
  for (const bool existed : {true, false}) {
    const std::string target = dir / (existed ? "old" : "none");
    if (existed) WriteWholeFile(target, BytesOf("old"));
    WriteWholeFile(dir / "next", BytesOf("next"));
    EXPECT_TRUE(CanReplace(target));
    EXPECT_TRUE(ReplaceFile(dir / "next", target)) << LastOsErrorText();
    EXPECT_EQ(ReadWholeFile(target), BytesOf("next"));
    EXPECT_FALSE(EntryExists(dir / "next"));
  }
}

// Runs body in a child process as the unprivileged user "nobody" and gives its exit status; the
// superuser ignores the permissions of folders, which some failures need.
int AsNobody(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FileServicesTest, AMoveThatCannotRemoveItsSourceUndoesTheNewName) {
  TTempDir dir;
  chmod(dir.Path().c_str(), 0755);
  // The source lies in a folder where the mover may not remove entries; the destination's
  // folder is the mover's own.
  fs::create_directory(dir / "locked");
  fs::create_directory(dir / "mine");
  const std::string source = dir / "locked/program", dest = dir / "mine/program";
  WriteWholeFile(source, BytesOf("program"));
  // 0: refused and nothing changed; 1: reported as moved; 2: refused, but the new name stayed.
  const auto move = [&] {
    if (MoveFile(source, dest)) return 1;
    return EntryExists(dest) ? 2 : 0;
  };
  int outcome = 0;
  if (geteuid() == 0) {
    // The superuser ignores the permissions of folders: the move runs as "nobody".
    ASSERT_EQ(chown(source.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown((dir / "mine").c_str(), 65534, 65534), 0);
    outcome = AsNobody(move);
    ASSERT_NE(outcome, 100) << "cannot become the user nobody";
  } else {
    chmod((dir / "locked").c_str(), 0555);
    outcome = move();
    chmod((dir / "locked").c_str(), 0755);
  }
  EXPECT_EQ(outcome, 0) << "a move that left both names";
  EXPECT_EQ(ReadWholeFile(source), BytesOf("program"));
  EXPECT_FALSE(EntryExists(dest));
}

// A file that the caller holds open is moved only while its name is still that file; someone who
// swapped the name (in a temporary folder that others can write) gets nothing moved.
TEST(FileServicesTest, AMoveOfAnOpenFileTakesOnlyThatFile) {
  TTempDir dir;
  const struct {
    const char* how;
    std::function<void(const std::string&)> swap;  // nullptr: the name is left alone
    std::string destFolder;                        // another file system when not empty
  } cases[] = {
      {"nobody swapped it", nullptr, ""},
      {"nobody swapped it, across file systems", nullptr, "/dev/shm"},
      {"another file renamed over it",
       [&](const std::string& name) {
         WriteWholeFile(dir / "other", BytesOf("other's"));
         fs::rename(dir / "other", name);
       },
       ""},
      {"a link put in its place",
       [&](const std::string& name) {
         fs::remove(name);
         fs::create_symlink(dir / "elsewhere", name);
       },
       ""},
      {"another file renamed over it, across file systems",
       [&](const std::string& name) {
         WriteWholeFile(dir / "other", BytesOf("other's"));
         fs::rename(dir / "other", name);
       },
       "/dev/shm"},
  };
  for (const auto& c : cases) {
    const std::string name = dir / "~fs10.exe";
    TFileHandle file(FileCreateNew(name));
    ASSERT_TRUE(file.Valid());
    ASSERT_EQ(FileWrite(file.Get(), "mine", 4), 4);
    std::string dest = dir / "installed";
    if (!c.destFolder.empty()) dest = c.destFolder + "/tavrix-test-" + std::to_string(getpid());
    if (c.swap) c.swap(name);
    const TEntryState swapped = EntryState(name);

    const bool moved = MoveFile(name, dest, file.Get());
    if (c.swap) {
      EXPECT_FALSE(moved) << c.how;
      EXPECT_EQ(LastOsErrorText(), "the name no longer refers to the file that was opened")
          << c.how;
      EXPECT_FALSE(EntryExists(dest)) << c.how;
      EXPECT_EQ(EntryState(name), swapped) << c.how;
    } else {
      EXPECT_TRUE(moved) << c.how << ": " << LastOsErrorText();
      EXPECT_EQ(ReadWholeFile(dest), BytesOf("mine")) << c.how;
      EXPECT_FALSE(EntryExists(name)) << c.how;
    }
    fs::remove(name);
    fs::remove(dest);
  }
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{}) << "no partial copy left";
}

TEST(FileServicesTest, DeleteFileIfSameRemovesOnlyTheFileThatIsOpen) {
  TTempDir dir;
  const struct {
    const char* what;
    std::function<void(const std::string&)> change;
    bool deleted;
  } cases[] = {
      {"the file itself", [](const std::string&) {}, true},
      {"another file under the name",
       [&](const std::string& name) {
         WriteWholeFile(dir / "other", BytesOf("other's"));
         fs::rename(dir / "other", name);
       },
       false},
      {"a link to the file under the name",
       [&](const std::string& name) {
         fs::rename(name, dir / "moved");
         fs::create_symlink(dir / "moved", name);
       },
       false},
  };
  for (const auto& c : cases) {
    const std::string name = dir / "temp";
    TFileHandle file(FileCreateNew(name));
    ASSERT_TRUE(file.Valid());
    c.change(name);
    EXPECT_EQ(DeleteFileIfSame(name, file.Get()), c.deleted) << c.what;
    EXPECT_EQ(EntryExists(name), !c.deleted) << c.what;
    if (!c.deleted) {
      EXPECT_EQ(LastOsErrorText(), "the name no longer refers to the file that was opened");
    }
    for (const auto& leftover : ListFolder(dir.Path())) fs::remove(dir / leftover);
  }
}

TEST(FileServicesTest, AFileBesideItsTargetIsNamedAfterItAndFitsWhereTheTargetFits) {
  TTempDir dir;
  std::string temp;
  // A dangling link at the first name: skipped, and nothing is made through it.
  fs::create_symlink(dir / "through-link", dir / "program.part0");
  TFileHandle file(FileCreateBeside(dir / "program", temp));
  ASSERT_TRUE(file.Valid()) << LastOsErrorText();
  EXPECT_EQ(temp, dir / "program.part1");
  EXPECT_FALSE(EntryExists(dir / "through-link"));
  struct stat st {};
  ASSERT_EQ(fstat(static_cast<int>(file.Get()), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "private to its owner";

  // A name as long as the system takes, in a path as long as the system takes.
  std::string deep = dir.Path();
  while (PATH_MAX - 1 - deep.size() > 300) deep += "/" + std::string(200, 'd');
  fs::create_directories(deep);
  const std::string longest = deep + "/" + std::string(PATH_MAX - 2 - deep.size(), 'n');
  ASSERT_EQ(longest.size(), static_cast<std::size_t>(PATH_MAX - 1));
  const std::string longName = dir / std::string(NAME_MAX, 'n');
  for (const std::string& target : {longest, longName}) {
    TFileHandle beside(FileCreateBeside(target, temp));
    EXPECT_TRUE(beside.Valid()) << target.size() << ": " << LastOsErrorText();
    EXPECT_LE(temp.size(), target.size());
    EXPECT_EQ(temp.substr(temp.size() - 6), ".part0");
  }
  // One character more than the system takes fails, as creating the target would.
  EXPECT_FALSE(TFileHandle(FileCreateBeside(longest + "x", temp)).Valid());
}

TEST(FileServicesTest, ReopenForReadingGivesAReadOnlyHandleOnTheSameFileOnly) {
  TTempDir dir;
  const std::string name = dir / "temp";
  TFileHandle file(FileCreateNew(name));
  ASSERT_EQ(FileWrite(file.Get(), "abc", 3), 3);
  TFileHandle reader(ReopenForReading(name, file.Get()));
  ASSERT_TRUE(reader.Valid()) << LastOsErrorText();
  EXPECT_TRUE(SameFile(reader.Get(), name));
  EXPECT_EQ(FileWrite(reader.Get(), "x", 1), -1) << "reading only";
  char bytes[3] = {};
  EXPECT_EQ(FileRead(reader.Get(), bytes, 3), 3);

  WriteWholeFile(dir / "other", BytesOf("other's"));
  fs::rename(dir / "other", name);
  EXPECT_FALSE(TFileHandle(ReopenForReading(name, file.Get())).Valid());
  EXPECT_EQ(LastOsErrorText(), "the name no longer refers to the file that was opened");
}

}  // namespace
