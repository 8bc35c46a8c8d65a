// The installer image: written around a real program and read back whole; every kind of damage
// refused with its own status and message and nothing registered; the writer's refusals; and a
// real program that finds and checks its own image, as the setup program does at start-up.
#include "InstallerImage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "Resources.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const TBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

std::string LE32(uint32_t v) {
  uint8_t bytes[4];
  StoreLE32(bytes, v);
  return std::string(reinterpret_cast<const char*>(bytes), 4);
}

void PutLE64(std::string& s, std::size_t at, uint64_t v) {
  StoreLE64(reinterpret_cast<uint8_t*>(s.data() + at), v);
}

// Recomputes a trailer's own checksum after a test changed one of its fields on purpose.
std::string Reseal(std::string trailer) {
  const std::string crc = LE32(Crc32(trailer.data() + 8, 28));
  trailer.replace(36, 4, crc);
  return trailer;
}

// One resource in the block's layout, for blocks made wrong on purpose.
std::string Entry(const std::string& name, const std::string& data) {
  return std::string(1, static_cast<char>(name.size())) + name +
         LE32(static_cast<uint32_t>(data.size())) + data;
}

class InstallerImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearResources();
    fs::copy_file(SystemSmallProgram(), FStubPath);
    WriteInstallerImage(FImagePath, FStubPath, FResources);
    FStub = Text(ReadWholeFile(FStubPath));
    FImage = Text(ReadWholeFile(FImagePath));
    FBlock = MakeResourceBlock(FResources);
  }
  void TearDown() override { ClearResources(); }

  // An image of the test's stub whose block and trailer are the ones given.
  std::string ImageWith(const std::string& block, const std::string& trailer) const {
    return FStub + block + trailer;
  }
  std::string SealedImage(const std::string& block) const {
    return ImageWith(block, Trailer(block));
  }
  std::string Trailer(const std::string& block, uint32_t version = ImageFormatVersion) const {
    return MakeImageTrailer(Crc32(FStub.data(), FStub.size()), FStub.size(), block, version);
  }

  TTempDir FDir;
  const std::string FStubPath = FDir / "stub";
  const std::string FImagePath = FDir / "image";
  // Binary data with zeros and every byte value, a short one and an empty one.
  const std::vector<TImageResource> FResources = {
      {"TFORM1",
       [] {
         std::string s("TPF0\0\x01", 6);
         for (int i = 0; i < 40000; ++i) s += static_cast<char>((i * 7) ^ (i >> 8));
         return s;
       }()},
      {"HAND", "cursor"},
      {"EMPTY", ""},
  };
  std::string FStub;
  std::string FImage;
  std::string FBlock;
};

TEST_F(InstallerImageTest, RoundTripKeepsTheProgramAndEveryResource) {
  EXPECT_EQ(FImage.size(), FStub.size() + FBlock.size() + ImageTrailerSize);
  EXPECT_EQ(FImage.substr(0, FStub.size()), FStub) << "the program must stay unchanged";
  EXPECT_EQ(fs::status(FImagePath).permissions() & fs::perms::all, static_cast<fs::perms>(0755));
  EXPECT_EQ(FDir.Names(), (std::vector<std::string>{"image", "stub"})) << "no temporary left";

  std::vector<TImageResource> read = {{"STALE", "x"}};
  TImageCheck check = ReadImageResources(FImagePath, read);
  ASSERT_TRUE(check.Ok()) << check.Message;
  EXPECT_TRUE(check.Message.empty());
  EXPECT_EQ(read, FResources);

  ASSERT_TRUE(LoadImageResources(FImagePath).Ok());
  ASSERT_TRUE(FindResource("tform1").has_value());
  EXPECT_EQ(*FindResource("TFORM1"), FResources[0].Data);
  ASSERT_TRUE(FindResource("EMPTY").has_value());
  EXPECT_TRUE(FindResource("EMPTY")->empty());
}

TEST_F(InstallerImageTest, EveryDamageHasItsOwnMessageAndRegistersNothing) {
  const std::size_t s = FStub.size();            // where the block starts
  const std::size_t t = s + FBlock.size();       // where the trailer starts
  const std::string trailer = FImage.substr(t);  // the sound trailer
  auto cut = [&](std::size_t size) { return FImage.substr(0, size); };
  auto flip = [&](std::size_t at) {
    std::string damaged = FImage;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
    return damaged;
  };
  auto trailerWith = [&](std::size_t at, uint64_t value) {
    std::string changed = trailer;
    PutLE64(changed, at, value);
    return Reseal(changed);
  };
  const std::string header = "RSRC" + LE32(1);

  const struct {
    const char* what;
    std::string image;
    TImageStatus status;
    std::string message;  // a part of the message that names the problem
  } cases[] = {
      {"the bare program", FStub, TImageStatus::isNoInstaller,
       "This setup program carries no installer."},
      {"an empty file", "", TImageStatus::isTruncated, "the file is empty"},
      // The magic survives in the last bytes when the cut falls behind it.
      {"cut by one byte", cut(FImage.size() - 1), TImageStatus::isTruncated,
       "its trailer is cut short"},
      {"cut inside the trailer's fields", cut(t + 20), TImageStatus::isTruncated,
       "its trailer is cut short"},
      // Without the magic, the program's own header shows that something follows it.
      {"cut inside the trailer's magic", cut(t + 4), TImageStatus::isTruncated,
       std::to_string(FBlock.size() + 4) + " bytes follow the program, but the trailer"},
      {"cut right before the trailer", cut(t), TImageStatus::isTruncated,
       std::to_string(FBlock.size()) + " bytes follow the program"},
      {"cut inside the block", cut(s + 1000), TImageStatus::isTruncated,
       "1000 bytes follow the program"},
      {"cut inside the program", cut(s - 100), TImageStatus::isTruncated,
       "the program itself should be " + std::to_string(s) + " bytes long"},
      // The checksum covers the program too: a flipped byte anywhere in it, where a program
      // would still run and unpack, is refused.
      {"the program's first byte", flip(0), TImageStatus::isDamaged, "fails the image's checksum"},
      {"a byte of the program's header", flip(20), TImageStatus::isDamaged,
       "fails the image's checksum"},
      {"a byte in the middle of the program", flip(s / 2), TImageStatus::isDamaged,
       "fails the image's checksum"},
      {"the program's last byte", flip(s - 1), TImageStatus::isDamaged,
       "fails the image's checksum"},
      {"the block's first byte", flip(s), TImageStatus::isDamaged, "fails the image's checksum"},
      {"a byte inside a resource", flip(s + FBlock.size() / 2), TImageStatus::isDamaged,
       "fails the image's checksum"},
      {"the block's last byte", flip(t - 1), TImageStatus::isDamaged, "fails the image's checksum"},
      // A whole image with bytes after it used to be called truncated.
      {"bytes appended", FImage + "appended", TImageStatus::isDamaged,
       "8 bytes were appended after its trailer"},
      {"the trailer's magic", flip(t + 3), TImageStatus::isDamaged,
       "the magic of its trailer is wrong"},
      {"the trailer's version", flip(t + 8), TImageStatus::isDamaged,
       "its trailer fails its checksum"},
      {"the trailer's reserved field", flip(t + 12), TImageStatus::isDamaged,
       "its trailer fails its checksum"},
      {"the block's offset", flip(t + 16), TImageStatus::isDamaged,
       "its trailer fails its checksum"},
      {"the block's size", flip(t + 24), TImageStatus::isDamaged, "its trailer fails its checksum"},
      {"the block's checksum", flip(t + 32), TImageStatus::isDamaged,
       "its trailer fails its checksum"},
      {"the trailer's checksum", flip(t + 39), TImageStatus::isDamaged,
       "its trailer fails its checksum"},
      {"a later format version", ImageWith(FBlock, Trailer(FBlock, 3)),
       TImageStatus::isUnknownVersion, "format version 3, but this setup program reads only"},
      // Version 1 checked the block alone.
      {"the earlier format version", ImageWith(FBlock, Trailer(FBlock, 1)),
       TImageStatus::isUnknownVersion,
       "format version 1, but this setup program reads only version 2"},
      {"the reserved field set",
       ImageWith(FBlock, Reseal(trailer.substr(0, 12) + LE32(1) + trailer.substr(16))),
       TImageStatus::isMalformed, "reserved field"},
      // Sound checksums around a trailer that claims more than the file holds: refused before
      // anything is allocated for the block.
      {"a block larger than the file", ImageWith(FBlock, trailerWith(24, uint64_t{1} << 40)),
       TImageStatus::isTruncated, "its trailer says the image is"},
      {"a block size that overflows", ImageWith(FBlock, trailerWith(24, ~uint64_t{0} - 8)),
       TImageStatus::isMalformed, "beyond any file"},
      // The sum of offset and size used to overflow first, giving "the image is 39 bytes long".
      {"an offset that overflows", ImageWith(FBlock, trailerWith(16, ~uint64_t{0} - 8)),
       TImageStatus::isMalformed, "beyond any file"},
      {"bytes between block and trailer", FStub + FBlock + "junk" + Trailer(FBlock),
       TImageStatus::isMalformed, "4 stray bytes lie between the resource block and the trailer"},
      {"a block too short for its header", SealedImage("RSRC"), TImageStatus::isMalformed,
       "too short for its header"},
      {"a block without its signature", SealedImage("RSRX" + LE32(0)), TImageStatus::isMalformed,
       "does not begin with its signature"},
      {"more resources counted than held", SealedImage("RSRC" + LE32(3) + Entry("A", "1")),
       TImageStatus::isMalformed, "ends after 1 of its 3 resources"},
      {"a count near 2^32", SealedImage("RSRC" + LE32(0xFFFFFFFF) + Entry("A", "1")),
       TImageStatus::isMalformed, "ends after 1 of its 4294967295 resources"},
      {"a resource longer than the block",
       SealedImage(header +
                   "\x01"
                   "A" +
                   LE32(0x7FFFFFFF) + "abc"),
       TImageStatus::isMalformed,
       "resource A claims 2147483647 bytes, but the block holds only 3 more"},
      {"a name cut by the block's end",
       SealedImage(header + "\x05"
                            "AB"),
       TImageStatus::isMalformed, "ends inside the name of resource 1"},
      {"a length cut by the block's end",
       SealedImage(header + "\x01"
                            "A"
                            "\x01"),
       TImageStatus::isMalformed, "ends inside the length of A"},
      {"an empty name", SealedImage(header + Entry("", "x")), TImageStatus::isMalformed,
       "resource 1 has an empty name"},
      {"a name with a blank", SealedImage(header + Entry("A B", "x")), TImageStatus::isMalformed,
       "resource 1 has a name that is not printable ASCII"},
      {"a name twice", SealedImage("RSRC" + LE32(2) + Entry("Form", "1") + Entry("FORM", "2")),
       TImageStatus::isMalformed, "resource FORM appears twice"},
      {"bytes after the last resource", SealedImage(header + Entry("A", "1") + "zz"),
       TImageStatus::isMalformed, "2 stray bytes follow the last resource"},
  };
  const std::string path = FDir / "damaged";
  for (const auto& c : cases) {
    WriteWholeFile(path, Bytes(c.image));
    ClearResources();
    std::vector<TImageResource> read = {{"STALE", "x"}};
    TImageCheck check = ReadImageResources(path, read);
    EXPECT_EQ(check.Status, c.status) << c.what << ": " << check.Message;
    EXPECT_NE(check.Message.find(c.message), std::string::npos) << c.what << ": " << check.Message;
    EXPECT_TRUE(read.empty()) << c.what;

    EXPECT_EQ(LoadImageResources(path).Status, c.status) << c.what;
    EXPECT_FALSE(FindResource("TFORM1").has_value()) << c.what;
    EXPECT_FALSE(FindResource("A").has_value()) << c.what;
  }
}

TEST_F(InstallerImageTest, AFileThatCannotBeReadIsReportedByName) {
  for (const std::string& path : {FDir / "missing", FDir.Path()}) {
    TImageCheck check = LoadImageResources(path);
    EXPECT_EQ(check.Status, TImageStatus::isUnreadable) << path;
    EXPECT_NE(check.Message.find(path), std::string::npos) << check.Message;
  }
}

TEST_F(InstallerImageTest, WriterRefusesBadResourcesAndStubsAndLeavesTheOutputAlone) {
  const std::string out = FDir / "out";
  WriteWholeFile(FDir / "truncated", Bytes(FImage.substr(0, FImage.size() - 50)));
  const struct {
    const char* what;
    std::string stub;
    std::vector<TImageResource> resources;
    std::string output;
    std::string message;
  } cases[] = {
      {"an empty name", FStubPath, {{"", "x"}}, out, "The resource name '' is not"},
      {"a name of 256 characters", FStubPath, {{std::string(256, 'N'), "x"}}, out, "not 1 to 255"},
      {"a blank in a name", FStubPath, {{"MAIN ICON", "x"}}, out, "'MAIN ICON' is not"},
      {"a name twice",
       FStubPath,
       {{"HAND", "1"}, {"hand", "2"}},
       out,
       "The resource hand is given twice"},
      {"a stub with an image", FImagePath, FResources, out,
       "The stub " + FImagePath + " already carries an installer"},
      {"a damaged stub", FDir / "truncated", FResources, out,
       "The stub " + (FDir / "truncated") +
           " is not a bare setup program: The installer image is truncated"},
      {"a missing stub", FDir / "nope", FResources, out, "Cannot open file " + (FDir / "nope")},
      {"a missing folder", FStubPath, FResources, FDir / "no/out",
       "Cannot create file " + (FDir / "no/out")},
      {"a folder in the way", FStubPath, FResources, FDir.Path(),
       "Cannot create file " + FDir.Path()},
  };
  for (const auto& c : cases) {
    WriteWholeFile(out, Bytes("earlier output"));
    const std::vector<std::string> before = FDir.Names();
    try {
      WriteInstallerImage(c.output, c.stub, c.resources);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << c.what << ": " << e.Message();
    }
    EXPECT_EQ(FDir.Names(), before) << c.what << ": nothing may be left behind";
    EXPECT_EQ(Text(ReadWholeFile(out)), "earlier output") << c.what;
  }
}

TEST_F(InstallerImageTest, WriterReplacesAnEarlierImage) {
  WriteInstallerImage(FImagePath, FStubPath, {{"TFORM1", "new"}});
  std::vector<TImageResource> read;
  ASSERT_TRUE(ReadImageResources(FImagePath, read).Ok());
  EXPECT_EQ(read, (std::vector<TImageResource>{{"TFORM1", "new"}}));
}

TEST(Crc32Test, MatchesTheStandardCheckValueAlsoInPieces) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32(check.data(), check.size()), 0xCBF43926u);
  EXPECT_EQ(Crc32(check.data() + 4, 5, Crc32(check.data(), 4)), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(Crc32Test, EightBytesAStepAgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  auto bitwise = [](const uint8_t* p, std::size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
  };
  std::vector<uint8_t> bytes(80);
  uint32_t x = 12345;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  for (std::size_t start = 0; start < 8; ++start) {
    for (std::size_t n = 0; start + n <= bytes.size(); ++n) {
      ASSERT_EQ(Crc32(bytes.data() + start, n), bitwise(bytes.data() + start, n))
          << "start " << start << ", length " << n;
    }
  }
  // Continuing from a checksum that ended in the middle of an eight-byte step.
  EXPECT_EQ(Crc32(bytes.data() + 13, 67, Crc32(bytes.data(), 13)), bitwise(bytes.data(), 80));
}

TEST(ExecutableExtentTest, CoversAWholeProgramAndNothingElse) {
  for (const std::string& program :
       {SystemSmallProgram(), SystemLargeProgram(), std::string(IMAGE_PROBE_PATH)}) {
    TFileStream file(program, TFileStream::fmOpenRead);
    EXPECT_EQ(ExecutableExtent(file), file.Size()) << program;
  }
  TTempDir dir;
  const TBytes program = ReadWholeFile(SystemSmallProgram());
  const struct {
    const char* what;
    TBytes bytes;
  } notPrograms[] = {
      {"text", Bytes("#!/bin/sh\necho not an executable header\n")},
      {"a header cut short", TBytes(program.begin(), program.begin() + 30)},
      {"empty", {}},
  };
  for (const auto& c : notPrograms) {
    WriteWholeFile(dir / "file", c.bytes);
    TFileStream file(dir / "file", TFileStream::fmOpenRead);
    EXPECT_EQ(ExecutableExtent(file), -1) << c.what;
  }
}

// --- A real program that loads its own image ------------------------------------------------

TRun RunProgram(const TTempDir& dir, const std::string& program) {
  return RunCommand(dir, ShellQuote(program));
}

TEST(InstallerImageProgramTest, AProgramFindsItsOwnImageOrEndsWithTheImageExitCode) {
  TTempDir dir;
  const std::string form = "TPF0 the form description";
  WriteInstallerImage(dir / "setup", IMAGE_PROBE_PATH, {{"TFORM1", form}});
  fs::create_symlink(dir / "setup", dir / "setup-link");
  char expected[64];
  std::snprintf(expected, sizeof expected, "TFORM1 %zu %08X\n", form.size(),
                Crc32(form.data(), form.size()));
  for (const char* name : {"setup", "setup-link"}) {
    TRun run = RunProgram(dir, dir / name);
    EXPECT_EQ(run.Status, 0) << name << ": " << run.Err;
    EXPECT_EQ(run.Out, expected) << name;
  }

  const TBytes image = ReadWholeFile(dir / "setup");
  WriteWholeFile(dir / "cut", TBytes(image.begin(), image.end() - 10));
  fs::permissions(dir / "cut", fs::perms::owner_all);
  const struct {
    std::string program;
    std::string err;
  } refused[] = {
      {IMAGE_PROBE_PATH, "This setup program carries no installer.\n"},
      {dir / "cut", "The installer image is truncated: its trailer is cut short.\n"},
  };
  for (const auto& c : refused) {
    TRun run = RunProgram(dir, c.program);
    EXPECT_EQ(run.Status, ExitCodeBadImage) << c.program;
    EXPECT_EQ(run.Err, c.err) << c.program;
    EXPECT_TRUE(run.Out.empty()) << c.program;
  }
}

}  // namespace
