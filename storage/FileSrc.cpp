#include "FileSrc.h"

#include <cstring>
#include <limits>
#include <memory>

#include "LZRW1KH.h"

namespace {

void WriteLong(TStream& dest, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  dest.WriteBuffer(bytes, 4);
}

uint32_t ReadLong(TStream& source) {
  uint8_t bytes[4];
  source.ReadBuffer(bytes, 4);
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

TCompressStream::TCompressStream() : FSignature{'P', 'M', 'C', 'S', '1', '0'} {}

void TCompressStream::CompressStream(TStream& source, TStream& dest, int32_t count) {
  dest.WriteBuffer(FSignature, sizeof FSignature);
  const int64_t totalPosition = dest.Position();
  WriteLong(dest, 0);
  int64_t total = 0;
  if (count > 0) {
    const auto chunk = std::make_unique<uint8_t[]>(ChunkSize);
    const auto block = std::make_unique<uint8_t[]>(ChunkSize + LZRW1KH::CompressSlack);
    while (count > 0) {
      // Always a full chunk: the count only decides how many chunks are read.
      const int32_t got = source.Read(chunk.get(), ChunkSize);
      if (got <= 0) throw EReadError(SysConst::SReadError);
      const uint16_t length = CompressBlock(chunk.get(), block.get(), static_cast<uint16_t>(got));
      total += 4 + length;
      if (total > std::numeric_limits<int32_t>::max()) {
        throw EWriteError("Compressed data too large for one container");
      }
      WriteLong(dest, length);
      dest.WriteBuffer(block.get(), length);
      count -= got;
    }
  }
  const int64_t endPosition = dest.Position();
  dest.SetPosition(totalPosition);
  WriteLong(dest, static_cast<uint32_t>(total));
  dest.SetPosition(endPosition);
}

void TCompressStream::DecompressStream(TStream& source, TStream& dest) {
  char signature[sizeof FSignature];
  source.ReadBuffer(signature, sizeof signature);
  if (std::memcmp(signature, FSignature, sizeof signature) != 0) {
    throw Exception("Wrong file type");
  }
  int32_t total = static_cast<int32_t>(ReadLong(source));
  if (total <= 0) return;
  const auto block = std::make_unique<uint8_t[]>(MaxBlockSize);
  const auto output = std::make_unique<uint8_t[]>(ChunkSize);
  while (total > 0) {
    const uint32_t length = ReadLong(source);
    if (length > static_cast<uint32_t>(MaxBlockSize)) {
      throw EReadError(Format("Damaged compressed stream: block length %s is larger than %d",
                              {static_cast<unsigned long>(length), MaxBlockSize}));
    }
    source.ReadBuffer(block.get(), static_cast<int32_t>(length));
    const uint16_t n = DecompressBlock(block.get(), output.get(), static_cast<uint16_t>(length),
                                       static_cast<uint16_t>(ChunkSize));
    dest.WriteBuffer(output.get(), n);
    total -= static_cast<int32_t>(length) + 4;
  }
}
