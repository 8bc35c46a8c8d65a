// File services on POSIX systems.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

#include "FileServices.h"

namespace {

constexpr mode_t PrivateFileMode = S_IRUSR | S_IWUSR;
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

thread_local bool GEntryTaken = false;

int ToFd(THandle handle) { return static_cast<int>(handle); }

// The superuser may write any file; a file without write bits is still refused, so that a
// read-only file behaves the same for every user.
bool RefuseReadOnly(int fd) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & AnyWriteBit) == 0) {
    errno = EACCES;
    return true;
  }
  return false;
}

// Opening a folder "succeeds" for reading on POSIX; a file service never hands one out.
bool RefuseNonFile(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return true;
  }
  return false;
}

// "Create always" makes or empties a regular file; a device or a pipe is refused rather than
// handed out, so that its caller can never remove one believing it made it.
bool RefuseNonRegular(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return true;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return true;
  }
  return false;
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

THandle CloseWithErrno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
  return InvalidHandle;
}

bool CopyAcross(const std::string& source, const std::string& dest) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    CloseWithErrno(in);
    return false;
  }
  int out =
      open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, st.st_mode & 07777);
  if (out < 0) {
    CloseWithErrno(in);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t got = read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ssize_t done = 0;
    while (done < got) {
      ssize_t put = write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        break;
      }
      done += put;
    }
    if (!ok) break;
  }
  // The permission bits are set explicitly: the umask may have narrowed them at creation.
  if (ok && fchmod(out, st.st_mode & 07777) != 0) ok = false;
  if (close(out) != 0) ok = false;
  close(in);
  if (!ok) {
    int saved = errno;
    unlink(dest.c_str());
    errno = saved;
    return false;
  }
  if (unlink(source.c_str()) != 0) {
    // The copy stands but the source could not go: undo, so that a failed move changes nothing.
    int saved = errno;
    unlink(dest.c_str());
    errno = saved;
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
  int flags = O_CLOEXEC | O_NOFOLLOW;
  switch (access) {
    case TFileAccess::Read:
      flags |= O_RDONLY;
      break;
    case TFileAccess::Write:
      flags |= O_WRONLY;
      break;
    case TFileAccess::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (path.empty()) {
    errno = ENOENT;
    return InvalidHandle;
  }
  int fd = open(path.c_str(), flags);
  if (fd < 0) return InvalidHandle;
  if (RefuseNonFile(fd)) return CloseWithErrno(fd);
  if (access != TFileAccess::Read && RefuseReadOnly(fd)) return CloseWithErrno(fd);
  return fd;
}

THandle FileCreate(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return InvalidHandle;
  }
  // Opened without truncation first, so that a read-only file is refused before it loses its
  // contents; then emptied.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, PrivateFileMode);
  if (fd < 0) return InvalidHandle;
  if (RefuseNonRegular(fd) || RefuseReadOnly(fd)) return CloseWithErrno(fd);
  if (ftruncate(fd, 0) != 0) return CloseWithErrno(fd);
  return fd;
}

THandle FileCreateNew(const std::string& path) {
  GEntryTaken = false;
  if (path.empty()) {
    errno = ENOENT;
    return InvalidHandle;
  }
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, PrivateFileMode);
  if (fd < 0) {
    GEntryTaken = errno == EEXIST;
    return InvalidHandle;
  }
  return fd;
}

bool LastErrorWasEntryTaken() { return GEntryTaken; }

int32_t FileRead(THandle handle, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto* p = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t got = read(ToFd(handle), p + done, static_cast<std::size_t>(count - done));
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
    ssize_t put = write(ToFd(handle), p + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return done > 0 ? done : -1;
    done += static_cast<int32_t>(put);
  }
  return done;
}

int64_t FileSeek(THandle handle, int64_t offset, int origin) {
  static constexpr int Whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return -1;
  off_t result = lseek(ToFd(handle), static_cast<off_t>(offset), Whence[origin]);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

bool FileTruncate(THandle handle, int64_t size) {
  return ftruncate(ToFd(handle), static_cast<off_t>(size)) == 0;
}

void FileClose(THandle handle) {
  if (handle != InvalidHandle) close(ToFd(handle));
}

bool SameFile(THandle handle, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  if (path.empty() || fstat(ToFd(handle), &opened) != 0 || stat(path.c_str(), &named) != 0) {
    return false;
  }
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
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
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  return unlink(path.c_str()) == 0;
}

bool CreateDir(const std::string& path) { return !path.empty() && mkdir(path.c_str(), 0777) == 0; }

bool MoveFile(const std::string& source, const std::string& dest) {
  if (source.empty() || dest.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat st {};
  if (lstat(source.c_str(), &st) != 0) return false;
  if (lstat(dest.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  // link + unlink never replaces a target that appears meanwhile, unlike rename.
  if (link(source.c_str(), dest.c_str()) == 0) {
    unlink(source.c_str());
    return true;
  }
  if (errno == EXDEV) return CopyAcross(source, dest);
  if (errno == EEXIST) return false;
  // File systems without hard links: fall back to rename after the existence test above.
  if (errno == EPERM || errno == EOPNOTSUPP) {
    if (lstat(dest.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    return rename(source.c_str(), dest.c_str()) == 0;
  }
  return false;
}

std::string LastOsErrorText() { return std::strerror(errno); }

std::shared_ptr<const TFileMapping> TFileMapping::Map(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    CloseWithErrno(fd);
    return nullptr;
  }
  if (st.st_size == 0) {
    close(fd);
    return std::shared_ptr<const TFileMapping>(new TFileMapping(nullptr, 0));
  }
  void* data = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);  // the mapping keeps the file
  if (data == MAP_FAILED) return nullptr;
  madvise(data, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
  return std::shared_ptr<const TFileMapping>(
      new TFileMapping(static_cast<const uint8_t*>(data), static_cast<int64_t>(st.st_size)));
}

TFileMapping::~TFileMapping() {
  if (FData) munmap(const_cast<uint8_t*>(FData), static_cast<std::size_t>(FSize));
}
