// Byte streams: the abstract TStream, TFileStream over a file opened by name, TMemoryStream, and
// TReadOnlyMemoryStream over bytes that it does not own.
//
// A stream has a position and a size. Read and Write are the plain operations (they move what
// they can and say how much); ReadBuffer and WriteBuffer are exact and raise EReadError
// "Stream read error" / EWriteError "Stream write error" when the stream takes or gives less.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileServices.h"
#include "SysUtils.h"
#include "TempFiles.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  ~TStream() override = default;

  // Reads up to count bytes into buffer; returns how many came, 0 at the end of the data or
  // when the read fails. A count of 0 or less reads nothing.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Writes up to count bytes; returns how many were taken (less when the medium is full).
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Moves the position and returns the new one; -1 when the stream cannot seek there.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  // Exactly count bytes or EReadError "Stream read error". A count of 0 or less does nothing.
  // Counts of 2 GiB and more are moved in pieces that Read can take.
  void ReadBuffer(void* buffer, int64_t count);
  // Exactly count bytes or EWriteError "Stream write error". A count of 0 or less does nothing.
  // Counts of 2 GiB and more are moved in pieces that Write can take.
  void WriteBuffer(const void* buffer, int64_t count);

  int64_t Position();
  void SetPosition(int64_t position);
  virtual int64_t Size();
  // Changes the size; the default raises EStreamError for streams that cannot do it.
  virtual void SetSize(int64_t newSize);

  // Copies exactly count bytes from source's position to this stream's position, in pieces;
  // raises EReadError when source ends early and EWriteError when this stream takes less.
  // Returns count. A count of 0 copies nothing.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over an open file handle that it does not own: the caller keeps the handle open for
// the stream's life and closes it.
class THandleStream : public TStream {
 public:
  explicit THandleStream(THandle handle) : FHandle(handle) {}

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Raises EStreamError when the file's size cannot be changed.
  void SetSize(int64_t newSize) override;

  THandle Handle() const { return FHandle; }

 protected:
  THandle FHandle = InvalidHandle;
};

// A stream over a file opened by name. The handle is closed by the destructor. A failed open or
// create carries the system's reason as the exception's Reason().
class TFileStream : public THandleStream {
 public:
  // Modes: fmOpenRead (0) opens an existing file for reading, fmOpenWrite (1) an existing file
  // for writing, fmOpenReadWrite (2) for both; none of them truncates. fmCreate makes the file,
  // replacing the contents of an existing one, open for reading and writing.
  // A failed open raises EFOpenError "Cannot open file %s", a failed create EFCreateError
  // "Cannot create file %s", both with fileName as given.
  static constexpr uint16_t fmOpenRead = 0x0000;
  static constexpr uint16_t fmOpenWrite = 0x0001;
  static constexpr uint16_t fmOpenReadWrite = 0x0002;
  static constexpr uint16_t fmCreate = 0xFFFF;

  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;

  const std::string& FileName() const { return FFileName; }

 protected:
  // A stream over a file that the derived class opened; it is closed by the destructor.
  TFileStream(std::string fileName, THandle handle);
  // Closes the handle now.
  void CloseHandle();

 private:
  std::string FFileName;
};

// A file stream that stands for a new version of the file target: it writes a new file beside
// target (FileCreateBeside) and only Commit puts that file in target's place, complete and flushed,
// in one rename. Until then target is untouched, whatever happens; a stream destroyed without
// Commit deletes its file, and while the stream is open the file is in the list of TempFiles.h, so
// that a signal that ends the program deletes it too. The new file is private to its owner.
//
// This is how the program writes every file that it puts in place of one that may exist: an
// installed program, and the outputs of mksetup.
class TReplacingFileStream : public TFileStream {
 public:
  // Raises EFCreateError "Cannot create file %s" with target when target cannot be replaced (it
  // is a folder, a link, a pipe, a device, read-only or a running program: see CanReplace) or no
  // file can be made beside it (its folder is missing or refuses); the exception's Reason() gives
  // the system's reason.
  explicit TReplacingFileStream(const std::string& target);
  // Without Commit: closes and deletes the new file; target stays as it was.
  ~TReplacingFileStream() override;

  // Flushes and closes the new file and renames it over target. Raises EWriteError "Stream write
  // error" when the flush or the close fails (a full medium shows here at the latest), and
  // EFCreateError with target when target can no longer be replaced; the new file is deleted
  // then and target stays as it was. After Commit the stream can no longer be used.
  void Commit();

  const std::string& Target() const { return FTarget; }

 private:
  struct TNewFile {
    std::string Name;
    THandle Handle = InvalidHandle;
  };
  static TNewFile CreateBeside(const std::string& target);
  TReplacingFileStream(const std::string& target, TNewFile file);

  std::string FTarget;
  bool FDone = false;  // committed, or given up by a failed Commit that removed the file itself
  // Declared last, so that it goes first, while the handle is still open.
  TTempFileRegistration FListed;
};

// A stream held in memory, growing as it is written.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  // Raises EOutOfMemory when the memory cannot be had.
  void SetSize(int64_t newSize) override;

  void Clear();
  // Replaces the contents with the whole of a file, positioned at 0.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  const uint8_t* Memory() const { return FData.data(); }
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A stream that reads, in place, bytes that it does not own (a program resource, or a value
// inside a form description that is itself in memory), so that they need not be copied first.
// The bytes must outlive the stream. It cannot be written or resized: Write takes nothing, so
// WriteBuffer raises EWriteError, and SetSize raises EStreamError.
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, int64_t size)
      : FData(static_cast<const uint8_t*>(data)), FSize(size < 0 ? 0 : size) {}

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* /*buffer*/, int32_t /*count*/) override { return 0; }
  // Seeking past the end is allowed, as for TMemoryStream; reading there gives nothing.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }

  const uint8_t* Memory() const { return FData; }

 private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPosition = 0;
};
