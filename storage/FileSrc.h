// Files carried inside a form description: the "PMCS10" compressed stream container
// (TCompressStream) and the component that packs and unpacks a file (TFileSource).
#pragma once

#include <cstdint>
#include <string>

#include "Streams.h"
#include "SysUtils.h"

// Packs a byte stream into one "PMCS10" container and unpacks it again.
//
// Layout, little-endian: the six signature bytes "PMCS10"; a signed 32-bit total, the number of
// bytes that follow it; then blocks, each a 32-bit length (1 to 32,784) and one LZRW1-KH block
// made from a chunk of at most 32,783 input bytes. An instance holds no state but its signature;
// each call allocates its two buffers once and frees them on every path.
class TCompressStream : public TObject {
 public:
  static constexpr int32_t ChunkSize = 32783;       // input bytes per block
  static constexpr int32_t MaxBlockSize = 32784;    // the copied form of a full chunk

  TCompressStream();

  // Reads count bytes from source's position and writes one container at dest's position; dest
  // must allow its position to be read and set (the total is patched in at the end). Leaves dest
  // at the end of the container. A count of 0 or less gives the empty 10-byte container.
  // Raises EReadError "Stream read error" when source runs dry while count is still above 0, and
  // EWriteError "Stream write error" when dest takes less than it is given.
  void CompressStream(TStream& source, TStream& dest, int32_t count);

  // Reads one container from source's position and writes the unpacked bytes at dest's
  // position, leaving source right after the last block read. Raises Exception "Wrong file type"
  // when the signature does not match (nothing written), EReadError "Stream read error" when
  // source ends early, an EReadError of its own message for a damaged block, and EWriteError
  // when dest takes less than it is given. What was written before a failure stays written.
  void DecompressStream(TStream& source, TStream& dest);

  const char (&Signature() const)[6] { return FSignature; }

 private:
  char FSignature[6];
};
