// Start-up time of the setup program beside a bare Qt program, in one run.
//
// Each iteration starts a program and waits for it to end: the wall time from the spawn to the
// exit. Every program runs under Qt's offscreen platform with TAVRIX_QUIT_AFTER_FIRST_PAINT=1,
// which makes it end normally right after its window's first paint, so the time measured is
// the time to the first paint plus the shut-down. The programs:
//
//   bare_qt_window    a Qt program that shows one empty window: the yardstick
//   demo_image        the build's demo installer image (tavrix-demo and the demo licence)
//   2mib_image        images made when the benchmark starts, each carrying a program of at
//   perl_image        least 2 MB (the first 2 MiB of cmake, perl at about 4 MB, cmake at
//   cmake_image       about 9 MB) and the demo licence
//
// An image unpacks its program before its window shows, so its time grows with the size of
// what it carries. Each program runs in a home and a temporary folder of its own; an iteration
// that does not end with exit code 0 within 10 seconds, or an extraction file left behind,
// fails the benchmark. After the table, the ratio of each image's median time to the bare
// program's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int RunTimeoutMs = 10'000;
constexpr int BuildTimeoutMs = 120'000;
constexpr uintmax_t LargePayloadLeast = 2u << 20;
constexpr const char* Yardstick = "StartToFirstPaint/bare_qt_window";

// The programs that the large images carry, found by the build: perl (a few MB, part of every
// Debian system) and the cmake that the build runs with (about 9 MB). One that is missing or
// smaller than 2 MB is left out.
struct TPayload {
  const char* Name;
  const char* Program;
};
constexpr TPayload Payloads[] = {{"perl_image", TAVRIX_PERL_PROGRAM},
                                 {"cmake_image", TAVRIX_CMAKE_COMMAND}};

// The outcome of one run of a program.
struct TRunResult {
  bool Ended = false;  // false: it could not be started, or it was killed at the time limit
  int ExitCode = -1;   // when it ended: its exit code, or 128 + the signal that ended it
  std::string Problem;
};

// Starts argv[0] with the environment env, its output going nowhere, and waits at most
// timeoutMs for it to end; a program still running then is killed.
TRunResult RunToExit(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     int timeoutMs) {
  std::vector<char*> args, vars;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& v : env) vars.push_back(const_cast<char*>(v.c_str()));
  args.push_back(nullptr);
  vars.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawnError = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&actions);
  TRunResult result;
  if (spawnError != 0) {
    result.Problem = argv[0] + ": " + std::strerror(spawnError);
    return result;
  }

  // A process file descriptor becomes readable when the process ends. Without one (a kernel
  // older than 5.3) the wait below has no time limit.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  bool ended = true;
  if (pidfd >= 0) {
    pollfd entry{pidfd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    ended = ready > 0;
    close(pidfd);
  }
  if (!ended) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended) {
    result.Problem = argv[0] + " did not end within " + std::to_string(timeoutMs / 1000) + "s";
    return result;
  }
  result.Ended = true;
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// The process's environment without the variables that decide where and how a program runs,
// and with a home, temporary folder and runtime folder of its own under dir.
std::vector<std::string> RunEnvironment(const fs::path& dir) {
  static const char* const Replaced[] = {"HOME=",
                                         "TMPDIR=",
                                         "XDG_RUNTIME_DIR=",
                                         "QT_QPA_PLATFORM=",
                                         "TAVRIX_QUIT_AFTER_FIRST_PAINT=",
                                         "DISPLAY=",
                                         "WAYLAND_DISPLAY="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const char* name : Replaced) replaced |= std::strncmp(*e, name, std::strlen(name)) == 0;
    if (!replaced) env.emplace_back(*e);
  }
  fs::create_directories(dir / "home");
  fs::create_directories(dir / "tmp");
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  env.push_back("HOME=" + (dir / "home").string());
  env.push_back("TMPDIR=" + (dir / "tmp").string());
  env.push_back("XDG_RUNTIME_DIR=" + (dir / "runtime").string());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("TAVRIX_QUIT_AFTER_FIRST_PAINT=1");
  return env;
}

void BM_StartToFirstPaint(benchmark::State& state, const std::string& program,
                          const fs::path& dir) {
  const std::vector<std::string> env = RunEnvironment(dir);
  for (auto _ : state) {
    const TRunResult run = RunToExit({program}, env, RunTimeoutMs);
    if (!run.Ended || run.ExitCode != 0) {
      const std::string why = run.Ended ? program + " ended with exit code " +
                                              std::to_string(run.ExitCode) + " (expected 0)"
                                        : run.Problem;
      state.SkipWithError(why.c_str());
      return;
    }
  }
  std::error_code ec;
  if (!fs::is_empty(dir / "tmp", ec)) {
    state.SkipWithError("the program left files in its temporary folder");
  }
}

// Reports as the console does, and keeps each benchmark's median real time per iteration.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      // With one repetition there are no aggregates: the single run stands.
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single) FMedians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto yardstick = FMedians.find(Yardstick);
    if (yardstick == FMedians.end() || yardstick->second <= 0) return;
    std::printf("\nStart to first paint, median, beside %s (%.1f ms):\n", Yardstick,
                yardstick->second);
    for (const auto& [name, time] : FMedians) {
      if (name == Yardstick) continue;
      std::printf("  %-40s %7.1f ms  ratio %.2f (target: at most 1.5)\n", name.c_str(), time,
                  time / yardstick->second);
    }
  }

 private:
  std::map<std::string, double> FMedians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavrix-startup-bench.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("startup_bench: cannot make a working folder");
    return 1;
  }
  const fs::path work = pattern;
  std::error_code ec;

  std::vector<std::pair<std::string, std::string>> subjects = {
      {"bare_qt_window", TAVRIX_BARE_QT_WINDOW}, {"demo_image", TAVRIX_DEMO_IMAGE}};
  std::printf("demo_image carries tavrix-demo (%.2f MB)\n",
              static_cast<double>(fs::file_size(TAVRIX_DEMO_PROGRAM, ec)) / 1e6);
  // The smallest payload that counts as large: the first 2 MiB of the cmake program, so the
  // image carries program bytes of the usual compressibility and exactly the least size.
  const fs::path twoMiB = work / "payload-2mib" / "program";
  fs::create_directories(twoMiB.parent_path());
  {
    std::ifstream in(TAVRIX_CMAKE_COMMAND, std::ios::binary);
    std::ofstream out(twoMiB, std::ios::binary);
    std::vector<char> bytes(LargePayloadLeast);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.write(bytes.data(), in.gcount());
  }
  std::vector<TPayload> payloads = {{"2mib_image", nullptr}};
  const std::string twoMiBPath = twoMiB.string();
  payloads[0].Program = twoMiBPath.c_str();
  payloads.insert(payloads.end(), std::begin(Payloads), std::end(Payloads));
  for (const TPayload& payload : payloads) {
    const uintmax_t size = payload.Program[0] ? fs::file_size(payload.Program, ec) : 0;
    if (!payload.Program[0] || ec || size < LargePayloadLeast) {
      std::printf("%s: no program of at least 2 MB at \"%s\"; left out\n", payload.Name,
                  payload.Program);
      continue;
    }
    const fs::path image = work / payload.Name / "tavrix-setup";
    fs::create_directories(image.parent_path());
    const TRunResult build =
        RunToExit({TAVRIX_MKSETUP, "build", "--program", payload.Program, "--licence",
                   TAVRIX_LICENCE, "--stub", TAVRIX_SETUP_STUB, "-o", image.string()},
                  RunEnvironment(work / "mksetup"), BuildTimeoutMs);
    if (!build.Ended || build.ExitCode != 0) {
      const std::string why =
          build.Ended ? "exit code " + std::to_string(build.ExitCode) : build.Problem;
      std::fprintf(stderr, "startup_bench: mksetup build failed for %s (%s)\n", payload.Program,
                   why.c_str());
      fs::remove_all(work, ec);
      return 1;
    }
    std::printf("%s carries %s (%.2f MB); the image is %.2f MB\n", payload.Name, payload.Program,
                static_cast<double>(size) / 1e6,
                static_cast<double>(fs::file_size(image, ec)) / 1e6);
    subjects.emplace_back(payload.Name, image.string());
  }
  if (subjects.size() < 3) {
    std::fprintf(stderr, "startup_bench: no program of at least 2 MB to carry\n");
    fs::remove_all(work, ec);
    return 1;
  }

  for (const auto& [name, program] : subjects) {
    benchmark::RegisterBenchmark(("StartToFirstPaint/" + name).c_str(), BM_StartToFirstPaint,
                                 program, work / "runs" / name)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  }

  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fs::remove_all(work, ec);
  return 0;
}
