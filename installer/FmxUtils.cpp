#include "FmxUtils.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "FileServices.h"
#include "Streams.h"

namespace {

constexpr const char* SFCantMove = "Cannot move file %s";

std::string ExtractFileName(const std::string& path) {
  const auto lastDelim = std::find_if(path.rbegin(), path.rend(), IsPathDelimiter);
  return std::string(lastDelim.base(), path.end());
}

}  // namespace

bool FileHasAttributes(const std::string& path, uint16_t mask) {
  const uint32_t wideMask = mask;
  return (GetFileAttributes(path) & wideMask) == wideMask;
}

void MoveFileTo(const std::string& source, const std::string& dest, THandle opened) {
  const std::string fullDest = GetFullPathName(dest);
  if (MoveFile(source, fullDest, opened)) return;
  const std::string reason = LastOsErrorText();
  // A source that cannot be examined counts as read-only here, so a missing or empty source
  // ends in this message too rather than in a failed open.
  if (FileHasAttributes(source, faReadOnly)) {
    throw EFCantMove(Format(SFCantMove, {source}), reason);
  }
  CopyFileTo(source, fullDest, opened);
}

void CopyFileTo(const std::string& source, const std::string& dest, THandle opened) {
  std::string fullDest = GetFullPathName(dest);
  // An empty destination names no folder; lengthening it would aim the copy at the root.
  if (!fullDest.empty() && FileHasAttributes(fullDest, faDirectory)) {
    if (!IsPathDelimiter(fullDest.back())) fullDest += PathDelim;
    fullDest += ExtractFileName(source);
  }

  // Declared in this order so that they go in the reverse one on every path: the destination is
  // closed (and, unless complete, removed) first, then the source, then the buffer is freed.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[CopyChunkSize]);
  if (!buffer) throw EOutOfMemory(SysConst::SOutOfMemory);

  TFileHandle ownSource(opened == InvalidHandle ? FileOpen(source, TFileAccess::Read)
                                                : InvalidHandle);
  if (opened == InvalidHandle && !ownSource.Valid()) {
    throw EFOpenError(Format(SysConst::SFOpenError, {source}), LastOsErrorText());
  }
  const THandle sourceFile = opened == InvalidHandle ? ownSource.Get() : opened;
  if (FileSeek(sourceFile, 0, 0) != 0) throw EReadError(SysConst::SReadError, LastOsErrorText());

  // The copy would empty the source were it the destination under another name (or the same
  // one); it is refused as a file in use.
  if (SameFile(sourceFile, fullDest)) {
    throw EFCreateError(Format(SysConst::SFCreateError, {fullDest}));
  }
  TReplacingFileStream destFile(fullDest);

  // A read that gives fewer bytes than asked is not taken for the end: FileRead hands back what
  // it got before a failure, and only the next read reports the failure. Reading on until a read
  // gives nothing costs one read at the end and keeps a failing source from passing for a short
  // one.
  for (;;) {
    const int32_t got = FileRead(sourceFile, buffer.get(), CopyChunkSize);
    if (got < 0) throw EReadError(SysConst::SReadError, LastOsErrorText());
    if (got == 0) break;
    destFile.WriteBuffer(buffer.get(), got);
  }
  destFile.Commit();
}
