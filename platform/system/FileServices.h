// The operating system's file services, in the shape the rest of the program expects of them.
//
// One implementation file per system sits beside this header (FileServices_posix.cpp,
// FileServices_win32.cpp). Paths are 8-bit strings. Calls that can fail return a sentinel
// (InvalidHandle, false, -1) and leave the reason for LastOsErrorText(); none of them throws.
//
// Three rules hold for every call below, on every system:
//  - Symbolic links: a file that the user names is read through links (FileOpen for reading);
//    a file that the program creates, writes, replaces or removes is never reached through one.
//  - Only regular files are handed out: a folder, a pipe, a device or a socket is refused, and
//    refused at once (opening a pipe never waits for its other end).
//  - Nothing that stood under a name before a call is removed or emptied by a call that fails.
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

// Opens an existing regular file, never truncating it. For reading, a symbolic link is followed;
// for writing it is refused. Anything but a regular file is refused without blocking, with the
// reason "not a regular file" (a folder: the system's own reason). Opening for writing a file
// that has no write permission bits fails, also for the superuser, the way a read-only file is
// refused on systems that have the attribute; so does a program that is running.
// Windows: CreateFileA with OPEN_EXISTING and a GetFileType of FILE_TYPE_DISK; for reading
// FILE_SHARE_READ | FILE_SHARE_DELETE (so that a file that this process holds open with DELETE
// access, its own temporary file, can still be read by name), for writing FILE_SHARE_READ,
// FILE_FLAG_OPEN_REPARSE_POINT and a refused reparse point.
THandle FileOpen(const std::string& path, TFileAccess access);

// Creates a file or truncates an existing one ("create always") for reading and writing. Never
// follows a symbolic link; a new file is readable and writable by its owner alone; an existing
// read-only file is refused, and so is anything that is not a regular file (a folder, a device, a
// pipe), so the handle always names a file that its caller may remove again. Prefer
// TReplacingFileStream (Streams.h) where a failure must leave an existing file as it was.
THandle FileCreate(const std::string& path);

// Creates a new file only if no entry of that name exists ("create new"), never through a
// symbolic link, private to the owner, open for reading and writing. Fails with
// LastErrorWasEntryTaken() true when the name is taken.
// Windows: CreateFileA with CREATE_NEW, GENERIC_READ | GENERIC_WRITE | DELETE and FILE_SHARE_READ
// only: while the handle is open, nobody else can write, rename or delete the file, which is what
// keeps a temporary file of the program from being swapped (see MoveFile and DeleteFileIfSame).
THandle FileCreateNew(const std::string& path);
bool LastErrorWasEntryTaken();

// A second handle, for reading only, on the very file that handle has open, found through its
// name path: InvalidHandle when path stands for another file by now. For a process that wrote a
// file and keeps holding it: a file that a process holds open for writing cannot be started as a
// program (ETXTBSY), so the writing handle is closed once this one is had.
// Windows: ReOpenFile(handle, GENERIC_READ | DELETE, FILE_SHARE_READ, 0).
THandle ReopenForReading(const std::string& path, THandle handle);

// Creates a new, empty, private file beside target (in its folder, never through a symbolic
// link) for a file that will take target's place once complete, and puts its name in tempName.
// The name is target's followed by ".part" and a counter, shortened when that would be longer
// than the system takes a name or a path; an existing entry is never used. A target whose path
// is longer than the system takes fails (with the system's reason), as creating it would.
// Windows: the same names (MAX_PATH and the name limit of 255 instead of PATH_MAX and NAME_MAX),
// each tried with FileCreateNew.
THandle FileCreateBeside(const std::string& target, std::string& tempName);

// Plain transfers: the count moved, 0 at the end of the file, -1 on failure. Interrupted calls
// are restarted; a short count means the end of the file or a full medium.
int32_t FileRead(THandle handle, void* buffer, int32_t count);
int32_t FileWrite(THandle handle, const void* buffer, int32_t count);
// The new position, or -1. origin: 0 from the start, 1 from the current position, 2 from the end.
int64_t FileSeek(THandle handle, int64_t offset, int origin);
bool FileTruncate(THandle handle, int64_t size);
// Writes what the system still holds of the file through to the medium, so that it is complete
// before it is put under its final name; false when that fails (the medium is full or broken).
// POSIX: fsync; Windows: FlushFileBuffers.
bool FileFlush(THandle handle);
// Closes the handle (InvalidHandle does nothing), keeping the reason of an earlier failure for
// LastOsErrorText, so that an owner that closes on its way out does not lose it.
void FileClose(THandle handle);

// An open file handle, closed when the object goes: the one owning type of a handle, in the
// system files as elsewhere. Move-only; Release hands the handle over.
class TFileHandle {
 public:
  TFileHandle() = default;
  explicit TFileHandle(THandle handle) : FHandle(handle) {}
  ~TFileHandle() { Close(); }
  TFileHandle(TFileHandle&& other) noexcept : FHandle(other.Release()) {}
  TFileHandle& operator=(TFileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      FHandle = other.Release();
    }
    return *this;
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  THandle Get() const { return FHandle; }
  bool Valid() const { return FHandle != InvalidHandle; }
  THandle Release() {
    const THandle handle = FHandle;
    FHandle = InvalidHandle;
    return handle;
  }
  void Close() { FileClose(Release()); }

 private:
  THandle FHandle = InvalidHandle;
};

// True when path, followed through symbolic links, names the very file that handle has open
// (the same file system and the same file on it, so a hard link counts too).
bool SameFile(THandle handle, const std::string& path);
// True when both paths, followed through symbolic links, name one and the same existing file.
// Windows (both): the volume serial number and file index of GetFileInformationByHandle.
bool SameFile(const std::string& path1, const std::string& path2);

// The full path of a possibly relative path, as text only: made absolute against the current
// folder, repeated separators and "." taken out, each ".." taking away the name before it (never
// going above the root). Symbolic links are neither followed nor resolved, so "link/.." is the
// folder that holds link. A trailing separator is kept, since "name/" asks for a folder. An empty
// path gives an empty result; when the current folder cannot be named (it was removed), a
// relative path comes back as given. The result is never cut short: a path longer than the system
// takes comes back whole, and the call that uses it refuses it.
std::string GetFullPathName(const std::string& path);

// Removes the file entry path (a symbolic link itself, never what it points to; never a folder).
bool DeleteFile(const std::string& path);
// Removes path only while it is still the file that handle has open: a name that now stands for
// another file, or for a link, is left alone (the reason "the name no longer refers to the file
// that was opened"). For temporary files, which a process must never delete once someone else
// took their name. The handle stays open.
// POSIX: the name's identity (device, inode) is compared with the handle's just before the
// unlink. Windows: the file was opened without FILE_SHARE_DELETE (FileCreateNew), so nobody else
// can have renamed or deleted it; it is deleted through the handle (FileDispositionInfo).
bool DeleteFileIfSame(const std::string& path, THandle handle);
bool CreateDir(const std::string& path);

// Renames a file. Never replaces an existing target; across file systems the file is copied
// (under a temporary name beside the target, put in place only when complete) with its
// permission bits, and the source deleted. A move that cannot remove its source undoes the new
// name and fails, so a failed move leaves both paths as they were.
// opened, when given, is a handle that the caller holds on the source: the move then takes only
// that very file. A source name that stands for another file by now (it was swapped) fails with
// the reason "the name no longer refers to the file that was opened", and a copy reads the open
// file, never the name.
// Windows: MoveFileA; with opened, SetFileInformationByHandle(FileRenameInfo, ReplaceIfExists
// FALSE) through that handle, which FileCreateNew opened with DELETE access and without
// FILE_SHARE_DELETE.
bool MoveFile(const std::string& source, const std::string& dest, THandle opened = InvalidHandle);

// Whether a file may be put in place of target: true when nothing stands there, or a regular file
// that this process could write (not read-only, not a running program). Anything else (a folder,
// a symbolic link, a pipe, a device) gives false with the reason "not a regular file".
// POSIX: lstat, then an open for writing without truncation, closed at once. Windows:
// GetFileAttributesA (no FILE_ATTRIBUTE_DIRECTORY, _REPARSE_POINT, _READONLY or _DEVICE), then
// CreateFileA with GENERIC_WRITE and OPEN_EXISTING, closed at once (a running program refuses it).
bool CanReplace(const std::string& target);
// Puts the complete file newFile in place of target in one step: CanReplace(target), then a
// rename that replaces target. The caller flushes newFile first (FileFlush). A symbolic link
// that appears at target meanwhile is replaced itself, never the file it points to.
// POSIX: rename; Windows: MoveFileExA(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
bool ReplaceFile(const std::string& newFile, const std::string& target);

// The reason for the last failed call of this thread: the system's text, or one of this layer's
// own ("not a regular file", "the name no longer refers to the file that was opened").
std::string LastOsErrorText();

// A whole file mapped read-only into memory. The bytes stay valid while the object lives (the
// file must not be truncated meanwhile). Map gives nullptr when the file cannot be opened or
// mapped or is not a regular file; an empty file maps to no bytes.
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
