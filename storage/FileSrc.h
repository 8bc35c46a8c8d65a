// Files carried inside a form description: the "PMCS10" compressed stream container
// (TCompressStream) and the component that packs and unpacks a file (TFileSource).
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "FileServices.h"
#include "Streams.h"
#include "SysUtils.h"
#include "TempFiles.h"

// Which encoder packs the blocks of a container. Both write the same block format, so the
// choice changes only the size of the container and the time it takes to make; every reader of
// the format unpacks either.
enum class TBlockEncoder {
  beGreedy,   // CompressBlock of LZRW1KH.h: one pass, fast; the default
  beOptimal,  // TOptimalEncoder of OptimalEncoder.h: smaller blocks, packing far slower
};

// Packs a byte stream into one "PMCS10" container and unpacks it again.
//
// Layout, little-endian: the six signature bytes "PMCS10"; a signed 32-bit total, the number of
// bytes that follow it; then blocks, each a 32-bit length (1 to 32,784) and one LZRW1-KH block
// made from a chunk of at most 32,783 input bytes. An instance holds no state but its signature
// and the encoder that CompressStream uses; each call allocates its buffers (and the optimal
// encoder's working memory) once and frees them on every path.
class TCompressStream : public TObject {
 public:
  static constexpr int32_t ChunkSize = 32783;     // input bytes per block
  static constexpr int32_t MaxBlockSize = 32784;  // the copied form of a full chunk

  TCompressStream();

  // Reads count bytes from source's position and writes one container at dest's position; dest
  // must allow its position to be read and set (the total is patched in at the end). Leaves dest
  // at the end of the container. A count of 0 or less gives the empty 10-byte container.
  // Raises EReadError "Stream read error" when source runs dry while count is still above 0,
  // EWriteError "Stream write error" when dest takes less than it is given, and EWriteError
  // "Compressed data too large for one container" when the total would not fit its signed
  // 32-bit field (a count close to 2 GiB of incompressible data).
  void CompressStream(TStream& source, TStream& dest, int32_t count);

  // Reads one container from source's position and writes the unpacked bytes at dest's
  // position, leaving source right after the last block read. Raises Exception "Wrong file type"
  // when the signature does not match (nothing written), EReadError "Stream read error" when
  // source ends early, an EReadError of its own message for a damaged block, and EWriteError
  // when dest takes less than it is given. What was written before a failure stays written.
  void DecompressStream(TStream& source, TStream& dest);

  const char (&Signature() const)[6] { return FSignature; }

  // The encoder of CompressStream's blocks; beGreedy unless set.
  TBlockEncoder Encoder() const { return FEncoder; }
  void SetEncoder(TBlockEncoder value) { FEncoder = value; }

 private:
  char FSignature[6];
  TBlockEncoder FEncoder = TBlockEncoder::beGreedy;
};

// A non-visual component that carries one file inside a form description, as its binary
// property "FileData".
//
// Writing a description, it packs the file that FileName names (plain, or as one container when
// Compress is True). Reading one, it unpacks "FileData" into a new file in the user's temporary
// folder, the temporary extraction file, which it owns from then on: FileName names it, and the
// component deletes it when it is destroyed or when FileName is assigned. A file named through
// FileName is never deleted.
//
// The component keeps its extraction file open from its creation to its deletion and writes it
// through that handle, never by name. Whatever it does with the file afterwards goes by that
// handle too: it deletes the name only while the name is still that file, FileName reads empty
// once the name stands for another file, and TempFileHandle() lets a move take exactly that file.
// So in a temporary folder that others can write, nobody can have the component write, install
// or delete a file of theirs. While the file is open it is also in the process-wide list of
// TempFiles.h, so that a signal that ends the program deletes it.
//
// The plain layout of "FileData" is a 32-bit little-endian size N (at most 2,147,483,647) and
// the N bytes; the container layout is one container of TCompressStream. Nothing in the value
// says which layout it has: Compress decides.
class TFileSource : public TComponent {
  TAVRIX_CLASS(TFileSource)

 public:
  explicit TFileSource(TComponent* owner);
  // Deletes the temporary extraction file, if the component owns one and it is still there.
  ~TFileSource() override;

  bool Compress() const { return FCompress; }
  // True also sets Store; False leaves Store as it is.
  void SetCompress(bool value);
  const std::string& DisplayLabel() const { return FDisplayLabel; }
  void SetDisplayLabel(const std::string& value) { FDisplayLabel = value; }
  const std::string& Extension() const { return FExtension; }
  void SetExtension(const std::string& value) { FExtension = value; }
  // The held file name if a file (not a folder) of that name exists now, else empty. For the
  // own temporary extraction file, the name must still stand for the file that the component
  // holds open.
  std::string FileName() const;
  // Deletes the temporary extraction file the component owns (even when value names it), then
  // holds value as a file of the user's and takes Extension from it: from its last "." to the
  // end, or empty when a "/" comes after the last "." or there is no ".".
  void SetFileName(const std::string& value);
  bool Store() const { return FStore; }
  void SetStore(bool value) { FStore = value; }
  // The encoder with which WriteFileData packs a compressed file; beGreedy unless set. Not a
  // property: form descriptions neither hold nor set it, and reading never needs it.
  TBlockEncoder Encoder() const { return FEncoder; }
  void SetEncoder(TBlockEncoder value) { FEncoder = value; }

  // The held file name whether or not the file exists, and whether it is the component's own.
  const std::string& HeldFileName() const { return FFileName; }
  bool OwnsTempFile() const { return FOwnsTempFile; }
  // The open handle of the own temporary extraction file, InvalidHandle when there is none. It
  // stays the component's: pass it to MoveFileTo so that the move takes exactly this file.
  THandle TempFileHandle() const { return FTempFile.Get(); }

  // Unpacks the whole "FileData" value (source positioned at 0) into a new temporary extraction
  // file. The name is recorded and owned before anything can fail, so a file that a failure
  // leaves behind still goes with the component. An earlier temporary extraction file of this
  // component is deleted first. Raises EFOpenError "Cannot open file %s" with the candidate name
  // when the temporary folder cannot take the file, EFCreateError when every candidate name is
  // taken (see MakeTempFileName), EReadError "Stream read error" when the value ends early (or,
  // plain, holds a size of 2 GiB or more), Exception "Wrong file type" when a container does not
  // start with its signature, EWriteError when the disk takes less than it is given.
  virtual void ReadFileData(TStream& source);
  // Packs the held file into dest. Raises Exception "<Name> cannot store file: <file> (file is
  // missing)" when no file of the held name exists (nothing is written), EFOpenError when it
  // cannot be opened, EWriteError when dest takes less than it is given.
  virtual void WriteFileData(TStream& dest);

  // Picks "~fs" + the current second + a counter + Extension in the temporary folder and creates
  // that file, empty and private to the user, only where no entry of the name exists: an entry
  // of any kind (a file, a folder, a link, a pipe) moves on to the next counter, and nothing is
  // ever created through a link. The file is closed again; the caller owns it. When the folder
  // cannot take a file, the name comes back all the same and its use fails. Raises EFCreateError
  // "Cannot create file %s" (with the first candidate) when the first MaxTempNameAttempts
  // counters are all taken.
  std::string MakeTempFileName();
  // Deletes the owned temporary extraction file if its name still stands for the file that the
  // component created, and closes it; the outcome is ignored and neither the name nor the
  // ownership changes.
  void DeleteTempFile();

  // How many counters MakeTempFileName tries within one second.
  static constexpr int MaxTempNameAttempts = 10000;

  void DefineProperties(TFiler& filer) override;

 private:
  bool IsFileNameStored() const { return !FStore; }
  // MakeTempFileName's work: the name, and in file the created file, left open (not valid when
  // the folder cannot take a file).
  std::string MakeTempFile(TFileHandle& file);

  bool FCompress = false;
  std::string FDisplayLabel;
  std::string FExtension;
  std::string FFileName;
  bool FStore = false;
  bool FOwnsTempFile = false;
  TBlockEncoder FEncoder = TBlockEncoder::beGreedy;
  // The own temporary extraction file, open while the component owns it; its listing goes first.
  TFileHandle FTempFile;
  TTempFileRegistration FTempListed;
};
