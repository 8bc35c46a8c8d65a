// File services on POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "FileServices.h"
#include "TempFiles.h"

namespace {

constexpr mode_t PrivateFileMode = S_IRUSR | S_IWUSR;
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// Reasons of this layer's own, kept in errno like the system's (beyond any value the system
// uses) so that the next failing call replaces them as it replaces the system's.
constexpr int ErrNotRegular = 100001;
constexpr int ErrNotSameFile = 100002;

// Attempts at a free name beside a file that is to be replaced.
constexpr int MaxBesideAttempts = 100;

thread_local bool GEntryTaken = false;

int ToFd(THandle handle) { return static_cast<int>(handle); }
int Fd(const TFileHandle& file) { return ToFd(file.Get()); }

bool Fail(int error) {
  errno = error;
  return false;
}

THandle FailHandle(int error) {
  errno = error;
  return InvalidHandle;
}

// Removes path and keeps errno: for undoing a step after a failure that is being reported.
void UnlinkQuietly(const std::string& path) {
  const int saved = errno;
  unlink(path.c_str());
  errno = saved;
}

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name path itself (not a link's target) is the file that fd has open.
bool NameIsOpenFile(const std::string& path, int fd) {
  struct stat named {};
  struct stat opened {};
  return lstat(path.c_str(), &named) == 0 && fstat(fd, &opened) == 0 && SameIdentity(named, opened);
}

// Refuses, with the reason, anything but a regular file: a folder gets the system's reason.
bool CheckRegular(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  if (!S_ISREG(st.st_mode)) return Fail(ErrNotRegular);
  return true;
}

// The superuser may write any file; a file without write bits is still refused, so that a
// read-only file behaves the same for every user.
bool CheckWritable(const struct stat& st) {
  if ((st.st_mode & AnyWriteBit) == 0) return Fail(EACCES);
  return true;
}

// A regular file never blocks; O_NONBLOCK is only there to keep a pipe from stalling an open.
bool ClearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Opens a regular file that already exists. follow: a symbolic link is followed. The path is
// examined first so that a device is never opened (opening one can have effects of its own), and
// the open does not wait for the other end of a pipe that appeared meanwhile.
THandle OpenRegular(const std::string& path, int accessFlags, bool follow) {
  if (path.empty()) return FailHandle(ENOENT);
  struct stat st {};
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return InvalidHandle;
  if (!follow && S_ISLNK(st.st_mode)) return FailHandle(ELOOP);
  if (!CheckRegular(st)) return InvalidHandle;
  const int flags = accessFlags | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW);
  TFileHandle fd(open(path.c_str(), flags));
  if (!fd.Valid() || fstat(Fd(fd), &st) != 0 || !CheckRegular(st)) return InvalidHandle;
  if (accessFlags != O_RDONLY && !CheckWritable(st)) return InvalidHandle;
  if (!ClearNonBlocking(Fd(fd))) return InvalidHandle;
  return fd.Release();
}

// The current folder, however long its name.
bool CurrentDir(std::string& dir) {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      dir = buffer.data();
      return true;
    }
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Writes all of count bytes, restarting interrupted and partial writes.
bool WriteAll(int fd, const char* data, std::size_t count) {
  while (count > 0) {
    const ssize_t put = write(fd, data, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

// Copies the whole file that in has open, from its start, to out; in's position is not moved.
bool CopyContents(int in, int out) {
  std::vector<char> buffer(1 << 16);
  for (off_t at = 0;;) {
    const ssize_t got = pread(in, buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got))) return false;
    at += got;
  }
}

// The second half of a move across file systems: the file is copied under a temporary name
// beside dest and given dest's name only when it is complete, so that an interrupted move never
// leaves part of a file under the final name; then the source goes. opened, when valid, is the
// source's own handle, which is read in place of the name.
bool CopyAcross(const std::string& source, const std::string& dest, THandle opened) {
  TFileHandle ownSource(opened == InvalidHandle ? OpenRegular(source, O_RDONLY, false)
                                                : InvalidHandle);
  if (opened == InvalidHandle && !ownSource.Valid()) return false;
  const int in = opened == InvalidHandle ? Fd(ownSource) : ToFd(opened);
  struct stat st {};
  if (fstat(in, &st) != 0) return false;

  std::string temp;
  TFileHandle out(FileCreateBeside(dest, temp));
  if (!out.Valid()) return false;
  TTempFileRegistration listed(temp, out.Get());
  // The permission bits are set explicitly: the file was made private.
  const bool complete =
      CopyContents(in, Fd(out)) && fchmod(Fd(out), st.st_mode & 07777) == 0 && fsync(Fd(out)) == 0;
  listed.Reset();
  out.Close();
  if (!complete) {
    UnlinkQuietly(temp);
    return false;
  }
  // A link never replaces a dest that appeared meanwhile, unlike a rename.
  if (link(temp.c_str(), dest.c_str()) != 0) {
    UnlinkQuietly(temp);
    return false;
  }
  unlink(temp.c_str());
  // The copy stands. A source that the caller holds open goes only while its name is still that
  // file; one that cannot go undoes the copy, so that a failed move changes nothing.
  if (opened != InvalidHandle && !NameIsOpenFile(source, in)) return true;
  if (unlink(source.c_str()) != 0 && errno != ENOENT) {
    UnlinkQuietly(dest);
    return false;
  }
  return true;
}

}  // namespace

bool IsPathDelimiter(char c) { return c == PathDelim; }

uint32_t GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return faInvalid;
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= faDirectory;
  if ((st.st_mode & AnyWriteBit) == 0) attributes |= faReadOnly;
  return attributes;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

THandle FileOpen(const std::string& path, TFileAccess access) {
  static constexpr int AccessFlags[] = {O_RDONLY, O_WRONLY, O_RDWR};
  return OpenRegular(path, AccessFlags[static_cast<int>(access)], access == TFileAccess::Read);
}

THandle FileCreate(const std::string& path) {
  if (path.empty()) return FailHandle(ENOENT);
  // Anything but a regular file is refused before it is opened: opening a device can have
  // effects of its own.
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && !CheckRegular(st)) {
    return InvalidHandle;
  }
  // Opened without truncation first, so that a read-only file is refused before it loses its
  // contents; then emptied.
  TFileHandle fd(
      open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, PrivateFileMode));
  if (!fd.Valid() || fstat(Fd(fd), &st) != 0 || !CheckRegular(st) || !CheckWritable(st)) {
    return InvalidHandle;
  }
  if (ftruncate(Fd(fd), 0) != 0 || !ClearNonBlocking(Fd(fd))) return InvalidHandle;
  return fd.Release();
}

THandle FileCreateNew(const std::string& path) {
  GEntryTaken = false;
  if (path.empty()) return FailHandle(ENOENT);
  const int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, PrivateFileMode);
  if (fd < 0) GEntryTaken = errno == EEXIST;
  return fd < 0 ? InvalidHandle : fd;
}

bool LastErrorWasEntryTaken() { return GEntryTaken; }

THandle ReopenForReading(const std::string& path, THandle handle) {
  TFileHandle fd(OpenRegular(path, O_RDONLY, false));
  struct stat opened {};
  struct stat reopened {};
  if (!fd.Valid() || fstat(ToFd(handle), &opened) != 0 || fstat(Fd(fd), &reopened) != 0) {
    return InvalidHandle;
  }
  if (!SameIdentity(opened, reopened)) return FailHandle(ErrNotSameFile);
  return fd.Release();
}

THandle FileCreateBeside(const std::string& target, std::string& tempName) {
  if (target.empty()) return FailHandle(ENOENT);
  if (target.size() >= PATH_MAX) return FailHandle(ENAMETOOLONG);
  const std::size_t slash = target.rfind(PathDelim);
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size());
  // Room for the temporary name in the path; the target fits, so it is at least name.size().
  const std::size_t pathRoom = PATH_MAX - 1 - folder.size();
  for (int n = 0; n < MaxBesideAttempts; ++n) {
    const std::string suffix = ".part" + std::to_string(n);
    // The name gives up characters at its end rather than make the name or the path longer than
    // the system takes, so that wherever the target could be made, this file can be made too.
    std::size_t keep = std::min(name.size(), NAME_MAX - suffix.size());
    keep = std::min(keep, pathRoom > suffix.size() ? pathRoom - suffix.size() : 0);
    tempName = folder + name.substr(0, keep) + suffix;
    const THandle handle = FileCreateNew(tempName);
    if (handle != InvalidHandle) return handle;
    if (!LastErrorWasEntryTaken()) break;
  }
  tempName.clear();
  return InvalidHandle;
}

int32_t FileRead(THandle handle, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto* p = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t got = read(ToFd(handle), p + done, static_cast<std::size_t>(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return done > 0 ? done : -1;
    if (got == 0) break;
    done += static_cast<int32_t>(got);
  }
  return done;
}

int32_t FileWrite(THandle handle, const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto* p = static_cast<const char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t put = write(ToFd(handle), p + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return done > 0 ? done : -1;
    done += static_cast<int32_t>(put);
  }
  return done;
}

int64_t FileSeek(THandle handle, int64_t offset, int origin) {
  static constexpr int Whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return -1;
  const off_t result = lseek(ToFd(handle), static_cast<off_t>(offset), Whence[origin]);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

bool FileTruncate(THandle handle, int64_t size) {
  return ftruncate(ToFd(handle), static_cast<off_t>(size)) == 0;
}

bool FileFlush(THandle handle) { return fsync(ToFd(handle)) == 0; }

void FileClose(THandle handle) {
  if (handle == InvalidHandle) return;
  const int saved = errno;
  close(ToFd(handle));
  errno = saved;
}

bool SameFile(THandle handle, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return !path.empty() && fstat(ToFd(handle), &opened) == 0 && stat(path.c_str(), &named) == 0 &&
         SameIdentity(opened, named);
}

bool SameFile(const std::string& path1, const std::string& path2) {
  struct stat first {};
  struct stat second {};
  return !path1.empty() && !path2.empty() && stat(path1.c_str(), &first) == 0 &&
         stat(path2.c_str(), &second) == 0 && SameIdentity(first, second);
}

std::string GetFullPathName(const std::string& path) {
  if (path.empty()) return {};
  std::string joined = path;
  if (path.front() != PathDelim) {
    std::string dir;
    if (!CurrentDir(dir)) return path;
    joined = dir + PathDelim + path;
  }
  std::vector<std::string_view> names;
  std::string_view rest(joined);
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(PathDelim), rest.size());
    const std::string_view name = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(name);
  }
  std::string full;
  full.reserve(joined.size() + 1);
  for (std::string_view name : names) {
    full += PathDelim;
    full += name;
  }
  if (full.empty() || path.back() == PathDelim) full += PathDelim;
  return full;
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  return unlink(path.c_str()) == 0;
}

bool DeleteFileIfSame(const std::string& path, THandle handle) {
  if (path.empty()) return Fail(ENOENT);
  if (!EntryExists(path)) return false;
  if (!NameIsOpenFile(path, ToFd(handle))) return Fail(ErrNotSameFile);
  return unlink(path.c_str()) == 0;
}

bool CreateDir(const std::string& path) { return !path.empty() && mkdir(path.c_str(), 0777) == 0; }

bool MoveFile(const std::string& source, const std::string& dest, THandle opened) {
  if (source.empty() || dest.empty()) return Fail(ENOENT);
  struct stat st {};
  if (lstat(source.c_str(), &st) != 0) return false;
  if (opened != InvalidHandle && !NameIsOpenFile(source, ToFd(opened))) {
    return Fail(ErrNotSameFile);
  }
  if (lstat(dest.c_str(), &st) == 0) return Fail(EEXIST);
  // link + unlink never replaces a target that appears meanwhile, unlike rename.
  if (link(source.c_str(), dest.c_str()) == 0) {
    // The source may have been swapped between the test above and the link: the new name must
    // be the file that the caller holds, or it goes again.
    if (opened != InvalidHandle && !NameIsOpenFile(dest, ToFd(opened))) {
      UnlinkQuietly(dest);
      return Fail(ErrNotSameFile);
    }
    // A source that is gone already (someone removed it meanwhile) leaves the file moved.
    if (unlink(source.c_str()) == 0 || errno == ENOENT) return true;
    // The source cannot go (its folder does not let this process remove entries): undo the new
    // name, so that a failed move changes nothing.
    UnlinkQuietly(dest);
    return false;
  }
  if (errno == EXDEV) return CopyAcross(source, dest, opened);
  if (errno == EEXIST) return false;
  // File systems without hard links: a rename that does not replace, where the system has one.
  if (errno == EPERM || errno == EOPNOTSUPP) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, dest.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return false;
      if (lstat(dest.c_str(), &st) == 0) return Fail(EEXIST);
      if (rename(source.c_str(), dest.c_str()) != 0) return false;
    }
    if (opened != InvalidHandle && !NameIsOpenFile(dest, ToFd(opened))) {
      // Swapped in the instant before the rename: give the other file its name back.
      const int saved = errno;
      renameat2(AT_FDCWD, dest.c_str(), AT_FDCWD, source.c_str(), RENAME_NOREPLACE);
      errno = saved;
      return Fail(ErrNotSameFile);
    }
    return true;
  }
  return false;
}

bool CanReplace(const std::string& target) {
  if (target.empty()) return Fail(ENOENT);
  struct stat st {};
  if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISLNK(st.st_mode)) return Fail(ErrNotRegular);
  if (!CheckRegular(st) || !CheckWritable(st)) return false;
  // Opening for writing, without truncating, tells whether this process may write the file at
  // all (permissions, a running program); nothing is written.
  TFileHandle probe(open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return probe.Valid();
}

bool ReplaceFile(const std::string& newFile, const std::string& target) {
  if (newFile.empty()) return Fail(ENOENT);
  if (!CanReplace(target)) return false;
  return rename(newFile.c_str(), target.c_str()) == 0;
}

std::string LastOsErrorText() {
  switch (errno) {
    case ErrNotRegular:
      return "not a regular file";
    case ErrNotSameFile:
      return "the name no longer refers to the file that was opened";
    default:
      return std::strerror(errno);
  }
}

std::shared_ptr<const TFileMapping> TFileMapping::Map(const std::string& path) {
  TFileHandle fd(OpenRegular(path, O_RDONLY, true));
  struct stat st {};
  if (!fd.Valid() || fstat(Fd(fd), &st) != 0) return nullptr;
  if (st.st_size == 0) return std::shared_ptr<const TFileMapping>(new TFileMapping(nullptr, 0));
  void* data =
      mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, Fd(fd), 0);
  if (data == MAP_FAILED)
    return nullptr;  // the descriptor goes either way; a mapping keeps the file
  madvise(data, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
  return std::shared_ptr<const TFileMapping>(
      new TFileMapping(static_cast<const uint8_t*>(data), static_cast<int64_t>(st.st_size)));
}

TFileMapping::~TFileMapping() {
  if (FData) munmap(const_cast<uint8_t*>(FData), static_cast<std::size_t>(FSize));
}
