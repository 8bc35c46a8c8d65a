#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace {
// The most that one plain Read or Write is asked for.
constexpr int64_t MaxTransfer = int64_t{1} << 30;
}  // namespace

void TStream::ReadBuffer(void* buffer, int64_t count) {
  // A plain read may deliver less than asked without being at the end (a pipe, say); only a
  // read that delivers nothing ends the data.
  auto* p = static_cast<uint8_t*>(buffer);
  for (int64_t done = 0; done < count;) {
    const auto piece = static_cast<int32_t>(std::min(count - done, MaxTransfer));
    const int32_t got = Read(p + done, piece);
    if (got <= 0) throw EReadError(SysConst::SReadError);
    done += got;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  for (int64_t done = 0; done < count;) {
    const auto piece = static_cast<int32_t>(std::min(count - done, MaxTransfer));
    if (Write(p + done, piece) != piece) throw EWriteError(SysConst::SWriteError);
    done += piece;
  }
}

int64_t TStream::Position() { return Seek(0, TSeekOrigin::soCurrent); }

void TStream::SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t /*newSize*/) { throw EStreamError("Stream cannot change its size"); }

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  constexpr int32_t MaxBufSize = 0xF000;
  if (count <= 0) return 0;
  int32_t bufSize = static_cast<int32_t>(std::min<int64_t>(count, MaxBufSize));
  std::vector<uint8_t> buffer(static_cast<std::size_t>(bufSize));
  int64_t left = count;
  while (left > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(left, bufSize));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// --- THandleStream -----------------------------------------------------------------------------

int32_t THandleStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int32_t got = FileRead(FHandle, buffer, count);
  return got < 0 ? 0 : got;
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int32_t put = FileWrite(FHandle, buffer, count);
  return put < 0 ? 0 : put;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FileSeek(FHandle, offset, static_cast<int>(origin));
}

void THandleStream::SetSize(int64_t newSize) {
  if (!FileTruncate(FHandle, newSize)) throw EStreamError("Cannot change the size of a file");
  if (Position() > newSize) Seek(newSize, TSeekOrigin::soBeginning);
}

// --- TFileStream -------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : THandleStream(InvalidHandle), FFileName(fileName) {
  if (mode == fmCreate) {
    FHandle = FileCreate(fileName);
    if (FHandle == InvalidHandle) {
      throw EFCreateError(Format(SysConst::SFCreateError, {fileName}), LastOsErrorText());
    }
    return;
  }
  TFileAccess access = TFileAccess::Read;
  switch (mode & 0x3) {
    case fmOpenWrite:
      access = TFileAccess::Write;
      break;
    case fmOpenReadWrite:
      access = TFileAccess::ReadWrite;
      break;
    default:
      break;
  }
  FHandle = FileOpen(fileName, access);
  if (FHandle == InvalidHandle) {
    throw EFOpenError(Format(SysConst::SFOpenError, {fileName}), LastOsErrorText());
  }
}

TFileStream::TFileStream(std::string fileName, THandle handle)
    : THandleStream(handle), FFileName(std::move(fileName)) {}

TFileStream::~TFileStream() { CloseHandle(); }

void TFileStream::CloseHandle() {
  FileClose(FHandle);
  FHandle = InvalidHandle;
}

// --- TMemoryStream -----------------------------------------------------------------------------

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition >= Size()) return 0;
  int64_t n = std::min<int64_t>(count, Size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int64_t end = FPosition + count;
  if (end > Size()) SetSize(end);
  std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning:
      base = 0;
      break;
    case TSeekOrigin::soCurrent:
      base = FPosition;
      break;
    case TSeekOrigin::soEnd:
      base = Size();
      break;
  }
  int64_t target = base + offset;
  if (target < 0) return -1;
  // Seeking past the end is allowed; the gap is filled when something is written there.
  FPosition = target;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  try {
    if (static_cast<uint64_t>(newSize) > FData.capacity()) {
      // Grow geometrically so that a stream written piece by piece is not copied each time.
      FData.reserve(std::max<std::size_t>(static_cast<std::size_t>(newSize), FData.capacity() * 2));
    }
    FData.resize(static_cast<std::size_t>(newSize));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(SysConst::SOutOfMemory);
  } catch (const std::length_error&) {
    throw EOutOfMemory(SysConst::SOutOfMemory);
  }
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  int64_t size = file.Size();
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
    throw EReadError(SysConst::SReadError);
  }
  SetSize(size);
  FPosition = 0;
  file.ReadBuffer(FData.data(), static_cast<int32_t>(size));
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmCreate);
  file.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

// --- TReadOnlyMemoryStream ---------------------------------------------------------------------

int32_t TReadOnlyMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition >= FSize) return 0;
  const int64_t n = std::min<int64_t>(count, FSize - FPosition);
  std::memcpy(buffer, FData + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soCurrent ? FPosition
                       : origin == TSeekOrigin::soEnd   ? FSize
                                                        : 0;
  if (base + offset < 0) return -1;
  FPosition = base + offset;
  return FPosition;
}

// --- TReplacingFileStream ----------------------------------------------------------------------

TReplacingFileStream::TNewFile TReplacingFileStream::CreateBeside(const std::string& target) {
  TNewFile file;
  file.Handle = CanReplace(target) ? FileCreateBeside(target, file.Name) : InvalidHandle;
  if (file.Handle == InvalidHandle) {
    throw EFCreateError(Format(SysConst::SFCreateError, {target}), LastOsErrorText());
  }
  return file;
}

TReplacingFileStream::TReplacingFileStream(const std::string& target)
    : TReplacingFileStream(target, CreateBeside(target)) {}

TReplacingFileStream::TReplacingFileStream(const std::string& target, TNewFile file)
    : TFileStream(std::move(file.Name), file.Handle),
      FTarget(target),
      FListed(FileName(), Handle()) {}

TReplacingFileStream::~TReplacingFileStream() {
  if (FDone) return;
  FListed.Reset();
  DeleteFileIfSame(FileName(), Handle());
}

void TReplacingFileStream::Commit() {
  if (FDone) throw EWriteError(SysConst::SWriteError);
  // Complete on the medium before it takes the target's name; a failure here leaves the new file
  // to the destructor.
  if (!FileFlush(Handle())) throw EWriteError(SysConst::SWriteError, LastOsErrorText());
  // Closed before the rename: a system may refuse to rename a file that is open.
  FListed.Reset();
  CloseHandle();
  FDone = true;
  if (!ReplaceFile(FileName(), FTarget)) {
    const std::string reason = LastOsErrorText();
    DeleteFile(FileName());
    throw EFCreateError(Format(SysConst::SFCreateError, {FTarget}), reason);
  }
}
