// tavrix-demo: the stand-in for the client program that the demo installer carries.
//
// Started, it says on standard output that it was installed and started, and writes the marker
// file "tavrix.started" into its own folder (found through /proc/self/exe), replacing an
// earlier one, so that a test can see that the installed program ran and where. The marker
// holds three lines:
//
//   Tavrix demo started
//   time 2025-01-31 14:05:09
//   program /home/user/Tavrix/tavrix.exe
//
// The time is local. Exit status 0, or 1 when the program cannot find its own file or write
// the marker (the reason goes to standard error).
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

constexpr const char* MarkerName = "tavrix.started";

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = "unknown";
  if (localtime_r(&now, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    std::fprintf(stderr, "tavrix-demo: cannot find its own file: %s\n", error.message().c_str());
    return 1;
  }
  const fs::path marker = self.parent_path() / MarkerName;
  {
    std::ofstream out(marker, std::ios::binary | std::ios::trunc);
    out << "Tavrix demo started\n"
        << "time " << LocalTimeNow() << "\n"
        << "program " << self.string() << "\n";
    out.close();
    if (!out) {
      std::fprintf(stderr, "tavrix-demo: cannot write %s\n", marker.c_str());
      return 1;
    }
  }
  std::printf("Tavrix is installed and running: %s\n", self.c_str());
  return 0;
}
