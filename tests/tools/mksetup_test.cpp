// mksetup run as a program: pack and unpack round trips on real files, dump and convert, and
// errors reported on standard error with a non-zero status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "FileSrc.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs mksetup with the arguments; TMPDIR names dir so that its temporary files can be checked.
TRun Mksetup(const TTempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = "TMPDIR=" + Quote(dir.Path()) + " " + Quote(MKSETUP_PATH);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " >" + Quote(dir / "stdout.log") + " 2>" + Quote(dir / "stderr.log");
  TRun run;
  int raw = std::system(cmd.c_str());
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto text = [](const std::string& p) {
    TBytes b = ReadWholeFile(p);
    return std::string(b.begin(), b.end());
  };
  run.Out = text(dir / "stdout.log");
  run.Err = text(dir / "stderr.log");
  fs::remove(dir / "stdout.log");
  fs::remove(dir / "stderr.log");
  return run;
}

bool NoExtractionFileLeft(const TTempDir& dir) {
  for (const auto& n : dir.Names()) {
    if (n.rfind("~fs", 0) == 0) return false;
  }
  return true;
}

TEST(MksetupTest, PackAndUnpackRoundTripRealFilesInBothLayouts) {
  TTempDir dir;
  for (const std::string& file : {SystemLicenceText(), SystemLargeProgram()}) {
    TBytes original = ReadWholeFile(file);
    for (bool plain : {false, true}) {
      std::vector<std::string> pack = {"pack"}, unpack = {"unpack"};
      if (plain) {
        pack.push_back("--plain");
        unpack.push_back("--plain");
      }
      pack.insert(pack.end(), {file, dir / "value"});
      unpack.insert(unpack.end(), {dir / "value", dir / "copy"});
      TRun packed = Mksetup(dir, pack);
      ASSERT_EQ(packed.Status, 0) << packed.Err;
      TBytes value = ReadWholeFile(dir / "value");
      if (plain) {
        EXPECT_EQ(value.size(), original.size() + 4);
      } else {
        EXPECT_EQ(TBytes(value.begin(), value.begin() + 6), BytesOf("PMCS10"));
        EXPECT_LT(value.size(), original.size());
      }
      TRun unpacked = Mksetup(dir, unpack);
      ASSERT_EQ(unpacked.Status, 0) << unpacked.Err;
      EXPECT_EQ(ReadWholeFile(dir / "copy"), original) << file << " plain=" << plain;
      EXPECT_TRUE(NoExtractionFileLeft(dir));
    }
  }
}

TEST(MksetupTest, FailuresGoToStandardErrorAndLeaveNoOutput) {
  TTempDir dir;
  WriteWholeFile(dir / "text", BytesOf("not a container at all"));
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;  // the start of the first line of standard error
  } cases[] = {
      {"missing input",
       {"pack", dir / "nope", dir / "out"},
       1,
       "mksetup: Input cannot store file: " + (dir / "nope") + " (file is missing)"},
      {"wrong layout", {"unpack", dir / "text", dir / "out"}, 1, "mksetup: Wrong file type"},
      {"truncated plain value",
       {"unpack", "--plain", dir / "text", dir / "out"},
       1,
       "mksetup: Stream read error"},
      {"missing value",
       {"unpack", dir / "nope", dir / "out"},
       1,
       "mksetup: Cannot open file " + (dir / "nope")},
      {"not a form", {"dump", dir / "text"}, 1, "mksetup: " + (dir / "text") + " is not a binary"},
      {"neither form", {"convert", dir / "text", dir / "out"}, 1, "mksetup: " + (dir / "text")},
      {"unknown command", {"frobnicate"}, 2, "mksetup: unknown command frobnicate"},
      {"unknown option", {"pack", "--fast", "a", "b"}, 2, "mksetup: unknown option --fast"},
      {"too few arguments", {"pack", "a"}, 2, "mksetup: expected 2 file arguments, got 1"},
      {"no command", {}, 2, "mksetup: no command given"},
  };
  for (const auto& c : cases) {
    TRun run = Mksetup(dir, c.args);
    EXPECT_EQ(run.Status, c.status) << c.what;
    EXPECT_EQ(run.Err.rfind(c.err, 0), 0u) << c.what << ": " << run.Err;
    EXPECT_TRUE(run.Out.empty()) << c.what;
    EXPECT_FALSE(fs::exists(dir / "out")) << c.what;
    EXPECT_TRUE(NoExtractionFileLeft(dir)) << c.what;
  }
}

TEST(MksetupTest, HelpExplainsEveryCommand) {
  TTempDir dir;
  TRun run = Mksetup(dir, {"--help"});
  EXPECT_EQ(run.Status, 0);
  for (const char* command :
       {"pack [--plain] FILE OUT", "unpack [--plain] VALUE OUT", "dump FORM", "convert IN OUT"}) {
    EXPECT_NE(run.Out.find(command), std::string::npos) << command;
  }
}

TEST(MksetupTest, DumpShowsBinaryValuesShortAndConvertGoesBothWays) {
  TTempDir dir;
  const std::string text =
      "object Form1: TForm1\n"
      "  Caption = 'Tavrix Setup'\n"
      "  object FileSource1: TFileSource\n"
      "    Compress = True\n"
      "    FileData = {\n"
      "      504D43533130000000000102030405060708090A0B0C0D0E0F1011121314}\n"
      "  end\n"
      "end\n";
  WriteWholeFile(dir / "form.txt", BytesOf(text));
  TRun toBinary = Mksetup(dir, {"convert", dir / "form.txt", dir / "form.bin"});
  ASSERT_EQ(toBinary.Status, 0) << toBinary.Err;
  TBytes binary = ReadWholeFile(dir / "form.bin");
  EXPECT_EQ(TBytes(binary.begin(), binary.begin() + 4), BytesOf("TPF0"));

  TRun dump = Mksetup(dir, {"dump", dir / "form.bin"});
  ASSERT_EQ(dump.Status, 0) << dump.Err;
  EXPECT_NE(dump.Out.find("object FileSource1: TFileSource"), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("30 bytes"), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("504D4353313000000000010203040506"), std::string::npos) << dump.Out;
  EXPECT_EQ(dump.Out.find("0F1011121314"), std::string::npos) << "the value must not be whole";

  TRun back = Mksetup(dir, {"convert", dir / "form.bin", dir / "again.txt"});
  ASSERT_EQ(back.Status, 0) << back.Err;
  TRun again = Mksetup(dir, {"convert", dir / "again.txt", dir / "again.bin"});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(ReadWholeFile(dir / "again.bin"), binary);
}

}  // namespace
