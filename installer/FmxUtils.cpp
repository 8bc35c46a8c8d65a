#include "FmxUtils.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "FileServices.h"

namespace {

constexpr const char* SFCantMove = "Cannot move file %s";

// An open file, closed when the object goes.
class TFileHandle {
 public:
  explicit TFileHandle(THandle handle) : FHandle(handle) {}
  ~TFileHandle() { Close(); }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  THandle Handle() const { return FHandle; }
  bool Valid() const { return FHandle != InvalidHandle; }
  void Close() {
    FileClose(FHandle);
    FHandle = InvalidHandle;
  }

 private:
  THandle FHandle;
};

// The destination of a copy while it is written: closed when the object goes and, unless the
// copy was marked complete, removed as well, so that a failed copy never leaves a truncated file
// under the destination's name. FileCreate hands out regular files only, so the removal never
// reaches a device.
class TCopyDestination {
 public:
  TCopyDestination(THandle handle, std::string path) : FFile(handle), FPath(std::move(path)) {}
  ~TCopyDestination() {
    if (FComplete || !FFile.Valid()) return;
    FFile.Close();
    DeleteFile(FPath);
  }
  TCopyDestination(const TCopyDestination&) = delete;
  TCopyDestination& operator=(const TCopyDestination&) = delete;

  THandle Handle() const { return FFile.Handle(); }
  void Complete() { FComplete = true; }

 private:
  TFileHandle FFile;
  std::string FPath;
  bool FComplete = false;
};

std::string ExtractFileName(const std::string& path) {
  const auto lastDelim = std::find_if(path.rbegin(), path.rend(), IsPathDelimiter);
  return std::string(lastDelim.base(), path.end());
}

}  // namespace

bool FileHasAttributes(const std::string& path, uint16_t mask) {
  const uint32_t wideMask = mask;
  return (GetFileAttributes(path) & wideMask) == wideMask;
}

void MoveFileTo(const std::string& source, const std::string& dest) {
  const std::string fullDest = GetFullPathName(dest);
  if (MoveFile(source, fullDest)) return;
  // A source that cannot be examined counts as read-only here, so a missing or empty source
  // ends in this message too rather than in a failed open.
  if (FileHasAttributes(source, faReadOnly)) throw EFCantMove(Format(SFCantMove, {source}));
  CopyFileTo(source, fullDest);
}

void CopyFileTo(const std::string& source, const std::string& dest) {
  std::string fullDest = GetFullPathName(dest);
  // An empty destination names no folder; lengthening it would aim the copy at the root.
  if (!fullDest.empty() && FileHasAttributes(fullDest, faDirectory)) {
    if (!IsPathDelimiter(fullDest.back())) fullDest += PathDelim;
    fullDest += ExtractFileName(source);
  }

  // Declared in this order so that they go in the reverse one on every path: the destination is
  // closed first, then the source, then the buffer is freed.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[CopyChunkSize]);
  if (!buffer) throw EOutOfMemory(SysConst::SOutOfMemory);

  TFileHandle sourceFile(FileOpen(source, TFileAccess::Read));
  if (!sourceFile.Valid()) throw EFOpenError(Format(SysConst::SFOpenError, {source}));

  // Creating the destination would empty it; when it is the source under another name (or the
  // same one), that would destroy the very bytes to be copied. Refused as a file in use.
  if (SameFile(sourceFile.Handle(), fullDest)) {
    throw EFCreateError(Format(SysConst::SFCreateError, {fullDest}));
  }
  TCopyDestination destFile(FileCreate(fullDest), fullDest);
  if (destFile.Handle() == InvalidHandle) {
    throw EFCreateError(Format(SysConst::SFCreateError, {fullDest}));
  }

  // A read that gives fewer bytes than asked is not taken for the end: FileRead hands back what
  // it got before a failure, and only the next read reports the failure. Reading on until a read
  // gives nothing costs one read at the end and keeps a failing source from passing for a short
  // one.
  for (;;) {
    const int32_t got = FileRead(sourceFile.Handle(), buffer.get(), CopyChunkSize);
    if (got < 0) throw EReadError(SysConst::SReadError);
    if (got == 0) break;
    if (FileWrite(destFile.Handle(), buffer.get(), got) != got) {
      throw EWriteError(SysConst::SWriteError);
    }
  }
  destFile.Complete();
}
