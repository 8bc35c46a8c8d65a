// System services on POSIX systems.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "SystemServices.h"

std::string GetTempPath() {
  std::string path = "/tmp";
  if (const char* dir = std::getenv("TMPDIR"); dir && *dir) {
    struct stat st {};
    if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) path = dir;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path == "/" ? path : path + "/";
}

TSystemTime GetLocalTime() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  TSystemTime t;
  t.Year = static_cast<uint16_t>(local.tm_year + 1900);
  t.Month = static_cast<uint16_t>(local.tm_mon + 1);
  t.Day = static_cast<uint16_t>(local.tm_mday);
  t.Hour = static_cast<uint16_t>(local.tm_hour);
  t.Minute = static_cast<uint16_t>(local.tm_min);
  // A leap second reads as 60 in struct tm; the counter of temporary names expects 0..59.
  t.Second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  t.Milliseconds = static_cast<uint16_t>(now.tv_usec / 1000);
  return t;
}

std::string GetHomePath() {
  if (const char* home = std::getenv("HOME"); home && *home) {
    struct stat st {};
    if (stat(home, &st) == 0 && S_ISDIR(st.st_mode)) return home;
  }
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string MapDrivePath(const std::string& path) {
  std::string rest = path;
  std::string prefix;
  if (rest.size() >= 2 && (rest[0] == 'c' || rest[0] == 'C') && rest[1] == ':') {
    prefix = GetHomePath();
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    rest = rest.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') rest = "/" + rest;
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return prefix + rest;
}
