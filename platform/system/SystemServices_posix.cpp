// System services on POSIX systems.
#include <sys/stat.h>
#include <sys/time.h>

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
