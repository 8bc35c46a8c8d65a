#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "FileCtrl.h"
#include "FileServices.h"
#include "FmxUtils.h"
#include "TestSupport.h"

extern char** environ;

namespace fs = std::filesystem;

static_assert(std::is_base_of_v<EStreamError, EFCantMove>,
              "callers catch EFCantMove as a stream error");

// --- Reads of one file, seen where the program meets the system -------------------------------
//
// This test program defines the C library's read(), so every read that the code under test makes
// passes through here on its way to the system. Outside a watch the call is only forwarded; during
// one, the reads of the watched file are recorded and can be made to fail part-way.

namespace {

struct TReadWatchState {
  bool Active = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  int64_t FailAfter = -1;  // when 0 or more: hand out this many bytes of the file, then fail
  int64_t Delivered = 0;
  std::vector<long> Results;  // what each read of the file gave
};

TReadWatchState GReadWatch;

bool IsWatched(int fd) {
  struct stat st {};
  return GReadWatch.Active && fstat(fd, &st) == 0 && st.st_dev == GReadWatch.Device &&
         st.st_ino == GReadWatch.Inode;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  if (!IsWatched(fd)) return syscall(SYS_read, fd, buffer, count);
  if (GReadWatch.FailAfter >= 0) {
    const int64_t left = GReadWatch.FailAfter - GReadWatch.Delivered;
    if (left <= 0) {
      GReadWatch.Results.push_back(-1);
      errno = EIO;
      return -1;
    }
    count = std::min<size_t>(count, static_cast<size_t>(left));
  }
  const long got = syscall(SYS_read, fd, buffer, count);
  GReadWatch.Results.push_back(got);
  if (got > 0) GReadWatch.Delivered += got;
  return got;
}

namespace {

// Watches the reads of the file at path while the object lives.
class TReadWatch {
 public:
  explicit TReadWatch(const std::string& path, int64_t failAfter = -1) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot watch " + path);
    GReadWatch = {true, st.st_dev, st.st_ino, failAfter, 0, {}};
  }
  ~TReadWatch() { GReadWatch.Active = false; }
  TReadWatch(const TReadWatch&) = delete;
  TReadWatch& operator=(const TReadWatch&) = delete;

  const std::vector<long>& Results() const { return GReadWatch.Results; }
};

// A limit on the size of files that this process writes, like a medium with that much room
// left: a write beyond it takes only what fits, the next one fails (EFBIG; the signal that would
// also come is ignored meanwhile).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = FOld;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  sighandler_t FOldHandler = SIG_DFL;
};

// The current folder changed for the object's life.
class TCurrentDir {
 public:
  explicit TCurrentDir(const std::string& path) : FOld(fs::current_path()) {
    fs::current_path(path);
  }
  ~TCurrentDir() { fs::current_path(FOld); }
  TCurrentDir(const TCurrentDir&) = delete;
  TCurrentDir& operator=(const TCurrentDir&) = delete;

 private:
  fs::path FOld;
};

// A program started from path, killed and reaped when the object goes.
class TRunningProgram {
 public:
  TRunningProgram(const std::string& path, const std::string& argument) {
    std::string arg0 = path, arg1 = argument;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    // posix_spawn returns once the child runs the new program, so its file is busy from here.
    if (posix_spawn(&FPid, path.c_str(), nullptr, nullptr, argv, environ) != 0) FPid = -1;
  }
  ~TRunningProgram() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  TRunningProgram(const TRunningProgram&) = delete;
  TRunningProgram& operator=(const TRunningProgram&) = delete;

  pid_t Pid() const { return FPid; }

 private:
  pid_t FPid = -1;
};

struct TRaised {
  std::string ClassName;
  std::string Message;
  bool operator==(const TRaised&) const = default;
};

void PrintTo(const TRaised& raised, std::ostream* os) {
  *os << raised.ClassName << " \"" << raised.Message << "\"";
}

// The class and message of the exception that action raises.
TRaised RaisedBy(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return {e.ClassName(), e.Message()};
  }
  return {"nothing", ""};
}

TBytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Everything under a folder: each entry's kind, permission bits and a digest of its contents (or
// its link target), so that "nothing changed on disk" is checked as a whole.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = entry.symlink_status();
    std::string description = std::to_string(static_cast<int>(status.type())) + " " +
                              std::to_string(static_cast<unsigned>(status.permissions())) + " ";
    if (status.type() == fs::file_type::regular) {
      const TBytes bytes = ReadWholeFile(entry.path());
      description +=
          std::to_string(bytes.size()) + " bytes, hash " +
          std::to_string(std::hash<std::string>()(std::string(bytes.begin(), bytes.end())));
    } else if (status.type() == fs::file_type::symlink) {
      description += fs::read_symlink(entry.path()).string();
    }
    entries[fs::relative(entry.path(), root).string()] = description;
  }
  return entries;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void MakeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }

class FmxUtilsTest : public testing::Test {
 protected:
  // Writes a file into the test's folder and returns its path.
  std::string Put(const std::string& name, const TBytes& bytes) {
    const std::string path = FDir / name;
    WriteWholeFile(path, bytes);
    return path;
  }
  std::string Folder(const std::string& name) {
    const std::string path = FDir / name;
    fs::create_directories(path);
    return path;
  }

  TTempDir FDir;
};

// --- IsExistingDirectory and FileHasAttributes --------------------------------------------------

TEST_F(FmxUtilsTest, AttributeTestsTakeUnreadableAttributesAsAllBitsSet) {
  const std::string folder = Folder("folder");
  const std::string file = Put("file.txt", BytesOf("x"));
  const std::string readOnly = Put("ro.txt", BytesOf("x"));
  MakeReadOnly(readOnly);
  const std::string missing = FDir / "missing";

  struct {
    std::string path;
    bool isDirectory;
  } directoryCases[] = {{folder, true}, {file, false}, {missing, false}, {"", false}};
  for (const auto& c : directoryCases) {
    EXPECT_EQ(IsExistingDirectory(c.path), c.isDirectory) << "'" << c.path << "'";
  }

  struct {
    std::string path;
    uint16_t mask;
    bool has;
  } attributeCases[] = {
      // clang-format off
      {folder,   0x10,   true},
      {file,     0x10,   false},
      {missing,  0x10,   true},   // cannot be read: every bit is set
      {"",       0x01,   true},
      {missing,  0xFFFF, true},
      {folder,   0xFFFF, false},
      {readOnly, 0x01,   true},
      {file,     0x01,   false},
      {folder,   0x11,   false},  // every bit of the mask must be there
      {file,     0x00,   true},
      // clang-format on
  };
  for (const auto& c : attributeCases) {
    EXPECT_EQ(FileHasAttributes(c.path, c.mask), c.has) << "'" << c.path << "' mask " << c.mask;
  }
}

// --- GetFullPathName -----------------------------------------------------------------------------

TEST_F(FmxUtilsTest, FullPathIsMadeFromTheTextWithoutResolvingLinks) {
  TCurrentDir cwd(FDir.Path());
  const std::string here = fs::current_path().string();
  const std::string parent = fs::current_path().parent_path().string();
  fs::create_directory_symlink("/usr/bin", FDir / "link");
  const std::string longName = "/" + std::string(3000, 'a') + "/" + std::string(3000, 'b');

  struct {
    std::string path;
    std::string full;
  } cases[] = {
      {"", ""},
      {"tavrix.exe", here + "/tavrix.exe"},
      {".", here},
      {"..", parent},
      {"a/./b/../c", here + "/a/c"},
      {"a//b", here + "/a/b"},
      {"sub/", here + "/sub/"},  // a trailing separator still asks for a folder
      {"/x//y/./z/..", "/x/y"},
      {"/../../x", "/x"},
      {"/", "/"},
      {"link/..", here},                     // text only: not /usr, where the link leads
      {longName + "/./c", longName + "/c"},  // longer than the system takes, and whole
  };
  for (const auto& c : cases) EXPECT_EQ(GetFullPathName(c.path), c.full) << "'" << c.path << "'";
}

// --- MoveFileTo ----------------------------------------------------------------------------------

TEST_F(FmxUtilsTest, MoveIntoExistingFolderRenamesTheFile) {
  const TBytes program = RandomBytes(20000, 1);
  const std::string source = Put("~fs70.exe", program);
  const ino_t inode = InodeOf(source);
  Folder("Tavrix");

  MoveFileTo(source, FDir / "Tavrix/tavrix.exe");

  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Tavrix"});
  EXPECT_EQ(ListFolder(FDir / "Tavrix"), std::vector<std::string>{"tavrix.exe"});
  EXPECT_EQ(ReadWholeFile(FDir / "Tavrix/tavrix.exe"), program);
  EXPECT_EQ(InodeOf(FDir / "Tavrix/tavrix.exe"), inode) << "copied instead of renamed";
}

TEST_F(FmxUtilsTest, MoveOntoExistingFileReplacesItsContentsAndKeepsTheSource) {
  const TBytes program = RandomBytes(10000, 2);
  const std::string source = Put("~fs71.exe", program);
  // Longer than the new contents, so that a copy that does not empty the file first shows.
  const std::string target = Put("tavrix.exe", RandomBytes(30000, 3));

  MoveFileTo(source, target);

  EXPECT_EQ(ReadWholeFile(target), program);
  EXPECT_EQ(ReadWholeFile(source), program);
}

TEST_F(FmxUtilsTest, MoveOfReadOnlySourceOntoExistingFileChangesNothing) {
  const std::string source = Put("~fs72.exe", RandomBytes(5000, 4));
  MakeReadOnly(source);
  const std::string target = Put("tavrix.exe", RandomBytes(7000, 5));
  const auto before = Snapshot(FDir.Path());

  EXPECT_EQ(RaisedBy([&] { MoveFileTo(source, target); }),
            (TRaised{"EFCantMove", "Cannot move file " + source}));
  EXPECT_EQ(Snapshot(FDir.Path()), before);
}

TEST_F(FmxUtilsTest, MoveOfMissingOrEmptySourceRaisesCantMove) {
  const std::string folder = Folder("Tavrix");
  TCurrentDir cwd(FDir.Path());
  struct {
    const char* why;
    std::string source;
    std::string message;
  } cases[] = {
      {"missing", FDir / "~fs73.exe", "Cannot move file " + (FDir / "~fs73.exe")},
      {"relative, named as given", "~fs73.exe", "Cannot move file ~fs73.exe"},
      {"empty: nothing after the blank", "", "Cannot move file "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RaisedBy([&] { MoveFileTo(c.source, folder + "/tavrix.exe"); }),
              (TRaised{"EFCantMove", c.message}))
        << c.why;
  }
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Tavrix"});
  EXPECT_TRUE(ListFolder(folder).empty());
}

TEST_F(FmxUtilsTest, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm: no second file system to try";
  std::string pattern = "/dev/shm/tavrix-test-XXXXXX";
  const int fd = mkstemp(pattern.data());
  ASSERT_GE(fd, 0) << "cannot make a file in /dev/shm";
  close(fd);
  const std::string source = pattern;
  struct TRemove {
    std::string Path;
    ~TRemove() { unlink(Path.c_str()); }
  } removeSource{source};
  const TBytes program = RandomBytes(3 * CopyChunkSize + 17, 6);
  WriteWholeFile(source, program);
  chmod(source.c_str(), 0750);

  struct stat from {
  }, to{};
  ASSERT_EQ(stat(source.c_str(), &from), 0);
  ASSERT_EQ(stat(FDir.Path().c_str(), &to), 0);
  ASSERT_NE(from.st_dev, to.st_dev)
      << "/dev/shm and the temporary folder are on one file system: this machine cannot show a "
         "move across file systems";

  const std::string target = FDir / "tavrix.exe";
  MoveFileTo(source, target);

  EXPECT_FALSE(EntryExists(source));
  EXPECT_EQ(ReadWholeFile(target), program);
  struct stat moved {};
  ASSERT_EQ(stat(target.c_str(), &moved), 0);
  EXPECT_EQ(moved.st_mode & 07777, 0750u);
}

// --- CopyFileTo ----------------------------------------------------------------------------------

TEST_F(FmxUtilsTest, CopyIntoFolderUsesTheSourceFileName) {
  const TBytes program = RandomBytes(9000, 7);
  const std::string source = Put("~fs74.exe", program);
  struct {
    std::string dest;
    std::string landsAt;
  } cases[] = {
      {Folder("one"), FDir / "one/~fs74.exe"},
      {Folder("two") + "/", FDir / "two/~fs74.exe"},  // no second separator
      {FDir / "three/sub/..", FDir / "three/~fs74.exe"},
  };
  Folder("three/sub");
  for (const auto& c : cases) {
    CopyFileTo(source, c.dest);
    EXPECT_EQ(ReadWholeFile(c.landsAt), program) << c.dest;
  }
  EXPECT_EQ(ReadWholeFile(source), program);
}

TEST_F(FmxUtilsTest, CopyKeepsLengthAndBytesAroundTheChunkSize) {
  // The reads of the source as the system sees them. FileRead reads on after a short piece
  // until it has the count or meets the end, and the copy stops only at a read that gives
  // nothing, so a short last chunk costs two reads of 0.
  struct {
    size_t size;
    std::vector<long> reads;
  } cases[] = {
      {0, {0}},
      {8191, {8191, 0, 0}},
      {8192, {8192, 0}},  // the second read gives 0
      {8193, {8192, 1, 0, 0}},
      {3 * 8192, {8192, 8192, 8192, 0}},
  };
  const std::string folder = Folder("Tavrix");
  for (const auto& c : cases) {
    const TBytes bytes = RandomBytes(c.size, static_cast<uint32_t>(c.size));
    const std::string source = Put("source.bin", bytes);
    const std::string target = folder + "/source.bin";
    std::vector<long> reads;
    {
      TReadWatch watch(source);
      CopyFileTo(source, folder);
      reads = watch.Results();
    }
    EXPECT_EQ(ReadWholeFile(target), bytes) << c.size << " bytes";
    EXPECT_EQ(reads, c.reads) << c.size << " bytes";
  }
}

TEST_F(FmxUtilsTest, CopyThatCannotCreateNamesTheFullDestinationAndChangesNothing) {
  const TBytes program = RandomBytes(1000, 8);
  const std::string source = Put("src.bin", program);
  const std::string readOnly = Put("readonly.exe", BytesOf("old"));
  MakeReadOnly(readOnly);
  const std::string hardLink = FDir / "hardlink.bin";
  ASSERT_EQ(link(source.c_str(), hardLink.c_str()), 0);
  TCurrentDir cwd(FDir.Path());
  const std::string here = fs::current_path().string();

  struct {
    const char* why;
    std::function<void()> action;
    std::string named;
  } cases[] = {
      {"a missing destination is taken for a folder", [&] { CopyFileTo(source, FDir / "missing"); },
       FDir / "missing/src.bin"},
      {"a move into a missing folder, once the rename failed",
       [&] { MoveFileTo(source, FDir / "missing/tavrix.exe"); },
       FDir / "missing/tavrix.exe/src.bin"},
      {"a trailing separator is not doubled", [&] { CopyFileTo(source, FDir / "missing/"); },
       FDir / "missing/src.bin"},
      {"a relative destination is made full", [&] { CopyFileTo("src.bin", "gone/../missing"); },
       here + "/missing/src.bin"},
      {"read-only, even to the superuser", [&] { CopyFileTo(source, readOnly); }, readOnly},
      {"the source itself", [&] { MoveFileTo(source, source); }, source},
      {"the source under another name", [&] { CopyFileTo(source, hardLink); }, hardLink},
      {"the folder that holds the source", [&] { CopyFileTo(source, FDir.Path()); }, source},
      {"an empty destination is not aimed at the root", [&] { CopyFileTo(source, ""); }, ""},
  };
  for (const auto& c : cases) {
    const auto before = Snapshot(FDir.Path());
    EXPECT_EQ(RaisedBy(c.action), (TRaised{"EFCreateError", "Cannot create file " + c.named}))
        << c.why;
    EXPECT_EQ(Snapshot(FDir.Path()), before) << c.why;
  }
  EXPECT_EQ(ReadWholeFile(source), program);
}

TEST_F(FmxUtilsTest, CopyOntoDeviceIsRefusedAtCreation) {
  // A device is no place for a program; and were it taken, a failed write would have the copy
  // remove what it believes it made.
  const std::string source = Put("src.bin", RandomBytes(100, 9));
  EXPECT_EQ(RaisedBy([&] { CopyFileTo(source, "/dev/full"); }),
            (TRaised{"EFCreateError", "Cannot create file /dev/full"}));
  EXPECT_TRUE(EntryExists("/dev/full"));
}

TEST_F(FmxUtilsTest, CopyOverRunningProgramRaisesCreateError) {
  const std::string sleepProgram = "/usr/bin/sleep";
  ASSERT_TRUE(FileExists(sleepProgram)) << "needs " << sleepProgram << " to run a program";
  const std::string target = FDir / "tavrix.exe";
  fs::copy_file(sleepProgram, target);
  chmod(target.c_str(), 0755);
  const TBytes running = ReadWholeFile(target);
  const std::string source = Put("~fs75.exe", RandomBytes(5000, 10));

  TRunningProgram program(target, "600");
  ASSERT_GT(program.Pid(), 0) << "could not start " << target;
  ASSERT_EQ(InodeOf("/proc/" + std::to_string(program.Pid()) + "/exe"), InodeOf(target));

  EXPECT_EQ(RaisedBy([&] { MoveFileTo(source, target); }),
            (TRaised{"EFCreateError", "Cannot create file " + target}));
  EXPECT_EQ(ReadWholeFile(target), running);
}

TEST_F(FmxUtilsTest, CopyOfSourceThatCannotBeOpenedCreatesNothing) {
  Folder("folder");
  const std::string target = Folder("Tavrix");
  struct {
    std::string source;
  } cases[] = {{FDir / "missing.exe"}, {FDir / "folder"}, {""}};
  for (const auto& c : cases) {
    EXPECT_EQ(RaisedBy([&] { CopyFileTo(c.source, target); }),
              (TRaised{"EFOpenError", "Cannot open file " + c.source}));
  }
  EXPECT_TRUE(ListFolder(target).empty());
}

// A copy that fails leaves the destination as it was: missing when it was missing, and an
// existing file (an earlier version of the program) whole and unchanged, since the copy is
// written beside it and takes its name only when complete. No partial file is left either.
TEST_F(FmxUtilsTest, FailedReadRaisesReadErrorAndLeavesTheDestinationAsItWas) {
  const TBytes program = RandomBytes(20000, 11);
  const std::string source = Put("src.bin", program);
  struct {
    int64_t failAfter;
    bool targetExisted;
  } cases[] = {
      {0, false},    {5000, false},  // FileRead hands back the 5000 bytes; only the next read fails
      {8192, false}, {12000, false}, {0, true}, {12000, true},
  };
  const std::string folder = Folder("Tavrix");
  const std::string target = folder + "/src.bin";
  for (const auto& c : cases) {
    if (c.targetExisted) WriteWholeFile(target, BytesOf("old"));
    TRaised raised;
    {
      TReadWatch watch(source, c.failAfter);
      raised = RaisedBy([&] { CopyFileTo(source, folder); });
    }
    EXPECT_EQ(raised, (TRaised{"EReadError", "Stream read error"})) << c.failAfter;
    if (c.targetExisted) {
      EXPECT_EQ(ReadWholeFile(target), BytesOf("old")) << c.failAfter;
      EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"src.bin"}) << c.failAfter;
    } else {
      EXPECT_TRUE(ListFolder(folder).empty()) << c.failAfter;
    }
    EXPECT_EQ(ReadWholeFile(source), program);
    fs::remove(target);
  }
}

TEST_F(FmxUtilsTest, ShortWriteRaisesWriteErrorAndLeavesTheDestinationAsItWas) {
  const TBytes program = RandomBytes(20000, 12);
  const std::string source = Put("src.bin", program);
  struct {
    rlim_t room;
    bool targetExisted;
  } cases[] = {
      {0, false},    {5000, false},  // the first write takes 5000 of 8192 bytes
      {8192, false},                 // the first chunk fits, the second is refused whole
      {0, true},     {8192, true},   // an upgrade on a full medium: the old program stays
  };
  const std::string folder = Folder("Tavrix");
  const std::string target = folder + "/src.bin";
  for (const auto& c : cases) {
    if (c.targetExisted) WriteWholeFile(target, BytesOf("old"));
    TRaised raised;
    {
      TFileSizeLimit limit(c.room);
      raised = RaisedBy([&] { CopyFileTo(source, folder); });
    }
    EXPECT_EQ(raised, (TRaised{"EWriteError", "Stream write error"})) << c.room;
    if (c.targetExisted) {
      EXPECT_EQ(ReadWholeFile(target), BytesOf("old")) << c.room;
      EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"src.bin"}) << c.room;
    } else {
      EXPECT_TRUE(ListFolder(folder).empty()) << c.room;
    }
    EXPECT_EQ(ReadWholeFile(source), program);
    fs::remove(target);
  }
}

// A copy killed part-way (here by the signal of a full medium, which ends the program at the
// first write beyond the room left) used to leave a truncated program under the final name, the
// earlier version destroyed. The old program must stay whole, whether the copy goes across file
// systems or not.
TEST_F(FmxUtilsTest, ACopyKilledPartWayLeavesTheOldProgramWhole) {
  const TBytes program = RandomBytes(200000, 14);
  const std::string folder = Folder("Tavrix");
  const std::string target = folder + "/tavrix.exe";
  const struct {
    const char* what;
    std::function<void()> copy;
  } cases[] = {
      {"the copy of a move", [&] { MoveFileTo(Put("~fs76.exe", program), target); }},
      {"a copy of its own", [&] { CopyFileTo(Put("src.bin", program), target); }},
  };
  for (const auto& c : cases) {
    WriteWholeFile(target, BytesOf("the old version"));
    const pid_t pid = fork();
    if (pid == 0) {
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = 50000;
      signal(SIGXFSZ, SIG_DFL);
      setrlimit(RLIMIT_FSIZE, &limit);
      c.copy();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << c.what;
    EXPECT_EQ(ReadWholeFile(target), BytesOf("the old version")) << c.what;
    for (const std::string& name : ListFolder(folder)) {
      EXPECT_TRUE(name == "tavrix.exe" || name.find(".part") != std::string::npos) << name;
    }
  }
}

// The installer passes the handle of the file that it unpacked. Whatever stands under the
// file's name by now, the copy takes the open file.
TEST_F(FmxUtilsTest, ACopyFromAnOpenFileReadsThatFileAndNotItsName) {
  const std::string source = Put("~fs77.exe", RandomBytes(30000, 15));
  const TBytes unpacked = ReadWholeFile(source);
  TFileHandle opened(FileOpen(source, TFileAccess::Read));
  ASSERT_TRUE(opened.Valid());
  // Someone swaps another file in under the name.
  WriteWholeFile(FDir / "other", BytesOf("#!/bin/sh\nsomeone else's script\n"));
  fs::rename(FDir / "other", source);
  const std::string folder = Folder("Tavrix");
  WriteWholeFile(folder + "/tavrix.exe", BytesOf("the old version"));
  MoveFileTo(source, folder + "/tavrix.exe", opened.Get());
  EXPECT_EQ(ReadWholeFile(folder + "/tavrix.exe"), unpacked);
  EXPECT_EQ(ReadWholeFile(source), BytesOf("#!/bin/sh\nsomeone else's script\n"))
      << "the other file is left where it is";
}

TEST_F(FmxUtilsTest, PathsLongerThanTheSystemTakesAreRefusedWhole) {
  // A folder whose full path leaves room for a file name of 150 characters within PATH_MAX
  // (which counts the terminating zero).
  const size_t longest = PATH_MAX - 1;
  std::string deep = FDir.Path();
  while (longest - deep.size() > 400) deep += "/" + std::string(200, 'd');
  deep += "/" + std::string(longest - deep.size() - 1 - 1 - 150, 'e');
  fs::create_directories(deep);
  ASSERT_EQ(deep.size() + 1 + 150, longest);

  const TBytes program = RandomBytes(100, 13);
  const std::string fits = Put(std::string(150, 's'), program);
  const std::string tooLong = Put(std::string(151, 's'), program);
  CopyFileTo(fits, deep);
  EXPECT_EQ(ReadWholeFile(deep + "/" + std::string(150, 's')), program);

  const std::string longMissing = FDir / (std::string(200, 'm') + "/" + std::string(4000, 'n'));
  struct {
    const char* why;
    std::function<void()> action;
    TRaised raised;
  } cases[] = {
      {"one character over, at the create step",
       [&] { CopyFileTo(tooLong, deep); },
       {"EFCreateError", "Cannot create file " + deep + "/" + std::string(151, 's')}},
      {"a long destination, through a move",
       [&] { MoveFileTo(tooLong, longMissing); },
       {"EFCreateError", "Cannot create file " + longMissing + "/" + std::string(151, 's')}},
      {"a long source, at the open step",
       [&] { CopyFileTo(longMissing, FDir.Path()); },
       {"EFOpenError", "Cannot open file " + longMissing}},
      {"a long source, through a move",
       [&] { MoveFileTo(longMissing, FDir.Path()); },
       {"EFCantMove", "Cannot move file " + longMissing}},
  };
  for (const auto& c : cases) EXPECT_EQ(RaisedBy(c.action), c.raised) << c.why;
  EXPECT_EQ(ListFolder(deep), std::vector<std::string>{std::string(150, 's')});
}

}  // namespace
