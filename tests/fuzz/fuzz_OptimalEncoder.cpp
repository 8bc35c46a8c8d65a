// Packs arbitrary bytes with the optimal encoder and unpacks them with the one decoder there is.
//
// As one block (the first 65,534 bytes at most): the block goes into an area of exactly the
// promised input size + 1, a heap allocation that AddressSanitizer watches, must decode to the
// input, and must not be more than one byte larger than the greedy encoder's block. The encoder
// is kept from one input to the next, as a container keeps it from chunk to chunk. As a
// container: packing with the optimal encoder and unpacking must give the input back and
// consume exactly the container.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FileSrc.h"
#include "LZRW1KH.h"
#include "OptimalEncoder.h"
#include "Streams.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return -1;
  static TOptimalEncoder encoder;

  const auto n = static_cast<uint16_t>(std::min<size_t>(size, TOptimalEncoder::MaxSourceSize));
  const auto input = std::make_unique<uint8_t[]>(n + 1u);  // never empty, so always a pointer
  if (n != 0) std::memcpy(input.get(), data, n);
  const auto block = std::make_unique<uint8_t[]>(n + 1u);
  const uint16_t blockSize = encoder.CompressBlock(input.get(), block.get(), n);
  if (blockSize < 1 || blockSize > n + 1u) Fail("block size out of range");
  const auto output = std::make_unique<uint8_t[]>(n + 1u);
  const uint16_t restored = DecompressBlock(block.get(), output.get(), blockSize, n);
  if (restored != n || (n != 0 && std::memcmp(output.get(), data, n) != 0)) {
    Fail("block round trip lost the input");
  }
  const auto greedy = std::make_unique<uint8_t[]>(n + LZRW1KH::CompressSlack);
  if (blockSize > CompressBlock(input.get(), greedy.get(), n) + 1u) {
    Fail("block larger than the greedy encoder's by more than a byte");
  }

  TMemoryStream source, packed, unpacked;
  source.WriteBuffer(data, static_cast<int32_t>(size));
  source.SetPosition(0);
  TCompressStream container;
  container.SetEncoder(TBlockEncoder::beOptimal);
  container.CompressStream(source, packed, static_cast<int32_t>(size));
  const int64_t packedSize = packed.Size();
  packed.SetPosition(0);
  TCompressStream().DecompressStream(packed, unpacked);
  if (packed.Position() != packedSize) Fail("container not consumed exactly");
  if (unpacked.Size() != static_cast<int64_t>(size) ||
      (size != 0 && std::memcmp(unpacked.Memory(), data, size) != 0)) {
    Fail("container round trip lost the input");
  }
  return 0;
}
