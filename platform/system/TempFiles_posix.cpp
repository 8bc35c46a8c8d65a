// The abrupt ends of a POSIX process that the list of temporary files covers: the signals that
// ask a program to end.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "TempFiles.h"

namespace {

constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnEndingSignal(int signo) {
  const int savedErrno = errno;
  DeleteRegisteredTempFiles();
  // End the way the signal would have ended the program, so that whoever waits for it sees why:
  // the signal is blocked while this handler runs and is delivered again once it returns.
  signal(signo, SIG_DFL);
  raise(signo);
  errno = savedErrno;
}

}  // namespace

void DeleteTempFilesOnTermination() {
  for (int signo : EndingSignals) {
    struct sigaction old {};
    if (sigaction(signo, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    for (int other : EndingSignals) sigaddset(&action.sa_mask, other);
    sigaction(signo, &action, nullptr);
  }
}

void DeleteListedTempFile(const char* path, THandle handle) noexcept {
  struct stat named {};
  struct stat opened {};
  if (lstat(path, &named) != 0 || fstat(static_cast<int>(handle), &opened) != 0) return;
  if (!S_ISREG(named.st_mode) || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
    return;
  }
  unlink(path);
}
