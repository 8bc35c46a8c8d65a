// The operating system's file services, in the shape the rest of the program expects of them.
//
// One implementation file per system sits beside this header (FileServices_posix.cpp). Paths are
// 8-bit strings. Calls that can fail return a sentinel (InvalidHandle, false, -1) and leave the
// system's error code for LastOsErrorText(); none of them throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

using THandle = intptr_t;
inline constexpr THandle InvalidHandle = -1;

// The separator between folder and file names, and the characters that end a folder part
// when a file name or extension is picked out of a path.
inline constexpr char PathDelim = '/';
bool IsPathDelimiter(char c);

// Attribute word of a path.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faInvalid = 0xFFFFFFFF;

// Read-only bit when the file has no write permission bit at all, directory bit for a folder;
// faInvalid (all bits set) when the path is empty or cannot be examined.
uint32_t GetFileAttributes(const std::string& path);

// True when a file (not a folder) of that name exists; a symbolic link counts by its target.
bool FileExists(const std::string& path);
// True when anything at all stands under that name, a dangling symbolic link included.
bool EntryExists(const std::string& path);

enum class TFileAccess { Read, Write, ReadWrite };

// Opens an existing file, never through a symbolic link, never truncating it. Opening for
// writing a file that has no write permission bits fails, also for the superuser, the way a
// read-only file is refused on systems that have the attribute.
THandle FileOpen(const std::string& path, TFileAccess access);

// Creates a file or truncates an existing one ("create always") for reading and writing. Never
// follows a symbolic link; a new file is readable and writable by its owner alone; an existing
// read-only file is refused, and so is anything that is not a regular file (a folder, a device, a
// pipe), so the handle always names a file that its caller may remove again.
THandle FileCreate(const std::string& path);

// Creates a new file only if no entry of that name exists ("create new"), never through a
// symbolic link, private to the owner. Fails with EntryTaken() true when the name is taken.
THandle FileCreateNew(const std::string& path);
bool LastErrorWasEntryTaken();

// Plain transfers: the count moved, 0 at the end of the file, -1 on failure. Interrupted calls
// are restarted; a short count means the end of the file or a full medium.
int32_t FileRead(THandle handle, void* buffer, int32_t count);
int32_t FileWrite(THandle handle, const void* buffer, int32_t count);
// The new position, or -1. origin: 0 from the start, 1 from the current position, 2 from the end.
int64_t FileSeek(THandle handle, int64_t offset, int origin);
bool FileTruncate(THandle handle, int64_t size);
void FileClose(THandle handle);

// True when path, followed through symbolic links, names the very file that handle has open
// (the same file system and the same file on it, so a hard link counts too).
bool SameFile(THandle handle, const std::string& path);

// The full path of a possibly relative path, as text only: made absolute against the current
// folder, repeated separators and "." taken out, each ".." taking away the name before it (never
// going above the root). Symbolic links are neither followed nor resolved, so "link/.." is the
// folder that holds link. A trailing separator is kept, since "name/" asks for a folder. An empty
// path gives an empty result; when the current folder cannot be named (it was removed), a
// relative path comes back as given. The result is never cut short: a path longer than the system
// takes comes back whole, and the call that uses it refuses it.
std::string GetFullPathName(const std::string& path);

bool DeleteFile(const std::string& path);
bool CreateDir(const std::string& path);
// Renames a file. Never replaces an existing target; across file systems the file is copied
// with its permission bits and the source deleted.
bool MoveFile(const std::string& source, const std::string& dest);

// The system's text for the last failed call of this thread.
std::string LastOsErrorText();

// A whole file mapped read-only into memory. The bytes stay valid while the object lives (the
// file must not be truncated meanwhile). Map gives nullptr when the file cannot be opened or
// mapped; an empty file maps to no bytes.
class TFileMapping {
 public:
  static std::shared_ptr<const TFileMapping> Map(const std::string& path);
  ~TFileMapping();
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  const uint8_t* Data() const { return FData; }
  int64_t Size() const { return FSize; }

 private:
  TFileMapping(const uint8_t* data, int64_t size) : FData(data), FSize(size) {}
  const uint8_t* FData;
  int64_t FSize;
};
