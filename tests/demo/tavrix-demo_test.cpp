// The demo program: started under its installed name, it reports itself and leaves the marker
// file beside its own file, wherever it was started from; when it cannot, it says why and fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const TBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs program from the folder cwd, with its output captured in files of logs.
TRun RunIn(const std::string& cwd, const std::string& program, const TTempDir& logs) {
  const std::string cmd = "cd " + Quote(cwd) + " && " + Quote(program) + " >" +
                          Quote(logs / "out.log") + " 2>" + Quote(logs / "err.log");
  TRun run;
  const int raw = std::system(cmd.c_str());
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.Out = Text(ReadWholeFile(logs / "out.log"));
  run.Err = Text(ReadWholeFile(logs / "err.log"));
  return run;
}

class TavrixDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(FInstalled);
    fs::copy_file(TAVRIX_DEMO_PATH, FProgram);
    fs::create_directory(FDir / "elsewhere");
  }

  TTempDir FDir;
  TTempDir FLogs;
  const std::string FInstalled = FDir / "Tavrix";
  const std::string FProgram = FInstalled + "/tavrix.exe";
  const std::string FMarker = FInstalled + "/tavrix.started";
};

TEST_F(TavrixDemoTest, LeavesTheMarkerBesideItsOwnFileWhereverItIsStartedFrom) {
  fs::create_symlink(FProgram, FDir / "elsewhere/link");
  for (const std::string& started : {FProgram, FDir / "elsewhere/link"}) {
    WriteWholeFile(FMarker, BytesOf("an earlier marker\n"));
    TRun run = RunIn(FDir / "elsewhere", started, FLogs);
    ASSERT_EQ(run.Status, 0) << started << ": " << run.Err;
    EXPECT_EQ(run.Out, "Tavrix is installed and running: " + FProgram + "\n") << started;
    const std::string marker = Text(ReadWholeFile(FMarker));
    const std::regex expected(
        "Tavrix demo started\n"
        "time [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"
        "program (.*)\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(marker, match, expected)) << marker;
    EXPECT_EQ(match[1], FProgram) << started;
    EXPECT_EQ(FDir.Names(), (std::vector<std::string>{"Tavrix", "elsewhere"}));
  }
}

TEST_F(TavrixDemoTest, FailsWithAReasonWhenTheMarkerCannotBeWritten) {
  fs::create_directory(FMarker);  // a folder stands where the marker goes
  TRun run = RunIn(FDir / "elsewhere", FProgram, FLogs);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "tavrix-demo: cannot write " + FMarker + "\n");
  EXPECT_TRUE(run.Out.empty());
}

}  // namespace
