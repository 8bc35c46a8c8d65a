// The shell's "open" on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Shell.h"

namespace {

std::function<void(const std::string&, const std::string&)>& Hook() {
  static std::function<void(const std::string&, const std::string&)> hook;
  return hook;
}

bool IsProgramFile(const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (file.size() >= 4 && strcasecmp(file.c_str() + file.size() - 4, ".exe") == 0) return true;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  ssize_t got = read(fd, magic, sizeof magic);
  close(fd);
  return (got == 4 && std::memcmp(magic,
                                  "\x7F"
                                  "ELF",
                                  4) == 0) ||
         (got >= 2 && magic[0] == '#' && magic[1] == '!');
}

// Starts argv[0] with its arguments in a process of its own that outlives us: a double fork,
// so that it is nobody's zombie, with its standard streams on /dev/null.
void SpawnDetached(const char* const argv[]) {
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

void SetShellExecuteHook(
    std::function<void(const std::string& verb, const std::string& file)> hook) {
  Hook() = std::move(hook);
}

void ShellExecute(const std::string& verb, const std::string& file) {
  if (Hook()) {
    Hook()(verb, file);
    return;
  }
  if (verb != "open" || file.empty()) return;
  if (IsProgramFile(file)) {
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) chmod(file.c_str(), (st.st_mode & 07777) | S_IXUSR);
    // A bare name would be looked up in PATH; a program file is always taken as a path.
    std::string path = file.find('/') == std::string::npos ? "./" + file : file;
    const char* argv[] = {path.c_str(), nullptr};
    SpawnDetached(argv);
    return;
  }
  const char* argv[] = {"xdg-open", file.c_str(), nullptr};
  SpawnDetached(argv);
}
