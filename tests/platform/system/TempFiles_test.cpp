// The process-wide list of temporary files: the signals that end a program take the listed files
// with them, a backend's fatal error can do the same, and nothing but the listed files themselves
// is ever removed.
#include "TempFiles.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// In a child process: lists two files of its own and a third whose name someone else then takes,
// says that it is ready, and waits for a signal. Gives the child's pid; ready is read from the
// pipe.
pid_t StartListingChild(const TTempDir& dir, bool ignoreHangUp) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    if (ignoreHangUp) signal(SIGHUP, SIG_IGN);
    DeleteTempFilesOnTermination();
    std::vector<TFileHandle> files;
    std::vector<TTempFileRegistration> listed;
    for (const char* name : {"one", "two", "taken"}) {
      files.emplace_back(FileCreateNew(dir / name));
      listed.emplace_back(dir / name, files.back().Get());
    }
    // The third name now stands for a file that this process did not make.
    WriteWholeFile(dir / "other", BytesOf("someone else's"));
    fs::rename(dir / "other", dir / "taken");
    const char yes = 'y';
    if (write(ready[1], &yes, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  if (read(ready[0], &answer, 1) != 1) answer = 0;
  close(ready[0]);
  return answer == 'y' ? pid : -1;
}

TEST(TempFilesTest, TheSignalsThatEndAProgramTakeItsListedFilesAlong) {
  for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
    TTempDir dir;
    const pid_t pid = StartListingChild(dir, false);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, signo), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo)
        << strsignal(signo) << ": the program ends by the signal that ended it";
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken"}) << strsignal(signo);
    EXPECT_EQ(ReadWholeFile(dir / "taken"), BytesOf("someone else's")) << strsignal(signo);
  }
}

TEST(TempFilesTest, ASignalThatTheProgramWasStartedWithIgnoredStaysIgnored) {
  TTempDir dir;
  const pid_t pid = StartListingChild(dir, true);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGHUP), 0);
  usleep(200000);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "a program started under nohup goes on";
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"one", "taken", "two"}));
  kill(pid, SIGTERM);
  waitpid(pid, &status, 0);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken"});
}

// What a backend's fatal error handler does before it ends the process.
TEST(TempFilesTest, DeletingTheListedFilesSparesFilesTakenOffTheList) {
  TTempDir dir;
  TFileHandle kept(FileCreateNew(dir / "kept"));
  TFileHandle listedFile(FileCreateNew(dir / "listed"));
  TTempFileRegistration unlisted(dir / "kept", kept.Get());
  TTempFileRegistration listed(dir / "listed", listedFile.Get());
  ASSERT_TRUE(unlisted.Listed() && listed.Listed());
  unlisted.Reset();
  DeleteRegisteredTempFiles();
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"kept"});
}

TEST(TempFilesTest, AFullListLeavesFurtherFilesUnlisted) {
  TTempDir dir;
  std::vector<TFileHandle> files;
  std::vector<TTempFileRegistration> listings;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < MaxListedTempFiles + 3; ++i) {
    const std::string name = dir / std::to_string(i);
    files.emplace_back(FileCreateNew(name));
    listings.emplace_back(name, files.back().Get());
    if (listings.back().Listed()) ++listed;
  }
  EXPECT_EQ(listed, MaxListedTempFiles);
  listings.erase(listings.begin());  // a slot comes free again
  TFileHandle late(FileCreateNew(dir / "late"));
  EXPECT_TRUE(TTempFileRegistration(dir / "late", late.Get()).Listed());
}

}  // namespace
