#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count <= 0) return;
  // A plain read may deliver less than asked without being at the end (a pipe, say); only a
  // read that delivers nothing ends the data.
  auto* p = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t got = Read(p + done, count - done);
    if (got <= 0) throw EReadError(SysConst::SReadError);
    done += got;
  }
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count <= 0) return;
  if (Write(buffer, count) != count) throw EWriteError(SysConst::SWriteError);
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

// --- TFileStream -------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  if (mode == fmCreate) {
    FHandle = FileCreate(fileName);
    if (FHandle == InvalidHandle) throw EFCreateError(Format(SysConst::SFCreateError, {fileName}));
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
  if (FHandle == InvalidHandle) throw EFOpenError(Format(SysConst::SFOpenError, {fileName}));
}

TFileStream::~TFileStream() {
  if (FHandle != InvalidHandle) FileClose(FHandle);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t got = FileRead(FHandle, buffer, count);
  return got < 0 ? 0 : got;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t put = FileWrite(FHandle, buffer, count);
  return put < 0 ? 0 : put;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FileSeek(FHandle, offset, static_cast<int>(origin));
}

void TFileStream::SetSize(int64_t newSize) {
  if (!FileTruncate(FHandle, newSize)) throw EStreamError("Cannot change the size of " + FFileName);
  if (Position() > newSize) Seek(newSize, TSeekOrigin::soBeginning);
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
  file.WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
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
