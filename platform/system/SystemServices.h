// System services other than files: the temporary folder and the local time.
#pragma once

#include <cstdint>
#include <string>

// The user's temporary folder with a trailing separator: $TMPDIR when it names a directory,
// else /tmp.
std::string GetTempPath();

struct TSystemTime {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Milliseconds = 0;
};

TSystemTime GetLocalTime();

// The user's home folder: $HOME when it names a directory, else the account's.
std::string GetHomePath();

// The local path that a drive path of the descriptions stands for: drive "c:" is the user's home
// folder and every "\" a "/" ("c:\Tavrix\tavrix.exe" -> "<home>/Tavrix/tavrix.exe"). Paths
// without a drive only get their separators turned.
std::string MapDrivePath(const std::string& path);
