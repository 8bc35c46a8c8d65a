// Feeds arbitrary bytes to DecompressBlock, and the same bytes through a CompressBlock round trip.
//
// The first two bytes (little-endian) are the output area's capacity, the rest is the block.
// Block and output area are heap allocations of exactly their size, so AddressSanitizer sees
// any access beyond either. A block may only decode or fail with EReadError, and the capacity
// must not change what it decodes to: a block that decodes into the given area decodes to the
// same bytes into the largest one, and a block whose output fits the given area decodes into
// it. The whole input, compressed as one chunk, must decode to itself.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "LZRW1KH.h"

namespace {

using TBytes = std::vector<uint8_t>;

constexpr size_t ChunkSize = 32783;

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The output, or nothing when the block is refused as damaged.
std::optional<TBytes> Decode(const TBytes& block, uint16_t capacity) {
  const auto area = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  try {
    const uint16_t n =
        DecompressBlock(block.data(), area.get(), static_cast<uint16_t>(block.size()), capacity);
    if (n > capacity) Fail("output size beyond the capacity");
    return TBytes(area.get(), area.get() + n);
  } catch (const EReadError&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 2) {
    const uint16_t capacity = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const TBytes block(data + 2, data + 2 + std::min<size_t>(size - 2, 0xFFFF));
    const std::optional<TBytes> given = Decode(block, capacity);
    const std::optional<TBytes> largest = Decode(block, 0xFFFF);
    if (given && (!largest || *largest != *given)) Fail("the capacity changed the output");
    if (largest && largest->size() <= capacity && !given) Fail("a fitting output was refused");
  }

  const TBytes input(data, data + std::min(size, ChunkSize));
  TBytes packed(input.size() + LZRW1KH::CompressSlack);
  const uint16_t packedSize =
      CompressBlock(input.data(), packed.data(), static_cast<uint16_t>(input.size()));
  if (packedSize < 1 || packedSize > input.size() + 1) Fail("block size out of range");
  packed.resize(packedSize);
  const std::optional<TBytes> restored = Decode(packed, static_cast<uint16_t>(input.size()));
  if (!restored || *restored != input) Fail("round trip lost the input");
  return 0;
}
