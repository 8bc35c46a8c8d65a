// The demo installer image as a program of its own, under Qt's offscreen platform: the ends that
// skip its destructors still take its temporary files along.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace {

// Starts the image with a home and a temporary folder of its own; its output goes nowhere.
pid_t StartImage(const TTempDir& home, const TTempDir& tmp) {
  // Qt keeps its runtime folder in the home, so that the temporary folder holds only what the
  // program unpacks.
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "HOME=" + home.Path(),
                                  "TMPDIR=" + tmp.Path(), "XDG_RUNTIME_DIR=" + home.Path()};
  for (char** e = environ; *e; ++e) {
    const std::string var = *e;
    const std::string name = var.substr(0, var.find('=') + 1);
    if (name != "QT_QPA_PLATFORM=" && name != "HOME=" && name != "TMPDIR=" &&
        name != "XDG_RUNTIME_DIR=") {
      env.push_back(var);
    }
  }
  std::vector<char*> vars;
  for (std::string& v : env) vars.push_back(v.data());
  vars.push_back(nullptr);
  std::string image = TAVRIX_SETUP_IMAGE;
  char* argv[] = {image.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, image.c_str(), &actions, nullptr, argv, vars.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(SetupProgramTest, TheSignalsThatEndItTakeItsTemporaryFilesAlong) {
  for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
    TTempDir home, tmp;
    const pid_t pid = StartImage(home, tmp);
    ASSERT_GT(pid, 0);
    // Both files are unpacked before the window shows; give it a moment to show.
    bool unpacked = false;
    for (int i = 0; i < 1000 && !unpacked; ++i) {
      unpacked = tmp.Names().size() == 2;
      if (!unpacked) usleep(10000);
    }
    usleep(300000);
    EXPECT_TRUE(unpacked) << strsignal(signo) << ": the program did not unpack its files";
    ASSERT_EQ(kill(pid, signo), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo)
        << strsignal(signo) << ": ended with status " << status;
    EXPECT_EQ(tmp.Names(), std::vector<std::string>{}) << strsignal(signo);
  }
}

}  // namespace
