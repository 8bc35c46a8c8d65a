// The streams: exact transfers of any size, TReadOnlyMemoryStream reading bytes in place, and
// TReplacingFileStream putting a file in place of another only when it is complete.
#include "Streams.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A stream that takes or hands out any number of bytes without touching them, and counts them.
class TCountingStream : public TStream {
 public:
  int32_t Read(void* /*buffer*/, int32_t count) override {
    FMoved += count;
    return count;
  }
  int32_t Write(const void* /*buffer*/, int32_t count) override {
    FMoved += count;
    return count;
  }
  int64_t Seek(int64_t /*offset*/, TSeekOrigin /*origin*/) override { return 0; }
  int64_t Moved() const { return FMoved; }

 private:
  int64_t FMoved = 0;
};

// Exact transfers used to take their count as 32 bits, so a value of 2 GiB or more (the text of
// a large description, say) was written as nothing at all and reported as success.
TEST(StreamTest, ExactTransfersMoveCountsOf2GiBAndMore) {
  constexpr int64_t GiB = int64_t{1} << 30;
  // Address space for the largest count, never touched: the stream does not look at the bytes.
  const std::size_t span = static_cast<std::size_t>(5 * GiB);
  void* room = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(room, MAP_FAILED);
  for (const int64_t count : {int64_t{0}, int64_t{1}, 2 * GiB - 1, 2 * GiB, 4 * GiB + 5}) {
    TCountingStream written, read;
    written.WriteBuffer(room, count);
    read.ReadBuffer(room, count);
    EXPECT_EQ(written.Moved(), count);
    EXPECT_EQ(read.Moved(), count);
  }
  munmap(room, span);
}

TEST(ReadOnlyMemoryStreamTest, ReadsAndSeeksWithinItsBytesOnly) {
  const std::string bytes = "0123456789";
  // The stream sees the middle six bytes; the canaries on both sides must never be read.
  TReadOnlyMemoryStream s(bytes.data() + 2, 6);
  EXPECT_EQ(s.Size(), 6);
  char buffer[16] = {};
  EXPECT_EQ(s.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "2345");
  EXPECT_EQ(s.Read(buffer, 16), 2) << "a read stops at the end";
  EXPECT_EQ(std::string(buffer, 2), "67");
  EXPECT_EQ(s.Read(buffer, 1), 0);
  EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 3);
  EXPECT_EQ(s.Read(buffer, 1), 1);
  EXPECT_EQ(buffer[0], '5');
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::soCurrent), -1) << "before the start";
  EXPECT_EQ(s.Position(), 4) << "a refused seek does not move";
  EXPECT_EQ(s.Seek(10, TSeekOrigin::soBeginning), 10);
  EXPECT_EQ(s.Read(buffer, 1), 0) << "past the end there is nothing to read";
  s.SetPosition(0);
  EXPECT_THROW(s.ReadBuffer(buffer, 7), EReadError);
}

TEST(ReadOnlyMemoryStreamTest, RefusesWritingAndResizing) {
  std::string bytes = "abc";
  TReadOnlyMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(s.Write("x", 1), 0);
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_THROW(s.SetSize(1), EStreamError);
  EXPECT_EQ(bytes, "abc");
  EXPECT_EQ(s.Size(), 3);
}

}  // namespace

namespace {

// A file put in place of another (an installed program, an output of mksetup) replaces it only
// when complete; until then, and after any failure, the old file is as it was.
TEST(ReplacingFileStreamTest, TheTargetChangesOnlyByCommitAndThenWhole) {
  TTempDir dir;
  const std::string target = dir / "program";
  for (const bool existed : {false, true}) {
    if (existed) WriteWholeFile(target, BytesOf("old version"));
    {
      TReplacingFileStream file(target);
      file.WriteBuffer("new", 3);
      EXPECT_EQ(EntryState(target).Bytes, existed ? BytesOf("old version") : TBytes{});
    }  // dropped without Commit
    EXPECT_EQ(dir.Names(),
              existed ? std::vector<std::string>{"program"} : std::vector<std::string>{});
    TReplacingFileStream file(target);
    file.WriteBuffer("new version", 11);
    file.Commit();
    EXPECT_EQ(ReadWholeFile(target), BytesOf("new version"));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"program"});
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file, private to its owner";
    fs::remove(target);
  }
}

TEST(ReplacingFileStreamTest, AnythingButARegularFileThatMayBeWrittenIsRefusedAndLeftAlone) {
  TTempDir dir;
  int n = 0;
  for (const TForeignEntry& foreign : ForeignEntries()) {
    const std::string target = dir / ("target" + std::to_string(n++));
    if (!foreign.Make(target)) {
      std::cout << "skipped: this machine cannot make " << foreign.Kind << "\n";
      continue;
    }
    const std::vector<std::string> names = dir.Names();
    const TEntryState before = EntryState(target);
    try {
      TReplacingFileStream file(target);
      ADD_FAILURE() << foreign.Kind << " was taken";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Cannot create file " + target) << foreign.Kind;
      EXPECT_FALSE(e.Reason().empty()) << foreign.Kind;
    }
    EXPECT_EQ(EntryState(target), before) << foreign.Kind;
    EXPECT_EQ(dir.Names(), names) << foreign.Kind;
  }
}

TEST(ReplacingFileStreamTest, ACommitThatFailsLeavesTheTargetAndNoFileBehind) {
  TTempDir dir;
  const std::string target = dir / "program";
  WriteWholeFile(target, BytesOf("old version"));
  {
    TReplacingFileStream file(target);
    file.WriteBuffer("new version", 11);
    // The target became read-only since the stream was made.
    chmod(target.c_str(), 0444);
    try {
      file.Commit();
      ADD_FAILURE() << "a read-only target was replaced";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Cannot create file " + target);
      EXPECT_EQ(e.Reason(), "Permission denied");
    }
  }
  EXPECT_EQ(ReadWholeFile(target), BytesOf("old version"));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"program"});
}

TEST(ReplacingFileStreamTest, AFullMediumLeavesTheTargetAndNoFileBehind) {
  TTempDir dir;
  const std::string target = dir / "program";
  WriteWholeFile(target, BytesOf("old version"));
  // A medium with 4096 bytes of room left: the write beyond fails (its signal is ignored).
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &limit);
  try {
    TReplacingFileStream file(target);
    const std::string data(10000, 'x');
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    file.Commit();
    ADD_FAILURE() << "the write went through";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadWholeFile(target), BytesOf("old version"));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"program"});
}

}  // namespace
